#!/usr/bin/env bash
# Display-stack tier of the end-to-end suite: scanoutsnap, installed from the
# project's Debian package, run as root inside a QEMU guest while Weston or
# Xorg drives the display, its PNG compared with the stack's own screenshot.
# See tests/e2e/stacks/README.md.
#
#   tests/e2e/stacks/run.sh [--arch x86_64|aarch64|x86_64,aarch64] [--build-dir DIR]
#                           [--deb FILE | --tool BINARY] [--boots virtio,cirrus]
#                           [--no-install]
#
#   --arch       guest architecture (default x86_64); with two, both run at
#                once, one boot at a time each, and their results are added
#   --build-dir  default build (x86_64) or build-arm64 (aarch64); holds the
#                work files (DIR/e2e/); kernels and root file systems are
#                kept in build-cache/ (E2E_CACHE), shared with the other suites
#   --deb        the package to install in the guest (default the one in
#                build-packages/debs/, from packaging/build-debs.sh)
#   --tool       a bare binary to put in the guest instead (a broken build)
#   --boots      default virtio,cirrus
#   --no-install do not apt-get the host's packages
# Environment: E2E_BOOT_TIMEOUT (seconds per boot), E2E_JOBS (boots at a time,
# default 2).
set -euo pipefail

STACKS_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
E2E_DIR=$(dirname "$STACKS_DIR")
E2E_ROOT=$(cd "$E2E_DIR/../.." && pwd)
# shellcheck source=tests/e2e/lib.sh
source "$E2E_DIR/lib.sh"
# shellcheck source=tests/e2e/stacks/rootfs.sh
source "$STACKS_DIR/rootfs.sh"
# shellcheck source=tests/e2e/stacks/guest.sh
source "$STACKS_DIR/guest.sh"
# shellcheck source=tests/e2e/stacks/checks.sh
source "$STACKS_DIR/checks.sh"
# shellcheck source=packaging/lib.sh
source "$E2E_ROOT/packaging/lib.sh"  # DEBS_DIR

arch=x86_64
build_dir=
deb=
tool=
boots=
install=1
args=("$@")
while [ $# -gt 0 ]; do
    case "$1" in
    --arch) arch=$2; shift 2 ;;
    --build-dir) build_dir=$2; shift 2 ;;
    --deb) deb=$2; shift 2 ;;
    --tool) tool=$2; shift 2 ;;
    --boots) boots=$2; shift 2 ;;
    --no-install) install=; shift ;;
    -h | --help) sed -n '2,21p' "$0"; exit 0 ;;
    *) e2e_die "unknown option $1 (see --help)" ;;
    esac
done

# Two architectures: the host's packages once, then one run per architecture,
# both at once, each one boot at a time; their logs follow each other.
if [[ $arch == *,* ]]; then
    t_start=$(date +%s)
    IFS=, read -r -a arches <<<"$arch"
    if [ -n "$install" ]; then
        for a in "${arches[@]}"; do
            stacks_arch_setup "$a"
            e2e_install_packages
        done
    fi
    logs=$(mktemp -d)
    for a in "${arches[@]}"; do
        E2E_JOBS=1 bash "$0" "${args[@]}" --arch "$a" --no-install 2>&1 | tee "$logs/$a" |
            sed -u "s/^/$a| /" &
    done
    wait || true
    total=$(cat "$logs"/* | awk '/^[0-9]+ passed, [0-9]+ failed$/ { p += $1; f += $3; n++ }
        END { print p + 0, f + 0, n + 0 }')
    rm -rf "$logs"
    read -r passed failed runs <<<"$total"
    [ "$runs" = "${#arches[@]}" ] || { failed=$((failed + 1)); echo "a run ended without its summary"; }
    e2e_log "wall time for ${arch}: $(($(date +%s) - t_start))s"
    echo "$passed passed, $failed failed"
    [ "$failed" -eq 0 ]
    exit
fi

t_start=$(date +%s)
stage_t0=$t_start
stage_done() { # stage_done WHAT: prints the time the stage took
    local now
    now=$(date +%s)
    e2e_log "time: $1 $((now - stage_t0))s"
    stage_t0=$now
}

stacks_arch_setup "$arch"
if [ -z "$build_dir" ]; then
    if [ "$arch" = x86_64 ]; then build_dir=build; else build_dir=build-arm64; fi
fi
case "$build_dir" in /*) ;; *) build_dir=$E2E_ROOT/$build_dir ;; esac
[ -n "$boots" ] || boots=virtio,cirrus
cache=$E2E_CACHE
work=$build_dir/e2e/stacks-$arch
mkdir -p "$cache" "$work"

[ -n "$install" ] && e2e_install_packages
stage_done "host packages"

# ------------------------------------------------------------------ what goes in
if [ -n "$tool" ]; then
    [ -x "$tool" ] || e2e_die "no binary at $tool"
    want_tool=$tool
else
    debs=$E2E_ROOT/$DEBS_DIR
    # The tool's package, not its -dbgsym companion.
    [ -n "$deb" ] || deb=$(ls "$debs"/scanoutsnap_*_"$E2E_DEB_ARCH".deb 2>/dev/null | head -n1)
    [ -f "$deb" ] || e2e_die "no scanoutsnap_*_$E2E_DEB_ARCH.deb in $debs (run packaging/build-debs.sh)"
    [ "$(dpkg-deb -f "$deb" Architecture)" = "$E2E_DEB_ARCH" ] || e2e_die "$deb is not for $E2E_DEB_ARCH"
    want_tool=$work/deb-scanoutsnap
    dpkg-deb --fsys-tarfile "$deb" | tar -xO ./usr/bin/scanoutsnap >"$want_tool"
fi

# The scene suite's reader (for the RGB565 Weston case) for the guest, the
# checker for the host; built from tests/e2e on its own.
log=$work/build.log
: >"$log"
e2e_build_helpers "$build_dir" "$log"
pngcmp=$E2E_PNGCMP
stage_done "helpers built"

# ------------------------------------------------------------------ guest
stacks_guest "$cache" "$work" "${tool:-$deb}" "$E2E_SCENE"
stage_done "kernel, initramfs and root file system"

declare -A boot_devices=(
    [virtio]="-device virtio-gpu-pci"
    [cirrus]="-device cirrus-vga"
)
IFS=, read -r -a boot_list <<<"$boots"
for b in "${boot_list[@]}"; do
    [ -n "${boot_devices[$b]:-}" ] || e2e_die "unknown boot '$b'"
done
run_boot() {
    local b=$1
    e2e_log "booting $b ($E2E_QEMU ${boot_devices[$b]}, timeout ${STACKS_TIMEOUT}s)"
    # shellcheck disable=SC2086
    e2e_record_boot "$work" "$b" stacks_boot "$b" "$b" on ${boot_devices[$b]}
}
e2e_parallel "${E2E_JOBS:-2}" run_boot "${boot_list[@]}"
stage_done "boots"

# ------------------------------------------------------------------ checks
echo
for boot in "${boot_list[@]}"; do
    res=$work/$boot.results
    verdict=fail seconds=? error="no verdict"
    [ -f "$work/$boot.verdict" ] && read -r verdict seconds error <"$work/$boot.verdict"
    check "$arch/$boot/boot: guest came up, ran the stacks and sent results back (${seconds}s)" \
        eval '[ "$verdict" = ok ] || why "$error"'
    how="the package installed with dpkg"
    [ -z "$tool" ] || how="the binary given put in place"
    check "$arch/$boot/install: $how, /usr/bin/scanoutsnap is its $E2E_DEB_ARCH binary" case_install
    "checks_$boot"
done
echo
stage_done "checks"
e2e_log "work files in $work (serial logs: *.serial, results: *.results/)"
e2e_log "wall time $(($(date +%s) - t_start))s"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
