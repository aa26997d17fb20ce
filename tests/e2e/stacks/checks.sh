# The display-stack tier's verdicts (sourced by run.sh, bash), made on the
# host from what a boot brought back in $res: case functions for check()
# (lib.sh). Needs: pngcmp, want_tool, E2E_DEB_ARCH, arch, tool, work,
# STACKS_OPTIONAL (the optional stacks the guest has, one a line).

# The tail of a log, for a stack that did not come up or a case that did not run.
why_log() { # why_log FILE
    [ -s "$1" ] || { why "  ($(basename "$1"): missing or empty)"; return 0; }
    why "  last lines of $1:"
    while IFS= read -r line; do why "    | $line"; done < <(tail -n 12 "$1")
}

# stack_up DIR LOG: the stack in DIR came up (its "ready" says ok).
stack_up() {
    local ready
    ready=$(cat "$res/$1/ready" 2>/dev/null || echo "the guest never started it")
    [ "$ready" = ok ] && return 0
    why "stack $1 did not come up: $ready"
    why_log "$res/$1/$2"
    why_log "$res/stacks.log"
    return 1
}

# ran CASE STACK LOG: the tool ran in CASE.
ran() {
    [ -f "$res/$1/rc" ] && return 0
    why "the guest did not run case $1"
    [ ! -f "$res/$2/settle-failed" ] || why "  $(cat "$res/$2/settle-failed")"
    why_log "$res/$2/$3"
    why_log "$res/stacks.log"
    return 1
}

# tool_ok CASE [FILE]: status 0, nothing on standard output or error, only
# FILE (default screenshot.png), owned by root, in the working directory, and
# in the format scanoutsnap writes.
tool_ok() {
    local c=$1 f=${2:-screenshot.png} got out
    got=$(cat "$res/$c/rc")
    [ "$got" = 0 ] || why "$c: exit status $got, want 0"
    [ ! -s "$res/$c/stdout" ] || why "$c: standard output not empty: $(head -c 200 "$res/$c/stdout")"
    [ ! -s "$res/$c/stderr" ] ||
        why "$c: standard error not empty: $(head -c 300 "$res/$c/stderr" | tr '\n' '|')"
    got=$(awk '{ print $1, $4 }' "$res/$c/ls" | tr '\n' ';')
    [ "$got" = "0:0 $f;" ] || why "$c: working directory holds [$got], want [0:0 $f;]"
    [ -f "$res/$c/files/$f" ] || return 0
    out=$("$pngcmp" format "$res/$c/files/$f" 2>&1) || why "$c: $out"
}

# rich PNG: a picture of more than a few colours (windows, text, an image).
rich() {
    local n
    n=$("$pngcmp" colours "$1" 2>&1) || { why "$n"; return 0; }
    [ "$n" -ge 16 ] 2>/dev/null || why "$(basename "$1") has only $n colours: not a desktop"
}

# same A B [BOX]: equal RGB pixels (outside the box).
same() {
    local out
    # shellcheck disable=SC2086
    out=$("$pngcmp" same "$1" "$2" ${3:-} 2>&1) || why "$out"
}

case_install() {
    local d=$res/install machine
    [ -f "$d/rc" ] || { why "the guest did not install the tool"; why_log "$res/stacks.log"; return 0; }
    [ "$(cat "$d/rc")" = 0 ] || { why "installation ended with $(cat "$d/rc")"; why_log "$d/dpkg.log"; }
    if [ -z "$tool" ]; then
        grep -q '^install ok installed ' "$d/status" ||
            why "dpkg-query: $(cat "$d/status")"
    fi
    [ -f "$d/scanoutsnap" ] || { why "no /usr/bin/scanoutsnap in the guest"; return 0; }
    [ "$(sha256sum <"$d/scanoutsnap")" = "$(sha256sum <"$want_tool")" ] ||
        why "/usr/bin/scanoutsnap in the guest is not the binary given to it"
    machine=$(readelf -h "$d/scanoutsnap" | sed -n 's/^ *Machine: *//p')
    case "$E2E_DEB_ARCH:$machine" in
    arm64:AArch64 | amd64:*X86-64) note "installed binary: $machine, sha256 $(sha256sum <"$d/scanoutsnap" | cut -c1-16)..." ;;
    *) why "/usr/bin/scanoutsnap is built for '$machine', not $E2E_DEB_ARCH" ;;
    esac
}

# Weston on virtio-gpu, XRGB8888: the tool's PNG is weston-screenshooter's.
case_weston() {
    local s=$res/weston
    stack_up weston weston.log || return 0
    ran weston weston weston.log || return 0
    tool_ok weston
    same "$s/after" "$s/before" || why "the screen changed while the tool ran"
    same "$res/weston/files/screenshot.png" "$s/before"
    rich "$s/before"
    note "weston-screenshooter on XRGB8888, still desktop: $("$pngcmp" alpha "$s/before" 2>&1)"
}

# A busy stack: twenty runs while a client animates; outside the animated
# region (where the oracle's pictures differ) each PNG is the oracle's.
# case_busy STACK CASE: the stack's directory and log (STACK.log), the runs'
# names (CASE-1 to CASE-20).
case_busy() {
    local st=$1 c=$2 s=$res/$1/busy i box n=0
    stack_up "$st" "$st.log" || return 0
    ran "$c-20" "$st/busy" simple-shm.log || return 0
    box=$("$pngcmp" box "$s"/oracle-{1,2,3,4,5,6} 2>&1) || { why "$box"; return 0; }
    if [ "$box" = none ]; then
        why "the oracle's six pictures are equal: the client did not animate"
        why_log "$s/simple-shm.log"
        return 0
    fi
    read -r -a b <<<"$box"
    [ $((b[2] * b[3] * 4)) -lt "$(png_pixels "$s/oracle-1")" ] ||
        why "the animated region $box covers a quarter of the screen or more"
    note "animated region ${b[2]}x${b[3]} at ${b[0]},${b[1]}"
    for i in $(seq 1 20); do
        [ -f "$res/$c-$i/rc" ] || { why "run $i did not happen"; continue; }
        tool_ok "$c-$i"
        [ -f "$res/$c-$i/files/screenshot.png" ] || continue
        same "$res/$c-$i/files/screenshot.png" "$s/oracle-1" "$box" &&
            n=$((n + 1))
    done
    note "$n of 20 PNGs equal the oracle outside the animated region"
    note "the oracle with simple-shm on screen: $("$pngcmp" alpha "$s/oracle-1" 2>&1)"
}
png_pixels() { "$pngcmp" info "$1" | awk -Fx '{ split($2, h, " "); print $1 * h[1] }'; }

# Xorg: the tool's PNG is xwd -root's dump, scaled as the tool must.
xorg_checks() { # xorg_checks CASE
    local c=$1 s=$res/$1 out
    stack_up "$c" xorg.log || return 0
    ran "$c" "$c" xorg.log || return 0
    tool_ok "$c"
    out=$("$pngcmp" xwd-same "$s/before" "$s/after" 2>&1) ||
        why "the screen changed while the tool ran (xwd before != after): $out"
    out=$("$pngcmp" xwd "$res/$c/files/screenshot.png" "$s/before" 2>&1) || why "$out"
    rich "$res/$c/files/screenshot.png"
}
case_xorg24() { xorg_checks xorg24; }
case_xorg16() { xorg_checks xorg16; }

# Weston with an RGB565 output on cirrus: the tool's PNG is the suite's own
# reading of the framebuffer, scaled as the tool must.
case_weston565() {
    local s=$res/weston565 out
    stack_up weston565 weston.log || return 0
    ran weston565 weston565 weston.log || return 0
    tool_ok weston565
    cmp -s "$s/before" "$s/after" || why "the screen changed while the tool ran (before != after)"
    grep -q 'format 0x36314752' "$s/before.log" ||
        why "the framebuffer is not RGB565: $(cat "$s/before.log")"
    out=$("$pngcmp" compare "$res/weston565/files/screenshot.png" "$s/before" 2>&1) || why "$out"
    rich "$res/weston565/files/screenshot.png"
    note "weston-screenshooter on RGB565: $("$pngcmp" alpha "$s/screenshooter" 2>&1)," \
        "$("$pngcmp" colours "$s/screenshooter" 2>&1) colour(s)"
}

# planes_ok STACK: the display's planes as the suite's reader listed them
# just before the tool ran: the primary plane shows a linear XRGB8888
# framebuffer of the PNG's size over the whole CRTC, no overlay plane shows
# anything, and whatever the cursor plane shows (the pointer, in neither the
# tool's picture nor grim's) is where `grim -c`, which draws the pointer
# into its picture, differs from the tool's PNG, and the only place.
planes_ok() {
    local f=$res/$1/planes.txt png=$res/$1/files/screenshot.png size line box
    local -a pl b
    [ -s "$f" ] || { why "no list of the planes"; return 0; }
    size=$("$pngcmp" info "$png" 2>/dev/null | cut -d' ' -f1)
    # plane ID TYPE crtc C fb F WxH pitch P format X modifier M src X,Y WxH at X,Y WxH
    line=$(grep ' primary ' "$f" | grep -v ' fb 0$' || true)
    read -r -a pl <<<"$line"
    [ "${pl[7]:-}" = "$size" ] && [ "${pl[11]}" = 0x34325258 ] && [ "${pl[13]}" = 0x0 ] &&
        [ "${pl[18]}" = 0,0 ] && [ "${pl[19]}" = "$size" ] ||
        why "the primary plane does not show a linear XRGB8888 framebuffer of $size over the whole screen: ${line:-none}"
    line=$(grep ' overlay ' "$f" | grep -v ' fb 0$' || true)
    [ -z "$line" ] || why "an overlay plane shows a framebuffer, which neither picture holds: $line"
    note "planes: $(paste -sd';' "$f" | sed 's/;/; /g')"
    [ -f "$res/$1/with-cursor" ] || { why "no picture from grim -c"; return 0; }
    box=$("$pngcmp" box "$png" "$res/$1/with-cursor" 2>&1) || { why "$box"; return 0; }
    line=$(grep ' cursor ' "$f" | grep -v ' fb 0$' || true)
    if [ -z "$line" ]; then
        [ "$box" = none ] || why "no cursor plane shows anything, yet grim -c differs from the PNG in $box"
        return 0
    fi
    read -r -a pl <<<"$line"
    [ "${pl[11]}" = 0x34325241 ] && [ "${pl[13]}" = 0x0 ] ||
        why "the cursor plane's framebuffer is not linear ARGB8888: $line"
    [ "$box" != none ] || { why "grim -c shows no pointer where the cursor plane shows $line"; return 0; }
    read -r -a b <<<"$box"
    local cx=${pl[18]%,*} cy=${pl[18]#*,} cw=${pl[19]%x*} ch=${pl[19]#*x}
    [ "${b[0]}" -ge "$cx" ] && [ "${b[1]}" -ge "$cy" ] && [ $((b[0] + b[2])) -le $((cx + cw)) ] &&
        [ $((b[1] + b[3])) -le $((cy + ch)) ] ||
        why "grim -c differs from the PNG in $box, outside the cursor plane's ${pl[19]} at ${pl[18]}"
    note "grim -c differs from the PNG in ${b[2]}x${b[3]} at ${b[0]},${b[1]}, inside the cursor plane's ${pl[19]} at ${pl[18]}"
}

# A wlroots compositor: the tool's PNG is grim's (wlr-screencopy, the
# compositor's own rendering).
case_wlr() { # case_wlr STACK
    local c=$1 s=$res/$1
    stack_up "$c" "$c.log" || return 0
    ran "$c" "$c" "$c.log" || return 0
    tool_ok "$c"
    same "$s/after" "$s/before" || why "the screen changed while the tool ran"
    same "$s/files/screenshot.png" "$s/before"
    rich "$s/before"
    planes_ok "$c"
}

checks_virtio() {
    local p=$arch/virtio
    check "$p/weston: Weston (DRM, pixman) XRGB8888, PNG == weston-screenshooter" case_weston
    check "$p/busy: 20 runs while weston-simple-shm animates, PNG == oracle outside it" case_busy weston busy
    check "$p/xorg24: Xorg modesetting depth 24, PNG == xwd -root" case_xorg24
}
checks_wlroots() {
    local p=$arch/wlroots
    if grep -qx labwc <<<"$STACKS_OPTIONAL"; then
        check "$p/labwc: labwc (wlroots, pixman), background and two windows, PNG == grim" case_wlr labwc
        check "$p/labwc-busy: 20 runs while weston-simple-shm animates in labwc, PNG == grim outside it" \
            case_busy labwc labwc-busy
    fi
    check "$p/cage: cage (wlroots, pixman) with one client full screen, PNG == grim" case_wlr cage
}
checks_cirrus() {
    local p=$arch/cirrus
    check "$p/xorg16: Xorg modesetting depth 16 (RGB565), PNG == xwd -root scaled" case_xorg16
    check "$p/weston565: Weston gbm-format=rgb565, PNG == the suite's reader scaled" case_weston565
}
