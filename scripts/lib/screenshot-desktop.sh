#!/usr/bin/env bash
# scripts/screenshot-anywhere.sh --desktop: builds scanoutsnap, boots the
# display-stack guest (x86_64) in which Weston shows a desktop, runs the tool
# there as root and copies its screenshot to OUT.
#
#   scripts/lib/screenshot-desktop.sh OUT BUILD_DIR
set -euo pipefail

out=$1
build_dir=$2
E2E_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
STACKS_DIR=$E2E_ROOT/tests/e2e/stacks
# shellcheck source=tests/e2e/lib.sh
source "$E2E_ROOT/tests/e2e/lib.sh"
# shellcheck source=tests/e2e/stacks/rootfs.sh
source "$STACKS_DIR/rootfs.sh"
# shellcheck source=tests/e2e/stacks/guest.sh
source "$STACKS_DIR/guest.sh"

t0=$(date +%s)
stacks_arch_setup x86_64
E2E_PACKAGES=(qemu-system-x86 busybox-static kmod xz-utils cpio binutils mmdebstrap e2fsprogs
    cmake make g++ pkg-config libdrm-dev libpng-dev)
e2e_install_packages

e2e_build_tool "$build_dir"
t_build=$(date +%s)

work=$build_dir/desktop
mkdir -p "$work"
stacks_guest "$E2E_CACHE" "$work" "$build_dir/scanoutsnap"
t_guest=$(date +%s)
e2e_log "booting $E2E_QEMU with a virtio-gpu display and Weston (timeout ${STACKS_TIMEOUT}s)"
stacks_boot desktop desktop on -device virtio-gpu-pci ||
    e2e_die "the virtual machine failed: $E2E_BOOT_ERROR"
res=$work/desktop.results
rc=$(cat "$res/shot/rc" 2>/dev/null || echo none)
if [ "$rc" != 0 ] || [ ! -f "$res/shot/files/screenshot.png" ] || [ -s "$res/shot/stderr" ]; then
    cat "$res/shot/stderr" "$res/desktop/weston.log" "$res/stacks.log" >&2 2>/dev/null || true
    e2e_die "no screenshot from the Weston guest (scanoutsnap status $rc)"
fi
cp "$res/shot/files/screenshot.png" "$out"
if [ "$(id -u)" -eq 0 ] && [ -n "${SUDO_UID:-}" ] && [ -n "${SUDO_GID:-}" ]; then
    chown "$SUDO_UID:$SUDO_GID" "$out"
fi
t_end=$(date +%s)
echo "screenshot-anywhere: booted a QEMU guest (x86_64, Debian kernel $E2E_KVER, virtio-gpu)" \
    "in which Weston shows a desktop with two windows; scanoutsnap ran there as root while" \
    "Weston held the display; its screenshot is $out. Took $((t_end - t0))s: build" \
    "$((t_build - t0))s, kernel and root file system $((t_guest - t_build))s, boot ${E2E_BOOT_SECONDS}s."
