#!/usr/bin/env bash
# Builds scanoutsnap and takes a screenshot, on any Debian 13 or 12 machine:
#   - with a display: runs the tool on the first /dev/dri/card* that has
#     connectors (or the device given with -d), through sudo when this user
#     may not read the screen;
#   - without one: boots Debian's kernel under QEMU with a virtual display
#     (virtio-gpu) showing a console with some text, runs scanoutsnap inside
#     the guest and brings its screenshot back.
# Either way the result is screenshot.png in the current directory (or the
# path given with -o), and the last line says which of the two happened.
# With --desktop it always boots a guest (x86_64, on an amd64 host) in which
# the Weston compositor shows a desktop with two windows, and brings back
# scanoutsnap's screenshot of it.
#
#   scripts/screenshot-anywhere.sh [-o PATH] [-d DEVICE | --qemu | --desktop]
#     -d DEVICE  the display's DRM card node, instead of looking for one
#     --qemu     use the virtual machine even when there is a display
#     --desktop  the Weston guest (its Debian root file system is built with
#                mmdebstrap on the first run and cached)
# Environment: BUILD_DIR (default build-screenshot, below the repository).
set -euo pipefail

E2E_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
# shellcheck source=tests/e2e/lib.sh
source "$E2E_ROOT/tests/e2e/lib.sh"

out=$PWD/screenshot.png
device=
force_qemu=
desktop=
while [ $# -gt 0 ]; do
    case "$1" in
    -o) out=$2; shift 2 ;;
    -d) device=$2; shift 2 ;;
    --qemu) force_qemu=1; shift ;;
    --desktop) desktop=1; shift ;;
    -h | --help) sed -n '2,20p' "$0"; exit 0 ;;
    *) e2e_die "unknown option $1 (see --help)" ;;
    esac
done
case "$out" in /*) ;; *) out=$PWD/$out ;; esac

build_dir=${BUILD_DIR:-$E2E_ROOT/build-screenshot}
host_arch=$(uname -m)
if [ -n "$desktop" ]; then
    exec bash "$E2E_ROOT/scripts/lib/screenshot-desktop.sh" "$out" "$build_dir"
fi
e2e_arch_setup "$host_arch"

# shellcheck source=scripts/lib/display-card.sh
source "$E2E_ROOT/scripts/lib/display-card.sh"

# ------------------------------------------------------------------ build
build_packages=(cmake make g++ pkg-config libdrm-dev libpng-dev)
use_qemu=
if [ -z "$force_qemu" ] && [ -z "$device" ]; then
    device=$(first_display_card) || device=
fi
if [ -n "$force_qemu" ] || [ -z "$device" ]; then
    use_qemu=1
    case "$host_arch" in
    x86_64) E2E_PACKAGES=(qemu-system-x86 busybox-static kmod xz-utils cpio binutils "${build_packages[@]}") ;;
    aarch64) E2E_PACKAGES=(qemu-system-arm kmod xz-utils cpio binutils "${build_packages[@]}") ;;
    esac
else
    E2E_PACKAGES=("${build_packages[@]}")
fi
e2e_install_packages

e2e_build_tool "$build_dir"
tool=$build_dir/scanoutsnap

# ------------------------------------------------------------------ real display
if [ -z "$use_qemu" ]; then
    rc=0
    if [ "$(id -u)" -eq 0 ]; then
        "$tool" -d "$device" -o "$out" || rc=$?
        how="as root"
    elif [ -r "$device" ] && [ -w "$device" ] && "$tool" -d "$device" -o "$out" 2>/dev/null; then
        how="as $(id -un)"
    else
        # Without DRM master or CAP_SYS_ADMIN the kernel hides the buffer; sudo
        # gives the rights, and the tool hands the file back to this user.
        e2e_log "taking the screenshot through sudo"
        sudo "$tool" -d "$device" -o "$out" || rc=$?
        how="through sudo"
    fi
    [ "$rc" -eq 0 ] || e2e_die "scanoutsnap ended with status $rc on $device"
    echo "screenshot-anywhere: took the screenshot of this machine's display $device ($how): $out"
    exit 0
fi

# ------------------------------------------------------------------ virtual display
work=$build_dir/qemu
mkdir -p "$work"
e2e_fetch_kernel "$E2E_CACHE"
e2e_fetch_busybox "$E2E_CACHE"
e2e_build_initramfs "$work/initrd.gz" "$E2E_ROOT/tests/e2e/guest/init" "$tool"
if [ "$host_arch" = x86_64 ]; then limit=180; else limit=420; fi
e2e_log "booting $E2E_QEMU with a virtio-gpu display (timeout ${limit}s)"
e2e_boot shot shot "$limit" "$work/initrd.gz" "$work" -device virtio-gpu-pci ||
    e2e_die "the virtual machine failed: $E2E_BOOT_ERROR"
res=$work/shot.results/shot
rc=$(cat "$res/rc" 2>/dev/null || echo none)
if [ "$rc" != 0 ] || [ ! -f "$res/files/screenshot.png" ]; then
    cat "$res/stderr" >&2 2>/dev/null || true
    e2e_die "scanoutsnap ended with status $rc inside the virtual machine"
fi
cp "$res/files/screenshot.png" "$out"
if [ "$(id -u)" -eq 0 ] && [ -n "${SUDO_UID:-}" ] && [ -n "${SUDO_GID:-}" ]; then
    chown "$SUDO_UID:$SUDO_GID" "$out"
fi
console=$(tr , x <"$work/shot.results/console-size" 2>/dev/null || true)
if [ -n "$force_qemu" ]; then why="as asked (--qemu)"; else why="no display device here, so"; fi
echo "screenshot-anywhere: $why scanoutsnap ran inside a QEMU guest" \
    "($E2E_ARCH, Debian kernel $E2E_KVER, virtio-gpu showing a ${console:+$console }text console," \
    "/dev/dri/card0) in ${E2E_BOOT_SECONDS}s; its screenshot is $out"
