# The display-stack guest's root file system (sourced by run.sh, bash): the
# packages from packages.txt of this machine's own Debian release, fetched by
# mmdebstrap through this machine's own apt sources, trimmed, and kept as an ext4 image that guests boot with
# QEMU's -snapshot, so that they never change it. The image is cached under
# a key made of the package list, the architecture and the scripts that build
# it; another key builds a new one.
#
# amd64 (the host's own architecture): mmdebstrap installs the packages, maintainer
# scripts included. arm64: arm64 programs cannot run on the host (binfmt_misc is
# never relied on), so mmdebstrap only unpacks, the host registers every
# package as unpacked in the image's dpkg database, and one boot of the arm64
# guest runs the maintainer scripts (`dpkg --configure -a`) before the image
# goes into the cache.
# The tree belongs to root, as its files must: a normal user (the desktop
# screenshot, amd64) builds it through sudo; arm64's is built by the tests,
# as root.
# Needs lib.sh (e2e_log, e2e_die, as_root) and STACKS_DIR.

stacks_package_lines() { sed -e 's/#.*//' -e 's/[[:space:]]//g' -e '/^$/d' "$STACKS_DIR/packages.txt"; }

# stacks_optional: the "?" packages of packages.txt that this machine's
# release has (its apt lists, brought up to date when they lack the release's
# packages), one a line. The guest's release is this machine's, so these are
# the guest's, and their stacks are the tier's.
stacks_optional() {
    local p
    if ! apt-cache show --no-all-versions weston >/dev/null 2>&1; then
        as_root apt-get update -qq || e2e_die "apt-get update failed"
        apt-cache show --no-all-versions weston >/dev/null 2>&1 ||
            e2e_die "this machine's apt lists have no weston: cannot tell the release's packages"
    fi
    for p in $(stacks_package_lines | sed -n 's/^?//p'); do
        if apt-cache show --no-all-versions "$p" >/dev/null 2>&1; then echo "$p"; fi
    done
}

# stacks_packages: the guest's packages, comma-separated.
stacks_packages() {
    { stacks_package_lines | grep -v '^?'; stacks_optional; } | paste -sd, -
}

# stacks_suite: this machine's release (its code name), which the guest's is.
stacks_suite() { (. /etc/os-release && echo "$VERSION_CODENAME"); }

stacks_rootfs_key() {
    cat "$STACKS_DIR/packages.txt" "$STACKS_DIR/rootfs.sh" "$STACKS_DIR/guest/configure.sh" |
        { sha256sum; echo "$E2E_DEB_ARCH $(stacks_suite) $(stacks_packages)"; } | sha256sum | cut -c1-16
}

# stacks_register_deb ADMINDIR PARTS DEB: one package's part of the work of
# stacks_register_unpacked; its status paragraph goes to PARTS/.
stacks_register_deb() {
    local admin=$1 parts=$2 deb=$3 c name
    c=$(mktemp -d)
    dpkg-deb -e "$deb" "$c" || { echo "dpkg-deb -e $deb failed" >&2; rm -rf "$c"; return 1; }
    name=$(sed -n 's/^Package: //p' "$c/control")
    if grep -qx 'Multi-Arch: same' "$c/control"; then
        name=$name:$(sed -n 's/^Architecture: //p' "$c/control")
    fi
    find "$c" -type f ! -name control -exec sh -c \
        'for f; do cp -p "$f" "$0.${f##*/}"; done' "$admin/info/$name" {} +
    dpkg-deb --fsys-tarfile "$deb" | tar -t |
        sed -e 's|^\.||' -e 's|/$||' -e 's|^$|/.|' >"$admin/info/$name.list"
    {
        sed '/^Package:/a Status: install ok unpacked' "$c/control"
        if [ -s "$c/conffiles" ]; then
            echo "Conffiles:"
            awk '$1 ~ /^\// { print " " $1 " newconffile" }' "$c/conffiles"
        fi
        echo
    } >"$parts/$name"
    rm -rf "$c" "$deb"
}

# stacks_register_unpacked ROOT: records every .deb in ROOT's apt cache in
# ROOT's dpkg database as unpacked (its files are in place already), with its
# file list and maintainer scripts, and removes the .deb files.
stacks_register_unpacked() {
    local root=$1 admin=$1/var/lib/dpkg parts
    parts=$(mktemp -d)
    export -f stacks_register_deb
    find "$root/var/cache/apt/archives" -maxdepth 1 -name '*.deb' -print0 |
        xargs -0 -r -n 8 -P "$(nproc)" bash -c \
            'p=$1; shift; for deb; do stacks_register_deb "$0" "$p" "$deb" || exit 255; done' "$admin" "$parts" ||
        e2e_die "registering the unpacked packages failed"
    cat "$parts"/* >"$admin/status"
    : >"$admin/available"
    rm -rf "$parts"
}

# stacks_mmdebstrap TREE: the packages, unpacked (arm64) or installed (amd64).
stacks_mmdebstrap() {
    local tree=$1 sources=() how=() suite
    suite=$(stacks_suite)
    [ -n "$suite" ] || e2e_die "this machine's release has no code name (/etc/os-release)"
    mapfile -t sources < <(apt_source_files)
    [ ${#sources[@]} -gt 0 ] || e2e_die "no apt sources file on this machine"
    if [ "$E2E_DEB_ARCH" = "$(dpkg --print-architecture)" ]; then
        how=(--variant=essential)
    else
        # Merged /usr from the start, as mmdebstrap makes it for the host's
        # architecture: otherwise apt picks usrmerge, whose conversion of
        # the tree would take minutes in the emulated guest.
        how=(--variant=extract --include='?essential' --include=usr-is-merged
            --setup-hook='for d in bin sbin lib; do ln -s usr/$d "$1/$d"; mkdir -p "$1/usr/$d"; done'
            --skip=check/qemu --skip=cleanup/apt/cache)
    fi
    e2e_log "mmdebstrap $suite ($E2E_DEB_ARCH, ${how[0]}) from ${sources[*]}"
    as_root mmdebstrap --mode=root --arch="$E2E_DEB_ARCH" "${how[@]}" --include="$(stacks_packages)" \
        --dpkgopt='path-exclude=/usr/share/doc/*' --dpkgopt='path-exclude=/usr/share/man/*' \
        --dpkgopt='path-exclude=/usr/share/info/*' --dpkgopt='path-exclude=/usr/share/locale/*' \
        --dpkgopt='path-exclude=/usr/share/i18n/*' --dpkgopt='path-exclude=/usr/share/lintian/*' \
        "$suite" "$tree" "${sources[@]}" >"$tree.log" 2>&1 ||
        { tail -n 20 "$tree.log" >&2; e2e_die "mmdebstrap failed (log $tree.log)"; }
}

# stacks_make_image TREE IMAGE: an ext4 image of TREE with a quarter free,
# belonging to whoever runs this.
stacks_make_image() {
    local tree=$1 img=$2 mb
    as_root rm -rf "$tree"/var/cache/apt/*.bin "$tree"/var/lib/apt/lists/* "$tree"/var/log/*.log
    mb=$(as_root du -sm "$tree" | cut -f1)
    rm -f "$img"
    # No journal and no metadata checksums: the guest mounts it without
    # crc32c, and nothing ever needs replaying.
    as_root mke2fs -q -t ext4 -O ^has_journal,^metadata_csum -m 0 -L stacks-root -d "$tree" \
        "$img" "$((mb * 5 / 4 + 64))M" >/dev/null || e2e_die "mke2fs of $img failed"
    as_root chown "$(id -u):$(id -g)" "$img"
}

# stacks_rootfs CACHEDIR CONFIGURE-FUNCTION: sets STACKS_ROOTFS to the cached
# image, building it first when the key changed. For a foreign architecture
# CONFIGURE-FUNCTION IMAGE boots the guest once on the image (writable).
stacks_rootfs() {
    local dir=$1/rootfs-$E2E_DEB_ARCH configure=$2 key t0
    key=$(stacks_rootfs_key)
    STACKS_ROOTFS=$dir/root-$key.img
    if [ -f "$dir/root-$key.ok" ] && [ -f "$STACKS_ROOTFS" ]; then
        e2e_log "root file system $STACKS_ROOTFS (cached)"
        return 0
    fi
    t0=$(date +%s)
    as_root rm -rf "$dir"
    mkdir -p "$dir"
    stacks_mmdebstrap "$dir/tree"
    if [ "$E2E_DEB_ARCH" != "$(dpkg --print-architecture)" ]; then
        stacks_register_unpacked "$dir/tree"
    fi
    stacks_make_image "$dir/tree" "$STACKS_ROOTFS"
    as_root rm -rf "$dir/tree"
    e2e_log "root file system built in $(($(date +%s) - t0))s: $(du -h --apparent-size "$STACKS_ROOTFS" | cut -f1)"
    if [ "$E2E_DEB_ARCH" != "$(dpkg --print-architecture)" ]; then
        t0=$(date +%s)
        "$configure" "$STACKS_ROOTFS" || e2e_die "configuring the $E2E_DEB_ARCH root file system failed"
        e2e_log "root file system configured in the guest in $(($(date +%s) - t0))s"
    fi
    touch "$dir/root-$key.ok"
}
