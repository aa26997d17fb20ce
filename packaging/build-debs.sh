#!/usr/bin/env bash
# Builds the Debian packages of scanoutsnap with dpkg-buildpackage from the
# repository's HEAD (committed work only): amd64 natively with its unit and
# process tests, arm64 cross-built on the same amd64 machine. Checks them with
# lintian, installs the amd64 one and runs it.
#
#   packaging/build-debs.sh [ARCH...]     (default: amd64 arm64)
#
# The packages, their -dbgsym packages and .buildinfo files go to
# build-packages/debs/. Installs what it needs from Debian's archive (run as
# root or with sudo). Fails on any lintian warning, any groff warning on the
# manual page, a sudoers example that visudo refuses, or an installed tool
# that does not behave. Environment: KEEP_INSTALLED=1 leaves the amd64
# package installed.
set -euo pipefail

cd "$(dirname "$0")/.."
repo=$PWD
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# shellcheck source=scripts/lib/install-missing.sh
source scripts/lib/install-missing.sh
# shellcheck source=packaging/lib.sh
source packaging/lib.sh

step() { printf '\n== %s\n' "$*"; }
fail() {
  echo "build-debs: $*" >&2
  exit 1
}

native=$(debs_native_arch)
arches=("$@")
((${#arches[@]} > 0)) || arches=("$native" arm64)
# The conditions the reproducibility check varies: fixed here, so that its
# rebuild differs from this build whatever the caller's settings.
umask 0022
export DEB_BUILD_OPTIONS=parallel=2

# lintian checks the packages, sudo brings visudo, groff-base and man-db check
# the manual page, file tells the executables' architecture and readelf
# (binutils) the libraries they need.
step "packaging tools"
install_missing git dpkg-dev lintian sudo groff-base man-db file binutils

rm -rf "$DEBS_DIR"
mkdir -p "$DEBS_DIR"
for arch in "${arches[@]}"; do
  parent=build-packages/$arch
  tree=$parent/scanoutsnap
  step "$arch: build dependencies and dpkg-buildpackage in $tree"
  debs_clone "$parent" scanoutsnap
  debs_build_deps "$tree" "$arch"
  if [[ $arch == "$native" ]]; then
    # The source package once, from an upstream tarball of the same commit
    # without debian/: lintian checks it, and the version needs it.
    upstream=$(cd "$tree" && dpkg-parsechangelog -S Version | sed 's/-[^-]*$//')
    git -C "$tree" archive --format=tar.gz --prefix="scanoutsnap-$upstream/" \
      -o "../scanoutsnap_$upstream.orig.tar.gz" HEAD -- . ':(exclude)debian'
    (cd "$parent" && dpkg-source -b scanoutsnap)
  fi
  log=build-packages/build-$arch.log
  debs_build "$tree" "$arch" >"$log" 2>&1 ||
    { debs_show_failure "$log"; fail "dpkg-buildpackage for $arch failed (log $log)"; }
  grep -E '^dpkg-deb: building|tests passed|^Total Test time' "$log" || true

  step "$arch: lintian"
  shopt -s nullglob
  checked=("$parent"/*.changes "$parent"/*.dsc)
  shopt -u nullglob
  # lintian warns when run as root; its findings are what counts.
  lintian --fail-on error,warning --display-info "${checked[@]}" \
    2> >(grep -v '^running with root privileges' >&2) ||
    fail "lintian reports warnings or errors on ${checked[*]}"
  echo "lintian: no warning or error on ${checked[*]}"
  # The overridden tags with their comments. This lintian counts a shown
  # override towards --fail-on, so they are listed by a run of their own.
  lintian --fail-on none --show-overrides "${checked[@]}" 2>/dev/null | grep -E '^[ON]: ' || true
  mv "$parent"/*.deb "$parent"/*.buildinfo "$DEBS_DIR/"
done

# --- the packages ------------------------------------------------------------

for arch in "${arches[@]}"; do
  deb=$(echo "$DEBS_DIR"/scanoutsnap_*_"$arch".deb)
  [[ -f $deb ]] || fail "no $arch package in $DEBS_DIR"
  [[ -f $(echo "$DEBS_DIR"/scanoutsnap-dbgsym_*_"$arch".deb) ]] ||
    fail "no $arch -dbgsym package in $DEBS_DIR"
  step "checking $deb"
  dpkg-deb --info "$deb"
  dpkg-deb --contents "$deb" | tee "$work/contents"

  [[ $(dpkg-deb --field "$deb" Architecture) == "$arch" ]] || fail "$deb is not for $arch"
  dpkg-deb --fsys-tarfile "$deb" | tar -xO ./usr/bin/scanoutsnap >"$work/bin"
  # The executable needs exactly these libraries: anything more (a
  # sanitizer's runtime, a new library, the C++ runtime the tool is built not
  # to need) means a build that should not be shipped, or a list to update
  # here.
  # (arm64 programs also name the dynamic loader, which is libc's.)
  needed=$(readelf -d "$work/bin" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' |
    grep -v '^ld-linux' | sort | paste -sd' ')
  [[ $needed == "libc.so.6 libdrm.so.2 libpng16.so.16" ]] || fail "$deb: the executable needs $needed"
  # Its Depends come from dpkg-shlibdeps, each with a minimum version: those
  # of the packages that hold these libraries on this release (libpng16-16
  # on Debian 12, libpng16-16t64 on Debian 13), and nothing else.
  depends=$(dpkg-deb --field "$deb" Depends)
  owners=()
  for lib in $needed; do
    owner=$(dpkg-query -S "*/$lib" 2>/dev/null | sed -n "s/^\([^:,]*\):$arch: .*/\1/p" | sort -u)
    [[ $(wc -w <<<"$owner") -eq 1 ]] || fail "no one $arch package holds $lib: '$owner'"
    owners+=("$owner")
    [[ $depends =~ (^|, )"$owner"\ \(\>=\ [^\)]+\) ]] ||
      fail "$deb: Depends lacks a versioned $owner: $depends"
  done
  count=$(tr ',' '\n' <<<"$depends" | grep -c .)
  [[ $count -eq ${#owners[@]} ]] || fail "$deb: unexpected Depends: $depends"
  echo "Depends: $depends (the packages holding $needed)"

  for path in ./usr/bin/scanoutsnap \
    ./usr/share/man/man1/scanoutsnap.1.gz \
    ./usr/share/doc/scanoutsnap/copyright \
    ./usr/share/doc/scanoutsnap/changelog.Debian.gz \
    ./usr/share/doc/scanoutsnap/sudoers.example; do
    grep -q " $path\$" "$work/contents" || fail "$deb lacks $path"
  done
  case $arch in
  amd64) want='x86-64' ;;
  arm64) want='ARM aarch64' ;;
  *) want= ;;
  esac
  file -b "$work/bin" | grep -q "$want" || fail "$deb does not hold a $arch executable"
done

# --- documentation -----------------------------------------------------------

step "sudoers example"
visudo -cf doc/sudoers.example

step "manual page"
groff_out=$(groff -man -Tutf8 -ww -z doc/scanoutsnap.1 2>&1)
[[ -z $groff_out ]] || fail "groff warns on doc/scanoutsnap.1: $groff_out"
echo "groff -man -Tutf8 -ww -z: no warnings"

[[ " ${arches[*]} " == *" $native "* ]] || exit 0

step "cmake --install of the package's build directory"
# What a plain install gets: the program, the manual page and the sudoers
# example; the copyright and changelog files are the package's own.
cmake --install "build-packages/$native/scanoutsnap/obj-$(dpkg-architecture -qDEB_HOST_GNU_TYPE)" \
  --prefix "$work/prefix" >/dev/null
(cd "$work/prefix" && find . -type f | sort) >"$work/installed"
printf '%s\n' ./bin/scanoutsnap ./share/doc/scanoutsnap/sudoers.example \
  ./share/man/man1/scanoutsnap.1 >"$work/want"
diff "$work/want" "$work/installed" || fail "cmake --install installed other files"
cat "$work/installed"

# --- the installed amd64 package ---------------------------------------------

deb=$(echo "$DEBS_DIR"/scanoutsnap_*_"$native".deb)
step "installing $deb"
# Minimal images may exclude manual pages from installation; this one is the
# point of the check, so it is always unpacked.
as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -q \
  -o DPkg::Options::=--path-include=/usr/share/man/man1/scanoutsnap.1.gz \
  "$repo/$deb"
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
ls -l "$DEBS_DIR"
(cd "$DEBS_DIR" && sha256sum -- *.deb)
