# The display-stack guest (sourced, bash): kernel, initramfs, root file
# system and boots, for tests/e2e/stacks/run.sh and
# scripts/screenshot-anywhere.sh --desktop. Needs lib.sh and rootfs.sh,
# STACKS_DIR, and e2e_arch_setup done with stacks_arch_setup's settings.

# stacks_arch_setup ARCH: e2e_arch_setup with what the stacks need: more
# memory for Weston or Xorg and their clients, ext4 for the root file system,
# mmdebstrap to build it.
stacks_arch_setup() {
    if [ "$1" = aarch64 ]; then E2E_MEMORY=1536; else E2E_MEMORY=1024; fi
    E2E_EXTRA_MODULES=(ext4)
    e2e_arch_setup "$1"
    E2E_PACKAGES+=(mmdebstrap e2fsprogs)
    [ "$(dpkg --print-architecture)" = amd64 ] ||
        e2e_die "the display-stack guests are built on an amd64 host"
    if [ "$E2E_ARCH" = aarch64 ]; then STACKS_TIMEOUT=900; else STACKS_TIMEOUT=420; fi
    STACKS_TIMEOUT=${E2E_BOOT_TIMEOUT:-$STACKS_TIMEOUT}
}

# stacks_guest CACHE WORK TOOL FILE...: kernel, initramfs (guest/init with
# the guest scripts, FILE... and the tool as /e2e/scanoutsnap.deb when TOOL
# is a package, else as /e2e/scanoutsnap) and the root file system. Sets
# STACKS_INITRD and STACKS_ROOTFS.
stacks_guest() {
    local cache=$1 work=$2 tool=$3 extra=$2/initramfs-extra
    shift 3
    e2e_fetch_kernel "$cache"
    e2e_fetch_busybox "$cache"
    rm -rf "$extra"
    mkdir -p "$extra/e2e"
    cp -r "$STACKS_DIR"/guest/{stacks.sh,configure.sh,weston.ini,weston-rgb565.ini,xorg.conf,labwc} \
        ${1+"$@"} "$extra/e2e/"
    stacks_optional >"$extra/e2e/optional-stacks"
    case "$tool" in
    *.deb) cp "$tool" "$extra/e2e/scanoutsnap.deb" ;;
    *) cp "$tool" "$extra/e2e/scanoutsnap" ;;
    esac
    STACKS_INITRD=$work/initrd.gz
    E2E_INITRAMFS_EXTRA=$extra e2e_build_initramfs "$STACKS_INITRD" "$STACKS_DIR/guest/init"
    STACKS_WORK=$work
    stacks_rootfs "$cache" stacks_configure_rootfs
}

# stacks_boot NAME BOOT SNAPSHOT DEVICE-ARG...: one boot on the root file
# system (SNAPSHOT on: the guest's writes are dropped).
stacks_boot() {
    local name=$1 boot=$2 snapshot=$3
    shift 3
    E2E_RESULT_MB=256 e2e_boot "$name" "$boot" "$STACKS_TIMEOUT" "$STACKS_INITRD" "$STACKS_WORK" \
        -drive "file=$STACKS_ROOTFS,format=raw,if=none,id=root,snapshot=$snapshot" \
        -device virtio-blk-pci,drive=root "$@"
}

# stacks_configure_rootfs IMAGE: the foreign root file system's one boot
# with writes kept, which runs the packages' maintainer scripts.
stacks_configure_rootfs() {
    local res=$STACKS_WORK/configure.results rc
    e2e_log "configuring the $E2E_DEB_ARCH root file system in the guest (timeout ${STACKS_TIMEOUT}s)"
    stacks_boot configure configure off -device virtio-gpu-pci ||
        { tail -n 20 "$res/configure.log" >&2 2>/dev/null; return 1; }
    rc=$(cat "$res/configure.rc" 2>/dev/null || echo none)
    [ "$rc" = 0 ] || { tail -n 30 "$res/configure.log" >&2; return 1; }
    e2e_log "dpkg --configure -a: status 0 in ${E2E_BOOT_SECONDS}s"
}
