#!/usr/bin/env bash
# scripts/lib/install-missing.sh against a stubbed dpkg, dpkg-query and
# apt-get: what counts as installed for a name with and without an
# architecture, what install_missing and install_build_deps ask apt
# and dpkg to do.
set -euo pipefail
repo=$(cd "$(dirname "$0")/../.." && pwd)
stubs=$(mktemp -d)
trap 'rm -rf "$stubs"' EXIT

# The stubbed database: "package architecture status", one line each.
cat >"$stubs/db" <<'DB'
libdrm-dev arm64 installed
ca-certificates all installed
libpng-dev amd64 installed
libgtest-dev amd64 config-files
dpkg-dev all installed
build-essential amd64 installed
DB
cat >"$stubs/dpkg-query" <<'STUB'
#!/bin/sh
# dpkg-query -W -f=FORMAT NAME: the stub prints "architecture status".
name=$3
found=1
while read -r package arch status; do
    [ "$package" = "$name" ] && { echo "$arch $status"; found=0; }
done <"$STUBS/db"
exit $found
STUB
cat >"$stubs/dpkg" <<'STUB'
#!/bin/sh
case $1 in
--print-architecture) echo amd64 ;;
--print-foreign-architectures) cat "$STUBS/foreign" 2>/dev/null ;;
*) echo "dpkg $*" >>"$STUBS/calls" ;;
esac
STUB
# apt-get build-dep -s prints the plan in the file "plan" (none: apt fails, as
# without package lists); every other call is logged.
cat >"$stubs/apt-get" <<'STUB'
#!/bin/sh
if [ "$1 $2" = "build-dep -s" ]; then
    cat "$STUBS/plan" 2>/dev/null
    exit $?
fi
echo "apt-get $*" >>"$STUBS/calls"
STUB
printf '#!/bin/sh\necho 0\n' >"$stubs/id"  # as root: no sudo in the way
chmod +x "$stubs"/*
export STUBS=$stubs PATH=$stubs:$PATH

# shellcheck source=scripts/lib/install-missing.sh
source "$repo/scripts/lib/install-missing.sh"

failures=0
expect() { # expect WHAT WANTED ACTUAL
    if [[ $2 != "$3" ]]; then
        printf 'FAIL %s\n  wanted: %q\n  got:    %q\n' "$1" "$2" "$3"
        failures=$((failures + 1))
    fi
}

expect "present only as :arm64 is missing natively" libdrm-dev "$(missing_packages libdrm-dev)"
expect "present as :arm64 counts for :arm64" "" "$(missing_packages libdrm-dev:arm64)"
expect "Architecture: all counts without an architecture" "" "$(missing_packages ca-certificates)"
expect "the native copy does not count for :arm64" libpng-dev:arm64 "$(missing_packages libpng-dev:arm64)"
expect "the native copy counts without an architecture" "" "$(missing_packages libpng-dev)"
expect "only configuration files left is missing" libgtest-dev "$(missing_packages libgtest-dev)"
expect "unknown to dpkg is missing" make "$(missing_packages make)"

install_missing ca-certificates libpng-dev libdrm-dev libpng-dev:arm64 2>/dev/null
expect "install_missing adds arm64, updates, installs the missing ones in one call" \
    "dpkg --add-architecture arm64
apt-get update -qq
apt-get install -y -qq --no-install-recommends -o DPkg::Lock::Timeout=600 libdrm-dev libpng-dev:arm64" "$(cat "$stubs/calls")"

rm "$stubs/calls"
install_missing ca-certificates libpng-dev libdrm-dev:arm64
expect "nothing missing: no dpkg or apt-get call" "" "$(cat "$stubs/calls" 2>/dev/null)"

echo arm64 >"$stubs/foreign"
install_missing libpng-dev:arm64 2>/dev/null
expect "a known foreign architecture is not added again" \
    "apt-get update -qq
apt-get install -y -qq --no-install-recommends -o DPkg::Lock::Timeout=600 libpng-dev:arm64" "$(cat "$stubs/calls")"

rm "$stubs/calls"
echo 'NOTE: This is only a simulation!' >"$stubs/plan"
install_build_deps "$stubs"
expect "build dependencies there: no dpkg or apt-get call" "" "$(cat "$stubs/calls" 2>/dev/null)"
install_build_deps "$stubs" arm64 cross,nocheck 2>/dev/null
expect "a cross build gets its compilers even when apt has nothing to build-dep" \
    "apt-get update -qq
apt-get install -y -qq --no-install-recommends -o DPkg::Lock::Timeout=600 crossbuild-essential-arm64" "$(cat "$stubs/calls")"

rm "$stubs/calls"
echo "crossbuild-essential-arm64 all installed" >>"$stubs/db"
echo 'Inst pkgconf:arm64 (1.8.1-1 Debian:12 [arm64])' >>"$stubs/plan"
install_build_deps "$stubs" arm64 cross,nocheck 2>/dev/null
expect "apt would install something: build-dep with the architecture and profiles" \
    "apt-get update -qq
apt-get build-dep -y -qq --no-install-recommends -o DPkg::Lock::Timeout=600 -a arm64 -P cross,nocheck ./" "$(cat "$stubs/calls")"

rm "$stubs/calls" "$stubs/plan" "$stubs/foreign"
install_build_deps "$stubs" arm64 cross,nocheck 2>/dev/null
expect "apt's simulation fails (no lists yet): arm64 added, lists updated, build-dep" \
    "dpkg --add-architecture arm64
apt-get update -qq
apt-get build-dep -y -qq --no-install-recommends -o DPkg::Lock::Timeout=600 -a arm64 -P cross,nocheck ./" "$(cat "$stubs/calls")"

((failures == 0)) && echo "install-missing: all cases passed"
((failures == 0))
