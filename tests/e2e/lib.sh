# Shared by tests/e2e/run.sh, tests/e2e/stacks/run.sh and
# scripts/screenshot-anywhere.sh (sourced, bash). Everything here is
# parameterised by the guest architecture (e2e_arch_setup).
# Needs: E2E_ROOT (the repository) set by the caller.
# Optional, set before e2e_arch_setup: E2E_MEMORY (guest MiB; default 512 on
# x86_64, 1024 on aarch64), E2E_EXTRA_MODULES (more modules to load in the
# guest, for example a file system). Optional for e2e_build_initramfs:
# E2E_INITRAMFS_EXTRA (a directory copied into the initramfs as it is); for
# e2e_boot: E2E_RESULT_MB (size of the result disk, default 64).

# depmod, modprobe and mke2fs live in the sbin directories, which a normal
# user's PATH lacks; they work on the trees given to them as anyone.
PATH=$PATH:/usr/local/sbin:/usr/sbin:/sbin

# What guests boot from, fetched or built once per checkout and shared by the
# screenshot scripts and every suite: Debian's kernels (with the modules of
# E2E_CACHED_MODULES), busybox and the display-stack guests' root file
# systems. E2E_CACHE chooses another place.
E2E_CACHE=${E2E_CACHE:-$E2E_ROOT/build-cache}
E2E_CACHED_MODULES=(virtio_pci virtio_blk virtio_gpu cirrus bochs ext4)

e2e_log() { printf '[e2e] %s\n' "$*" >&2; }
e2e_die() {
    printf '[e2e] ERROR: %s\n' "$*" >&2
    exit 2
}
# shellcheck source=scripts/lib/install-missing.sh
source "$E2E_ROOT/scripts/lib/install-missing.sh"

# e2e_arch_setup ARCH: x86_64 or aarch64.
e2e_arch_setup() {
    E2E_ARCH=$1
    case "$E2E_ARCH" in
    x86_64)
        E2E_DEB_ARCH=amd64
        E2E_CMAKE_ARCH_ARGS=()
        E2E_QEMU=qemu-system-x86_64
        E2E_QEMU_MACHINE=(-M pc -accel tcg -m "${E2E_MEMORY:-512}")
        E2E_CONSOLE=ttyS0
        E2E_KERNEL_META=linux-image-amd64
        E2E_MODULES=(virtio_pci virtio_blk virtio_gpu cirrus bochs)
        E2E_PACKAGES=(qemu-system-x86 busybox-static kmod xz-utils cpio binutils cmake make g++
            pkg-config libdrm-dev libpng-dev)
        ;;
    aarch64)
        E2E_DEB_ARCH=arm64
        # Builds for the guest are cross builds.
        local toolchain=$E2E_ROOT/cmake/toolchains/aarch64-linux-gnu.cmake
        [ -f "$toolchain" ] || e2e_die "no toolchain file $toolchain"
        E2E_CMAKE_ARCH_ARGS=(-DCMAKE_TOOLCHAIN_FILE="$toolchain")
        E2E_QEMU=qemu-system-aarch64
        E2E_QEMU_MACHINE=(-M virt -cpu cortex-a72 -accel tcg -m "${E2E_MEMORY:-1024}")
        E2E_CONSOLE=ttyAMA0
        E2E_KERNEL_META=linux-image-arm64
        E2E_MODULES=(virtio_pci virtio_blk virtio_gpu cirrus bochs)
        # The arm64 -dev packages go with their amd64 twins in one call, so that
        # the versions match (multiarch).
        # (GoogleTest too: the project's cross configure wants it.)
        E2E_PACKAGES=(qemu-system-arm kmod xz-utils cpio binutils file cmake make g++ pkg-config
            g++-aarch64-linux-gnu libdrm-dev libpng-dev libdrm-dev:arm64 libpng-dev:arm64
            libgtest-dev libgtest-dev:arm64 libgmock-dev libgmock-dev:arm64
            libstdc++6:arm64 libgcc-s1:arm64)
        ;;
    *) e2e_die "unknown --arch '$E2E_ARCH' (x86_64 or aarch64)" ;;
    esac
    E2E_MODULES+=(${E2E_EXTRA_MODULES[@]+"${E2E_EXTRA_MODULES[@]}"})
}

# e2e_install_packages: apt-get the packages of the arch that are missing
# (scripts/lib/install-missing.sh).
e2e_install_packages() {
    if [ -z "$(missing_packages "${E2E_PACKAGES[@]}")" ]; then
        e2e_log "packages present: ${E2E_PACKAGES[*]}"
        return 0
    fi
    install_missing "${E2E_PACKAGES[@]}" || e2e_die "installing ${E2E_PACKAGES[*]} failed"
    E2E_UPDATED=1
}

# e2e_build_step LOG WHAT COMMAND...: runs COMMAND with its output appended to
# LOG; on failure shows the log's end and stops.
e2e_build_step() {
    local log=$1 what=$2
    shift 2
    "$@" >>"$log" 2>&1 || { tail -n 30 "$log" >&2; e2e_die "$what failed (log $log)"; }
}

# e2e_build_helpers BUILD_DIR LOG: builds tests/e2e on its own, so that the
# helpers do not depend on how the project's build is configured: the scene
# helper for the guest's architecture in BUILD_DIR/e2e/helpers, the checker
# for the host (beside it on x86_64, in BUILD_DIR/e2e/host-tools otherwise).
# Sets E2E_SCENE and E2E_PNGCMP to the two programs.
e2e_build_helpers() {
    local build_dir=$1 log=$2 helpers host_tools
    helpers=$build_dir/e2e/helpers
    e2e_build_step "$log" "configure of the guest helpers" \
        cmake -S "$E2E_ROOT/tests/e2e" -B "$helpers" ${E2E_CMAKE_ARCH_ARGS[@]+"${E2E_CMAKE_ARCH_ARGS[@]}"}
    e2e_build_step "$log" "build of the guest helpers" \
        cmake --build "$helpers" --parallel "$(nproc)" --target scanoutsnap-e2e-scene
    host_tools=$helpers
    if [ "$E2E_ARCH" != x86_64 ]; then
        host_tools=$build_dir/e2e/host-tools
        e2e_build_step "$log" "configure of the host checker" \
            cmake -S "$E2E_ROOT/tests/e2e" -B "$host_tools"
    fi
    e2e_build_step "$log" "build of the host checker" \
        cmake --build "$host_tools" --parallel "$(nproc)" --target scanoutsnap-e2e-pngcmp
    E2E_SCENE=$helpers/scanoutsnap-e2e-scene
    E2E_PNGCMP=$host_tools/scanoutsnap-e2e-pngcmp
    [ -x "$E2E_SCENE" ] || e2e_die "no scene helper at $E2E_SCENE"
    [ -x "$E2E_PNGCMP" ] || e2e_die "no PNG checker at $E2E_PNGCMP"
}

# e2e_build_tool BUILD_DIR: a release build of scanoutsnap alone (no tests),
# for the screenshot scripts.
e2e_build_tool() {
    local dir=$1
    e2e_log "building scanoutsnap in $dir"
    mkdir -p "$dir"
    : >"$dir/build.log"
    e2e_build_step "$dir/build.log" "configure" \
        cmake -S "$E2E_ROOT" -B "$dir" -DBUILD_TESTING=OFF -DCMAKE_BUILD_TYPE=Release
    e2e_build_step "$dir/build.log" "build" \
        cmake --build "$dir" --parallel "$(nproc)" --target scanoutsnap
}

# e2e_apt_download DIR PACKAGE: apt-get download into DIR (prints the file).
e2e_apt_download() {
    local dir=$1 pkg=$2 f sandbox=()
    # As root, apt would hand the download to its _apt user, who cannot write DIR.
    [ "$(id -u)" -ne 0 ] || sandbox=(-o APT::Sandbox::User=root)
    (cd "$dir" && apt-get download -q "${sandbox[@]}" "$pkg" >/dev/null 2>&1) || {
        # The package lists may be stale or missing on a fresh machine.
        [ -n "${E2E_UPDATED:-}" ] || as_root apt-get update -qq
        E2E_UPDATED=1
        (cd "$dir" && apt-get download -q "${sandbox[@]}" "$pkg" >/dev/null) ||
            e2e_die "apt-get download $pkg failed"
    }
    f=$(ls -t "$dir"/"${pkg%%:*}"_*.deb 2>/dev/null | head -n1)
    [ -n "$f" ] || e2e_die "apt-get download $pkg left no .deb in $dir"
    echo "$f"
}

# e2e_fetch_kernel CACHEDIR: Debian's kernel for the arch, downloaded and
# unpacked (not installed). Sets E2E_KERNEL, E2E_KVER, E2E_KROOT.
e2e_fetch_kernel() {
    local cache=$1/kernel-$E2E_DEB_ARCH pkg deb
    mkdir -p "$cache"
    pkg=$(apt-cache depends "$E2E_KERNEL_META:$E2E_DEB_ARCH" 2>/dev/null |
        awk '$1 == "Depends:" && $2 ~ /^linux-image-/ { sub(/:.*/, "", $2); print $2; exit }')
    if [ -z "$pkg" ]; then
        [ -n "${E2E_UPDATED:-}" ] || as_root apt-get update -qq
        E2E_UPDATED=1
        pkg=$(apt-cache depends "$E2E_KERNEL_META:$E2E_DEB_ARCH" 2>/dev/null |
            awk '$1 == "Depends:" && $2 ~ /^linux-image-/ { sub(/:.*/, "", $2); print $2; exit }')
    fi
    [ -n "$pkg" ] || e2e_die "cannot find the kernel package behind $E2E_KERNEL_META:$E2E_DEB_ARCH"
    E2E_KROOT=$cache/$pkg
    # The cache keeps only the modules that guests load: every suite's, and
    # any other a list asks for, the union kept, so that suites sharing the
    # cache do not fetch in turn.
    local kept want
    kept=$(cat "$E2E_KROOT/.unpacked" 2>/dev/null || true)
    want=$(printf '%s\n' $kept "${E2E_CACHED_MODULES[@]}" "${E2E_MODULES[@]}" | sort -u | tr '\n' ' ')
    if [ -z "$kept" ] || [ "$(printf '%s\n' $kept | sort -u | tr '\n' ' ')" != "$want" ]; then
        e2e_log "fetching $pkg ($E2E_DEB_ARCH) with apt-get download"
        rm -rf "$E2E_KROOT" "$cache"/*.deb
        deb=$(e2e_apt_download "$cache" "$pkg:$E2E_DEB_ARCH")
        dpkg-deb -x "$deb" "$E2E_KROOT" || e2e_die "dpkg-deb -x $deb failed"
        rm -f "$deb"
        e2e_kernel_tree
        depmod -b "$E2E_KROOT" "$E2E_KVER" || e2e_die "depmod failed"
        # shellcheck disable=SC2086
        e2e_prune_modules $want
        echo "$want" >"$E2E_KROOT/.unpacked"
    fi
    e2e_kernel_tree
    E2E_KERNEL=$E2E_KROOT/boot/vmlinuz-$E2E_KVER
    [ -f "$E2E_KERNEL" ] || e2e_die "no vmlinuz-$E2E_KVER in $E2E_KROOT/boot"
    e2e_log "kernel $pkg ($E2E_KVER): $E2E_KERNEL"
}

# e2e_kernel_tree: sets E2E_KVER from the unpacked package in E2E_KROOT: the
# directory of its modules (lib/modules/VERSION, or usr/lib/modules/VERSION
# where the package installs below /usr only). depmod and modprobe look below
# lib/modules of the tree they are given, so that path leads there too.
e2e_kernel_tree() {
    local dir
    for dir in lib/modules usr/lib/modules; do
        [ -d "$E2E_KROOT/$dir" ] || continue
        E2E_KVER=$(find "$E2E_KROOT/$dir/" -mindepth 2 -maxdepth 2 -name modules.order -printf '%h\n' |
            sed 's|.*/||' | head -n1)
        [ -n "$E2E_KVER" ] || continue
        if [ "$dir" != lib/modules ] && [ ! -e "$E2E_KROOT/lib/modules" ]; then
            mkdir -p "$E2E_KROOT/lib"
            ln -s ../"$dir" "$E2E_KROOT/lib/modules"
        fi
        return 0
    done
    e2e_die "no modules directory (lib/modules/VERSION/modules.order) in $E2E_KROOT"
}

# e2e_prune_modules MODULE...: drops every module but these and their
# dependencies (most of the package's 400 MB), unpacks the ones it keeps
# where the package compresses them (busybox's insmod in the guest takes
# them as they are), then rebuilds modules.dep.
e2e_prune_modules() {
    local keep=$E2E_KROOT/.keep kernel=$E2E_KROOT/lib/modules/$E2E_KVER/kernel
    modprobe -d "$E2E_KROOT" -S "$E2E_KVER" -a --show-depends "$@" |
        awk '$1 == "insmod" { print $2 }' | sort -u >"$keep"
    [ -s "$keep" ] || e2e_die "no modules found for $*"
    # modprobe names them by the path below lib/modules.
    find "$kernel/" -name '*.ko*' -type f | sort | comm -23 - "$keep" | xargs -r rm -f
    rm -f "$keep"
    find "$kernel/" -name '*.ko.xz' -exec xz -d {} + || e2e_die "xz -d of the modules failed"
    find "$kernel/" -name '*.ko.zst' -exec zstd -q -d --rm {} + || e2e_die "zstd -d of the modules failed"
    find "$kernel/" -name '*.ko.gz' -exec gzip -d {} + || e2e_die "gzip -d of the modules failed"
    depmod -b "$E2E_KROOT" "$E2E_KVER" || e2e_die "depmod failed"
}

# e2e_fetch_busybox CACHEDIR: sets E2E_BUSYBOX to a static busybox for the arch.
e2e_fetch_busybox() {
    if [ "$E2E_DEB_ARCH" = amd64 ]; then
        E2E_BUSYBOX=$(e2e_busybox_in "")
        [ -n "$E2E_BUSYBOX" ] || e2e_die "no busybox in /usr/bin or /bin (package busybox-static)"
        return 0
    fi
    # busybox-static has no multiarch support: unpack the foreign one.
    local cache=$1/busybox-$E2E_DEB_ARCH deb
    E2E_BUSYBOX=$(e2e_busybox_in "$cache/root")
    if [ -z "$E2E_BUSYBOX" ]; then
        rm -rf "$cache"
        mkdir -p "$cache"
        deb=$(e2e_apt_download "$cache" "busybox-static:$E2E_DEB_ARCH")
        dpkg-deb -x "$deb" "$cache/root" || e2e_die "dpkg-deb -x $deb failed"
        rm -f "$deb"
        E2E_BUSYBOX=$(e2e_busybox_in "$cache/root")
    fi
    [ -n "$E2E_BUSYBOX" ] || e2e_die "no busybox in busybox-static:$E2E_DEB_ARCH"
}

# e2e_busybox_in TREE: the busybox program in TREE (the package puts it in
# /usr/bin or in /bin), or nothing.
e2e_busybox_in() {
    local f
    for f in "$1/usr/bin/busybox" "$1/bin/busybox"; do
        [ -x "$f" ] && [ ! -L "$f" ] && { echo "$f"; return 0; }
    done
    return 0
}

# e2e_shared_libs BINARY: the shared objects BINARY needs (absolute paths),
# the program interpreter included.
e2e_shared_libs() {
    local bin=$1
    if [ "$E2E_ARCH" = x86_64 ]; then
        ldd "$bin" | awk '/=> \// { print $3 } /^[ \t]*\/[^ ]+ \(0x/ { print $1 }'
        return 0
    fi
    # ldd cannot read foreign binaries: follow DT_NEEDED with readelf.
    local libdirs=(/usr/lib/aarch64-linux-gnu /lib/aarch64-linux-gnu /usr/aarch64-linux-gnu/lib)
    local todo=("$bin") seen=" " f n d found
    readelf -l "$bin" | sed -n 's/.*Requesting program interpreter: \(.*\)]/\1/p'
    while [ ${#todo[@]} -gt 0 ]; do
        f=${todo[0]}
        todo=("${todo[@]:1}")
        for n in $(readelf -d "$f" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p'); do
            case "$seen" in *" $n "*) continue ;; esac
            seen="$seen$n "
            found=
            for d in "${libdirs[@]}"; do
                if [ -e "$d/$n" ]; then
                    found=$d/$n
                    break
                fi
            done
            [ -n "$found" ] || e2e_die "$bin needs $n, not found in ${libdirs[*]}"
            echo "$found"
            todo+=("$found")
        done
    done
}

# e2e_build_initramfs OUT INIT BINARY...: a gzip'ed newc cpio with busybox,
# the DRM modules and their dependencies, the binaries (to /usr/local/bin)
# with their shared libraries, and INIT as /init.
e2e_build_initramfs() {
    local out=$1 init=$2
    shift 2
    local stage=$out.d m b l
    rm -rf "$stage"
    mkdir -p "$stage"/{bin,dev,proc,sys,tmp,etc/e2e,usr/local/bin,lib/modules}
    cp "$E2E_BUSYBOX" "$stage/bin/busybox"
    ln -s busybox "$stage/bin/sh"
    cp "$init" "$stage/init"
    chmod 755 "$stage/init"
    [ -z "${E2E_INITRAMFS_EXTRA:-}" ] || cp -a "$E2E_INITRAMFS_EXTRA/." "$stage/"
    # The modules in load order, each once.
    : >"$stage/etc/e2e/modules"
    modprobe -d "$E2E_KROOT" -S "$E2E_KVER" -a --show-depends "${E2E_MODULES[@]}" |
        awk '$1 == "insmod" && !seen[$2]++ { print $2 }' |
        while read -r m; do
            local rel=${m#"$E2E_KROOT"}
            mkdir -p "$stage$(dirname "$rel")"
            cp "$m" "$stage$rel"
            echo "$rel" >>"$stage/etc/e2e/modules"
        done
    [ -s "$stage/etc/e2e/modules" ] || e2e_die "no modules found for ${E2E_MODULES[*]}"
    for b in "$@"; do
        cp "$b" "$stage/usr/local/bin/"
        for l in $(e2e_shared_libs "$b"); do
            mkdir -p "$stage$(dirname "$l")"
            cp -L "$l" "$stage$l"
        done
    done
    (cd "$stage" && find . | LC_ALL=C sort | cpio -o -H newc -R 0:0 --quiet | gzip -1 >"$out") ||
        e2e_die "cpio failed"
    rm -rf "$stage"
}

# e2e_parallel JOBS FUNCTION ARG...: FUNCTION ARG for each ARG, in the
# background, at most JOBS at a time; returns when all have ended.
e2e_parallel() {
    local jobs=$1 fn=$2 running=0 arg
    shift 2
    for arg; do
        "$fn" "$arg" &
        running=$((running + 1))
        if [ "$running" -ge "$jobs" ]; then
            wait -n || true
            running=$((running - 1))
        fi
    done
    wait || true
}

# e2e_record_boot WORKDIR NAME COMMAND...: runs a boot (e2e_boot or a
# wrapper of it) and records WORKDIR/NAME.verdict: "ok SECONDS" or
# "fail SECONDS ERROR".
e2e_record_boot() {
    local work=$1 name=$2
    shift 2
    rm -f "$work/$name.verdict"
    if "$@"; then
        echo "ok $E2E_BOOT_SECONDS" >"$work/$name.verdict"
    else
        echo "fail $E2E_BOOT_SECONDS $E2E_BOOT_ERROR" >"$work/$name.verdict"
    fi
}

# Verdicts, made on the host: every case is a function that calls why() for
# each thing that is wrong; check NAME FUNCTION [ARG...] runs it and prints
# PASS or FAIL with the reasons, counted in passed and failed, and the lines
# the case gave to note().
passed=0
failed=0
reasons=()
notes=()
why() { reasons+=("$*"); }
# note TEXT: a line of facts (counts, times) printed under the case's verdict.
note() { notes+=("$*"); }
check() {
    local name=$1
    shift
    reasons=()
    notes=()
    "$@" || true
    if [ ${#reasons[@]} -eq 0 ]; then
        printf 'PASS  %s\n' "$name"
        passed=$((passed + 1))
    else
        printf 'FAIL  %s\n' "$name"
        printf '%s\n' "${reasons[@]}" | sed 's/^ */        /'
        failed=$((failed + 1))
    fi
    [ ${#notes[@]} -eq 0 ] || printf '      - %s\n' "${notes[@]}"
}

# e2e_boot NAME BOOT TIMEOUT INITRD WORKDIR QEMU-DEVICE-ARG...: boots the guest
# with e2e.boot=BOOT and a raw result disk; unpacks the results into
# WORKDIR/NAME.results. Returns 0 when the guest finished and sent results.
e2e_boot() {
    local name=$1 boot=$2 limit=$3 initrd=$4 work=$5
    shift 5
    local img=$work/$name.img serial=$work/$name.serial res=$work/$name.results rc t0
    rm -rf "$img" "$res"
    mkdir -p "$res"
    truncate -s "${E2E_RESULT_MB:-64}M" "$img"
    t0=$(date +%s)
    set +e
    timeout -k 5 "$limit" "$E2E_QEMU" "${E2E_QEMU_MACHINE[@]}" -nodefaults -vga none -display none \
        -no-reboot -kernel "$E2E_KERNEL" -initrd "$initrd" \
        -append "console=$E2E_CONSOLE panic=-1 vt.global_cursor_default=0 consoleblank=0 loglevel=4 e2e.boot=$boot" \
        -serial "file:$serial" \
        -drive "file=$img,format=raw,if=none,id=results" -device virtio-blk-pci,drive=results \
        "$@" </dev/null >"$work/$name.qemu.log" 2>&1
    rc=$?
    set -e
    E2E_BOOT_SECONDS=$(($(date +%s) - t0))
    tar -xf "$img" -C "$res" 2>/dev/null || true
    rm -f "$img"
    if [ $rc -eq 124 ] || [ $rc -eq 137 ]; then
        E2E_BOOT_ERROR="timed out after ${limit}s"
    elif [ $rc -ne 0 ]; then
        E2E_BOOT_ERROR="QEMU exited with status $rc: $(tail -n 3 "$work/$name.qemu.log" | tr '\n' ' ')"
    elif [ ! -e "$res/done" ]; then
        E2E_BOOT_ERROR="no results came back"
    else
        E2E_BOOT_ERROR=
    fi
    if ! grep -q E2E-GUEST-UP "$serial" 2>/dev/null; then
        E2E_BOOT_ERROR="the guest did not come up (${E2E_BOOT_ERROR:-no init}); serial log $serial"
    fi
    if [ -n "$E2E_BOOT_ERROR" ]; then
        e2e_log "boot $name: $E2E_BOOT_ERROR; last serial lines:"
        tail -n 15 "$serial" 2>/dev/null | sed 's/^/    | /' >&2
        return 1
    fi
    return 0
}
