# A fresh Debian root in which CI runs the README's commands (sourced by
# .ci/run, bash): made with mmdebstrap from this machine's apt sources, the
# suite renamed to the release wanted, as a fresh install has it (Essential
# and Priority important, plus git, sudo and ca-certificates), with one normal
# user of the sudo group. Everything that mounts, enters or removes the root
# is here, so that nothing of it stays behind on the host.
# Needs: ROOT (an absolute path, made and removed here), ROOT_USER and
# scripts/lib/install-missing.sh.

root_log() { printf '[ci] %s\n' "$*" >&2; }

# The keyrings the sources name (Signed-By), which the root's apt needs too.
root_source_keyrings() {
    apt_source_files | xargs -r sed -n -e 's/^Signed-By:[[:space:]]*\(\/[^[:space:]]*\).*/\1/p' \
        -e 's/.*signed-by=\(\/[^] ]*\).*/\1/p' | sort -u
}

# apt's configuration files that set how it reaches the archive (a proxy,
# credentials, how old a Release file may be): the root's apt reaches it the
# same way.
root_apt_network_settings() {
    local f
    for f in /etc/apt/apt.conf /etc/apt/apt.conf.d/*; do
        [[ -f $f ]] && grep -qi 'acquire' "$f" && echo "$f"
    done
    return 0
}

# root_mounts: the mount points at or below ROOT, deepest first (and among
# equals the newest first).
root_mounts() {
    local point
    while read -r _ _ _ _ point _; do
        point=$(printf '%b' "$point")  # mountinfo writes a space as \040
        [[ $point == "$ROOT" || $point == "$ROOT"/* ]] && printf '%s\n' "$point"
    done </proc/self/mountinfo | tac | awk '{ print gsub("/", "/"), $0 }' | sort -s -k1,1nr |
        cut -d' ' -f2-
}

# root_kill_processes: ends whatever still runs inside ROOT (a test's
# emulator, say), so that its mounts can go.
root_kill_processes() {
    local proc where
    for proc in /proc/[0-9]*; do
        where=$(readlink "$proc/root" 2>/dev/null) || continue
        [[ $where == "$ROOT" || $where == "$ROOT"/* ]] && kill -9 "${proc#/proc/}" 2>/dev/null
    done
    return 0
}

# root_remove: unmounts everything below ROOT, deepest first, then removes it
# without crossing into another file system. Safe to call when ROOT is gone.
root_remove() {
    local point
    [[ -e $ROOT ]] || { rm -rf "$ROOT.log" "$ROOT.sources"; return 0; }
    root_kill_processes
    sleep 1
    while read -r point; do
        [[ -n $point ]] || continue
        umount "$point" 2>/dev/null || umount --lazy "$point" ||
            root_log "cannot unmount $point"
    done < <(root_mounts)
    if [[ -n $(root_mounts) ]]; then
        root_log "still mounted below $ROOT, not removed:"
        root_mounts >&2
        return 1
    fi
    rm -rf --one-file-system "$ROOT" "$ROOT.log" "$ROOT.sources"
}

# root_binfmt_state: the host's binfmt_misc entries with their contents.
root_binfmt_state() {
    local entry
    for entry in /proc/sys/fs/binfmt_misc/*; do
        [[ -f $entry ]] || continue
        echo "== $entry"
        cat "$entry"
    done
}

# root_sources SUITE DIR: this machine's apt sources files, copied into DIR
# with the machine's own release renamed to SUITE wherever it names a suite
# (bookworm-security becomes SUITE-security and so on); prints the copies.
root_sources() {
    local suite=$1 dir=$2 own f copy
    own=$(. /etc/os-release && echo "$VERSION_CODENAME")
    [[ -n $own ]] || { root_log "this machine's release has no code name"; return 1; }
    mkdir -p "$dir"
    while read -r f; do
        copy=$dir/$(basename "$f")
        awk -v own="$own" -v suite="$suite" '
            /^[[:space:]]*(Suites:|deb(-src)?[[:space:]])/ {
                for (i = 1; i <= NF; i++)
                    if ($i == own || index($i, own "-") == 1) $i = suite substr($i, length(own) + 1)
            }
            { print }' "$f" >"$copy"
        echo "$copy"
    done < <(apt_source_files)
}

# root_make SUITE: the root, of release SUITE.
root_make() {
    local suite=$1 sources=() options=() keyring setting
    mapfile -t sources < <(root_sources "$suite" "$ROOT.sources")
    ((${#sources[@]} > 0)) || { root_log "no apt sources on this machine"; return 1; }
    while read -r setting; do
        options+=(--aptopt="$setting")
    done < <(root_apt_network_settings)
    if [[ -e /etc/apt/auth.conf || -n $(ls -A /etc/apt/auth.conf.d 2>/dev/null) ]]; then
        options+=(--setup-hook='cp -a /etc/apt/auth.conf* "$1/etc/apt/" 2>/dev/null || true')
    fi
    while read -r keyring; do
        [[ -f $keyring ]] || continue
        options+=(--customize-hook="[ -e \"\$1$keyring\" ] || install -D -m 644 $keyring \"\$1$keyring\"")
    done < <(root_source_keyrings)
    root_log "mmdebstrap --variant=important --include=git,sudo,ca-certificates $suite from ${sources[*]}${options:+ with ${options[*]}}"
    mmdebstrap --mode=root --variant=important --include=git,sudo,ca-certificates \
        "${options[@]}" "$suite" "$ROOT" "${sources[@]}" >"$ROOT.log" 2>&1 ||
        { tail -n 30 "$ROOT.log" >&2; root_log "mmdebstrap failed (log $ROOT.log)"; return 1; }
}

# root_set_up: the user (home 0700, password-less sudo for that user alone),
# no service starts, the host name resolvable, and /proc, /sys and /dev.
root_set_up() {
    chroot "$ROOT" useradd --create-home --groups sudo --shell /bin/bash "$ROOT_USER"
    chmod 0700 "$ROOT/home/$ROOT_USER"
    echo "$ROOT_USER ALL=(ALL:ALL) NOPASSWD: ALL" >"$ROOT/etc/sudoers.d/$ROOT_USER"
    chmod 0440 "$ROOT/etc/sudoers.d/$ROOT_USER"
    printf '#!/bin/sh\n# No package starts a service in this root.\nexit 101\n' \
        >"$ROOT/usr/sbin/policy-rc.d"
    chmod 0755 "$ROOT/usr/sbin/policy-rc.d"
    grep -qw localhost "$ROOT/etc/hosts" 2>/dev/null || echo "127.0.0.1 localhost" >>"$ROOT/etc/hosts"
    echo "127.0.1.1 $(hostname)" >>"$ROOT/etc/hosts"
    [[ -s $ROOT/etc/resolv.conf ]] || cp /etc/resolv.conf "$ROOT/etc/resolv.conf"
    # /proc and /sys without what is mounted below them (binfmt_misc among
    # it); /dev with its submounts, whose later changes do not reach the host.
    mount --bind /proc "$ROOT/proc"
    mount --bind /sys "$ROOT/sys"
    mount --rbind /dev "$ROOT/dev"
    mount --make-rslave "$ROOT/dev"
}

# root_clone BUNDLE: the user clones the bundle into ~/scanoutsnap.
root_clone() {
    install -m 0644 "$1" "$ROOT/tmp/scanoutsnap.bundle"
    chroot "$ROOT" /usr/sbin/runuser -u "$ROOT_USER" -- \
        git -c advice.detachedHead=false clone -q /tmp/scanoutsnap.bundle "/home/$ROOT_USER/scanoutsnap"
}

# root_run_as_user COMMAND: runs the command text with bash in the clone, as
# the user, with nothing of this environment but LANG=C.UTF-8 and what a
# login sets, and with standard input closed.
root_run_as_user() {
    chroot "$ROOT" /usr/sbin/runuser -u "$ROOT_USER" -- /usr/bin/env -i LANG=C.UTF-8 \
        HOME="/home/$ROOT_USER" USER="$ROOT_USER" LOGNAME="$ROOT_USER" SHELL=/bin/bash \
        PATH=/usr/local/bin:/usr/bin:/bin:/usr/local/games:/usr/games \
        /bin/bash -c 'cd ~/scanoutsnap && eval "$1"' bash "$1" 0<&-
}
