#!/usr/bin/env bash
# Build the Debian packages of scanoutsnap for amd64 (from build/) and arm64
# (from the cross build in build-arm64/), check them, install the amd64 one
# and run it.
#
#   packaging/build-debs.sh
#
# Installs everything it needs from Debian's archive (run as root or with
# sudo). Fails on any lintian error, any groff warning on the manual page, a
# sudoers example that visudo refuses, or an installed tool that does not
# behave. Environment: KEEP_INSTALLED=1 leaves the amd64 package installed.
set -euo pipefail

cd "$(dirname "$0")/.."
repo=$PWD
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# shellcheck source=scripts/lib/install-missing.sh
source scripts/lib/install-missing.sh

step() { printf '\n== %s\n' "$*"; }
fail() {
  echo "build-debs: $*" >&2
  exit 1
}

# --- tools and builds --------------------------------------------------------

# The cross build installs the compilers and the amd64 and arm64 libraries
# (one apt-get call, so that both architectures get the same versions).
step "cross build for arm64"
scripts/cross-build-arm64.sh

step "packaging tools"
# lintian checks the packages, dpkg-dev brings dpkg-shlibdeps and
# dpkg-parsechangelog, sudo brings visudo, groff-base and man-db check the
# manual page.
tools=(dpkg-dev lintian sudo groff-base man-db gzip file)
install_missing "${tools[@]}"

step "native build"
cmake -S . -B build
cmake --build build --parallel "$(nproc)"

step "packages"
for dir in build build-arm64; do
  rm -f "$dir"/scanoutsnap_*.deb
  (cd "$dir" && cpack -G DEB)
done
amd64_deb=$(echo build/scanoutsnap_*_amd64.deb)
arm64_deb=$(echo build-arm64/scanoutsnap_*_arm64.deb)
[[ -f $amd64_deb ]] || fail "no amd64 package in build/"
[[ -f $arm64_deb ]] || fail "no arm64 package in build-arm64/"

# --- the packages ------------------------------------------------------------

changelog_version=$(dpkg-parsechangelog -l packaging/debian/changelog -S Version)
for deb in "$amd64_deb" "$arm64_deb"; do
  step "checking $deb"
  dpkg-deb --info "$deb"
  dpkg-deb --contents "$deb" | tee "$work/contents"

  version=$(dpkg-deb --field "$deb" Version)
  [[ $version == "$changelog_version" ]] ||
    fail "$deb has version $version, packaging/debian/changelog $changelog_version"

  # Dependencies come from dpkg-shlibdeps, each with a minimum version, and
  # are exactly these: anything more (a sanitizer's runtime, a new library,
  # the C++ runtime the tool is built not to need) means a build that should
  # not be shipped, or a list to update here.
  depends=$(dpkg-deb --field "$deb" Depends)
  for lib in libc6 libdrm2 libpng16-16; do
    [[ $depends =~ (^|, )"$lib"\ \(\>=\ [^\)]+\) ]] ||
      fail "$deb: Depends lacks a versioned $lib: $depends"
  done
  count=$(tr ',' '\n' <<<"$depends" | grep -c .)
  [[ $count -eq 3 ]] || fail "$deb: unexpected Depends: $depends"

  for path in ./usr/bin/scanoutsnap \
    ./usr/share/man/man1/scanoutsnap.1.gz \
    ./usr/share/doc/scanoutsnap/copyright \
    ./usr/share/doc/scanoutsnap/changelog.Debian.gz \
    ./usr/share/doc/scanoutsnap/sudoers.example; do
    grep -q " $path\$" "$work/contents" || fail "$deb lacks $path"
  done

  # lintian warns when run as root; its findings are what counts.
  lintian --fail-on error --display-info "$deb" ||
    fail "lintian reports errors on $deb"
done

[[ $(dpkg-deb --field "$amd64_deb" Architecture) == amd64 ]] ||
  fail "$amd64_deb is not for amd64"
[[ $(dpkg-deb --field "$arm64_deb" Architecture) == arm64 ]] ||
  fail "$arm64_deb is not for arm64"
dpkg-deb --fsys-tarfile "$arm64_deb" | tar -xO ./usr/bin/scanoutsnap >"$work/arm64-bin"
file -b "$work/arm64-bin" | grep -q 'ARM aarch64' ||
  fail "$arm64_deb does not hold an arm64 executable"

# --- documentation -----------------------------------------------------------

step "sudoers example"
visudo -cf doc/sudoers.example

step "manual page"
groff_out=$(groff -man -Tutf8 -ww -z doc/scanoutsnap.1 2>&1)
[[ -z $groff_out ]] || fail "groff warns on doc/scanoutsnap.1: $groff_out"
echo "groff -man -Tutf8 -ww -z: no warnings"

step "cmake --install"
cmake --install build --prefix "$work/prefix"
for path in bin/scanoutsnap share/man/man1/scanoutsnap.1.gz \
  share/doc/scanoutsnap/sudoers.example share/doc/scanoutsnap/copyright; do
  [[ -e $work/prefix/$path ]] || fail "cmake --install did not install $path"
done

# --- the installed amd64 package ---------------------------------------------

step "installing $amd64_deb"
# Minimal images may exclude manual pages from installation; this one is the
# point of the check, so it is always unpacked.
as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -q \
  -o DPkg::Options::=--path-include=/usr/share/man/man1/scanoutsnap.1.gz \
  "$repo/$amd64_deb"
[[ $(command -v scanoutsnap) == /usr/bin/scanoutsnap ]] ||
  fail "scanoutsnap is not /usr/bin/scanoutsnap after installation"

step "running the installed tool"
status=0
(cd "$work" && /usr/bin/scanoutsnap -d /nonexistent >"$work/out" 2>"$work/err") ||
  status=$?
printf 'scanoutsnap: open /nonexistent: No such file or directory\n' >"$work/want"
[[ $status -eq 101 ]] || fail "scanoutsnap -d /nonexistent ended with $status, not 101"
cmp -s "$work/err" "$work/want" ||
  fail "unexpected standard error: $(od -c "$work/err")"
[[ ! -s $work/out ]] || fail "scanoutsnap wrote to standard output"
echo "scanoutsnap -d /nonexistent: status 101, the open line, nothing else"

step "man scanoutsnap"
[[ $(man -w scanoutsnap) == /usr/share/man/man1/scanoutsnap.1.gz ]] ||
  fail "man does not find the installed page"
LC_ALL=C.UTF-8 MANWIDTH=80 MANPAGER=cat man scanoutsnap >"$work/man.txt" 2>"$work/man.err" ||
  fail "man scanoutsnap failed: $(cat "$work/man.err")"
[[ ! -s $work/man.err ]] || fail "man scanoutsnap printed: $(cat "$work/man.err")"
for heading in NAME SYNOPSIS DESCRIPTION OPTIONS 'EXIT STATUS' DIAGNOSTICS \
  ENVIRONMENT FILES SECURITY EXAMPLES; do
  grep -qx "$heading" "$work/man.txt" || fail "man scanoutsnap lacks $heading"
done
grep -q 'scanoutsnap: open device: error' "$work/man.txt" ||
  fail "man scanoutsnap does not render the diagnostics"
head -n 5 "$work/man.txt"
visudo -cf /usr/share/doc/scanoutsnap/sudoers.example

if [[ ${KEEP_INSTALLED:-0} != 1 ]]; then
  step "removing the package"
  as_root env DEBIAN_FRONTEND=noninteractive apt-get remove -y -q scanoutsnap
fi

step "done"
ls -l "$amd64_deb" "$arm64_deb"
