#!/usr/bin/env bash
# Builds the packages that packaging/build-debs.sh left in build-packages/debs/
# once more and checks that every .deb, -dbgsym included, is the same file
# byte for byte. The rebuild is a clone at another path, built without tests
# (nocheck: the packages must not depend on whether they ran) and under other
# conditions than build-debs.sh's: a clock two days later (faketime), another
# host name (its own UTS namespace), umask 0002 against 0022, TZ=UTC+14, a
# Turkish locale generated for it, one job against two. On a difference
# diffoscope shows what differs.
#
#   packaging/check-reproducible.sh [ARCH...]     (default: amd64 arm64)
#
# Runs as root (the UTS namespace needs it) and installs what it needs.
set -euo pipefail
cd "$(dirname "$0")/.."

if [[ $(id -u) -ne 0 ]]; then
    exec sudo "$0" "$@"
fi

# shellcheck source=scripts/lib/install-missing.sh
source scripts/lib/install-missing.sh
# shellcheck source=packaging/lib.sh
source packaging/lib.sh

fail() {
    echo "check-reproducible: $*" >&2
    exit 1
}

arches=("$@")
((${#arches[@]} > 0)) || arches=("$(debs_native_arch)" arm64)
work=build-packages/rebuild
locale=tr_TR.UTF-8

install_missing git dpkg-dev faketime locales
rm -rf "$work"
mkdir -p "$work/locales"
# A locale of the rebuild's own (LOCPATH), which leaves the machine's alone.
localedef -i "${locale%%.*}" -f UTF-8 "$work/locales/$locale"

# in_rebuild_conditions COMMAND...: COMMAND as the rebuild runs.
in_rebuild_conditions() {
    (
        umask 0002
        exec env TZ=UTC+14 LOCPATH="$PWD/$work/locales" LANG="$locale" LC_ALL="$locale" \
            LANGUAGE=tr DEB_BUILD_OPTIONS="nocheck parallel=1" \
            unshare --uts -- sh -c 'hostname rebuild-elsewhere && exec faketime "+2 days" "$@"' sh "$@"
    )
}

echo "== the rebuild's conditions"
in_rebuild_conditions sh -c 'echo "host $(hostname), umask $(umask), TZ=$TZ, DEB_BUILD_OPTIONS=$DEB_BUILD_OPTIONS"; date; locale' \
    2>"$work/conditions.err"
# `locale` complains here when the locale cannot be loaded.
[[ ! -s $work/conditions.err ]] || fail "setting up the rebuild's conditions: $(cat "$work/conditions.err")"
shift_seconds=$(($(in_rebuild_conditions date +%s) - $(date +%s)))
((shift_seconds >= 86400)) || fail "the rebuild's clock is only ${shift_seconds} s ahead"

# Both architectures at once, one job each.
pids=()
for arch in "${arches[@]}"; do
    ls "$DEBS_DIR"/*_"$arch".deb >/dev/null 2>&1 ||
        fail "no $arch packages in $DEBS_DIR: run packaging/build-debs.sh first"
    parent=$work/$arch/elsewhere
    debs_clone "$parent" scanoutsnap-again
    profile=()  # a cross build brings its own profiles
    [[ $arch != "$(debs_native_arch)" ]] || profile=(-Pnocheck)
    debs_build_deps "$parent/scanoutsnap-again" "$arch" nocheck
    echo "== $arch: dpkg-buildpackage in $parent/scanoutsnap-again"
    in_rebuild_conditions bash -c 'source packaging/lib.sh && debs_build "$@"' \
        sh "$parent/scanoutsnap-again" "$arch" "${profile[@]}" >"$work/build-$arch.log" 2>&1 &
    pids+=($!)
done
for i in "${!arches[@]}"; do
    wait "${pids[$i]}" ||
        { debs_show_failure "$work/build-${arches[$i]}.log"; fail "the ${arches[$i]} rebuild failed"; }
done

echo "== sha256 of the packages: build-debs.sh's, then the rebuild's"
differ=0
for arch in "${arches[@]}"; do
    rebuilt=$work/$arch/elsewhere
    diff <(cd "$DEBS_DIR" && ls -- *_"$arch".deb) <(cd "$rebuilt" && ls -- *.deb) ||
        fail "the $arch rebuild made other packages"
    for first in "$DEBS_DIR"/*_"$arch".deb; do
        again=$rebuilt/${first##*/}
        sha256sum "$first" "$again"
        if ! cmp -s "$first" "$again"; then
            differ=$((differ + 1))
            install_missing diffoscope-minimal
            report=$work/diffoscope-${first##*/}.txt
            diffoscope --text "$report" "$first" "$again" || true
            head -n 300 "$report"
            echo "(diffoscope's whole report: $report)"
        fi
    done
done
((differ == 0)) || fail "$differ package(s) differ"
echo "check-reproducible: every package is the same file in both builds"
