#!/bin/bash
# Runs inside the display-stack guest's Debian root file system (chroot, as
# root), started by guest/init: stacks.sh virtio|wlroots|cirrus|desktop. It starts
# the display stacks one after the other, puts windows on them, runs
# scanoutsnap and the stack's own screenshot tool, and records everything
# under /results; every verdict is made on the host (tests/e2e/stacks/run.sh).
#
# /results/STACK/ holds the stack's log, "ready" (ok, or why it did not come
# up) and the oracle's pictures; /results/CASE/ holds one tool run (args, rc,
# stdout, stderr, ls, files/), as in the scene suite.
set -u

BOOT=$1
R=/results
E2E=/e2e
export XDG_RUNTIME_DIR=/run/user/0 HOME=/root WAYLAND_DISPLAY=wayland-e2e
# Weston 11 on opens the display through libseat: as root, its builtin
# backend (a seat daemon inside the compositor, which ends with it).
export LIBSEAT_BACKEND=builtin
# The emulated arm64 machine is several times slower.
if [ "$(uname -m)" = aarch64 ]; then SLOW=3; else SLOW=1; fi
STACK_DEADLINE=$((90 * SLOW))
SETTLE_TRIES=$((20 * SLOW))

# log TEXT: to the log, and to the console, whose serial log the host keeps
# also when a boot times out.
log() {
    echo "stacks: $(date +%T) $*"
    echo "stacks: $(date +%T) $*" >/dev/console 2>/dev/null
}

# ------------------------------------------------------------------ the tool

# install_tool: the project's package with dpkg (its dependencies are in the
# root file system already), or a bare binary given with --tool.
install_tool() {
    local d=$R/install
    mkdir -p "$d"
    if [ -f $E2E/scanoutsnap.deb ]; then
        dpkg -i $E2E/scanoutsnap.deb >"$d/dpkg.log" 2>&1
        echo $? >"$d/rc"
        dpkg-query -W -f='${Status} ${Version} ${Architecture}\n' scanoutsnap >"$d/status" 2>&1
    else
        install -m 755 $E2E/scanoutsnap /usr/bin/scanoutsnap
        echo $? >"$d/rc"
        echo "copied, no package" >"$d/status"
    fi
    [ ! -f /usr/bin/scanoutsnap ] || cp /usr/bin/scanoutsnap "$d/scanoutsnap"
    log "tool installed: $(cat "$d/status")"
}

# tool_run CASE [ARG...]: runs the tool in a fresh directory with a clean
# environment, as root, under a timeout.
tool_run() {
    local c=$1 d wd f
    shift
    d=$R/$c
    wd=$(mktemp -d /tmp/wd.XXXXXX)
    mkdir -p "$d/files"
    echo "$*" >"$d/args"
    (cd "$wd" && exec timeout 60 env -i PATH=/usr/bin:/bin scanoutsnap "$@") \
        >"$d/stdout" 2>"$d/stderr"
    echo $? >"$d/rc"
    : >"$d/ls"
    for f in "$wd"/* "$wd"/.[!.]*; do
        [ -e "$f" ] || continue
        stat -c '%u:%g %a %s %n' "$f" | sed "s|$wd/||" >>"$d/ls"
        [ -f "$f" ] && cp "$f" "$d/files/"
    done
    rm -rf "$wd"
    log "ran $c: rc $(cat "$d/rc")"
}

# settle SHOT-FUNCTION DIR [PREVIOUS]: takes pictures with SHOT-FUNCTION until
# two in a row are equal (the clients have drawn and nothing moves) and, with
# PREVIOUS, differ from that picture (a new client has shown itself). The
# last picture stays as DIR/still.
settle() {
    local shot=$1 dir=$2 prev=${3:-} n=0 equal=${1%_shot}_equal
    rm -f "$dir"/settle-*
    "$shot" "$dir/settle-0" || return 1
    while [ $n -lt "$SETTLE_TRIES" ]; do
        sleep 1
        n=$((n + 1))
        "$shot" "$dir/settle-$n" || return 1
        if "$equal" "$dir/settle-$((n - 1))" "$dir/settle-$n" &&
            { [ -z "$prev" ] || ! "$equal" "$prev" "$dir/settle-$n"; }; then
            mv "$dir/settle-$n" "$dir/still"
            rm -f "$dir"/settle-*
            log "screen still after $n pictures"
            return 0
        fi
    done
    echo "the screen did not ${prev:+change and }keep still over $SETTLE_TRIES pictures" >"$dir/settle-failed"
    return 1
}

# ------------------------------------------------------------------ Weston

weston_shot() { # weston_shot OUT: weston-screenshooter's PNG
    local t
    t=$(mktemp -d /tmp/shot.XXXXXX)
    (cd "$t" && timeout $((20 * SLOW)) weston-screenshooter) >"$t.log" 2>&1
    set -- "$1" "$t"/*.png
    if [ ! -f "$2" ]; then
        log "weston-screenshooter wrote no PNG: $(cat "$t.log")"
        rm -rf "$t" "$t.log"
        return 1
    fi
    mv "$2" "$1"
    rm -rf "$t" "$t.log"
}

# weston_options: how this Weston is told to drive the DRM device with the
# pixman renderer, from what its --help offers. Weston 10 takes the backend's
# module file, --use-pixman and the VT (--tty, its own launcher); Weston 14
# takes the backend's name and --renderer=, and opens the seat with libseat.
weston_options() {
    local help
    help=$(weston --help 2>&1)
    if grep -q 'drm-backend\.so' <<<"$help"; then echo --backend=drm-backend.so; else echo --backend=drm; fi
    if grep -q -- '--renderer=' <<<"$help"; then echo --renderer=pixman; else echo --use-pixman; fi
    if grep -q -- '--tty=' <<<"$help"; then echo --tty=1; fi
}

# fresh_runtime_dir: an empty XDG_RUNTIME_DIR for the next stack.
fresh_runtime_dir() {
    rm -rf "$XDG_RUNTIME_DIR"
    mkdir -m 700 -p "$XDG_RUNTIME_DIR"
}

# weston_start DIR INI: Weston on the DRM device with the pixman renderer;
# 0 once its socket is there and a client's round trip succeeds.
weston_start() {
    local d=$1 ini=$2
    mkdir -p "$d"
    export XDG_RUNTIME_DIR=/run/user/0 WAYLAND_DISPLAY=wayland-e2e
    fresh_runtime_dir
    # shellcheck disable=SC2046
    weston $(weston_options) --continue-without-input --debug \
        --socket="$WAYLAND_DISPLAY" --config="$ini" --log="$d/weston.log" >"$d/weston.out" 2>&1 &
    STACK_PID=$!
    await_stack "$d" weston wayland_answers
}
wayland_answers() { # wayland_answers DIR
    [ -S "$XDG_RUNTIME_DIR/$WAYLAND_DISPLAY" ] &&
        timeout $((10 * SLOW)) wayland-info >"$1/wayland-info.txt" 2>&1
}

# await_stack DIR NAME PROBE: polls PROBE DIR until it succeeds, while the
# server STACK_PID runs, within the deadline; writes DIR/ready (ok or why not).
await_stack() {
    local d=$1 name=$2 probe=$3 n=0
    while [ $n -lt $((STACK_DEADLINE * 2)) ]; do
        if ! kill -0 "$STACK_PID" 2>/dev/null; then
            wait "$STACK_PID"
            echo "$name exited with status $? before it was ready" >"$d/ready"
            return 1
        fi
        if "$probe" "$d"; then
            echo ok >"$d/ready"
            log "$name ready after $((n / 2)) s"
            return 0
        fi
        sleep 0.5
        n=$((n + 1))
    done
    echo "no answer from $name within ${STACK_DEADLINE}s" >"$d/ready"
    return 1
}

# stack_stop DIR: ends the clients and the server and waits until the server
# has exited, so that the next stack finds the device free.
stack_stop() {
    local d=$1
    [ -z "${CLIENT_PIDS:-}" ] || kill $CLIENT_PIDS 2>/dev/null
    kill "$STACK_PID" 2>/dev/null
    wait "$STACK_PID"
    echo $? >"$d/exit"
    [ -z "${CLIENT_PIDS:-}" ] || wait $CLIENT_PIDS 2>/dev/null
    CLIENT_PIDS=
    if [ -n "${SEATD_PID:-}" ]; then
        kill "$SEATD_PID" 2>/dev/null
        wait "$SEATD_PID"
        SEATD_PID=
    fi
    log "stack in $d ended"
}

# weston_windows DIR TITLE...: waits until Weston's scene graph (a debug
# stream) holds a top-level window of each title.
weston_windows() {
    local d=$1 n=0 t missing
    shift
    while [ $n -lt "$STACK_DEADLINE" ]; do
        timeout $((10 * SLOW)) weston-debug scene-graph >"$d/scene-graph.txt" 2>&1
        missing=
        for t; do grep -qF "top-level window '$t'" "$d/scene-graph.txt" || missing="$missing '$t'"; done
        [ -n "$missing" ] || { log "windows on screen after ${n}s:$(printf " '%s'" "$@")"; return 0; }
        sleep 1
        n=$((n + 1))
    done
    echo "windows$missing not on screen within ${STACK_DEADLINE}s" >"$d/settle-failed"
    return 1
}

# weston_desktop DIR: windows with an image, a title and a drawing on the
# shell's tiled background and panel.
weston_desktop() {
    local d=$1
    # One after the other: started together, the shell placed them over each
    # other and the image hid the flower.
    weston-image /usr/share/weston/wayland.png >"$d/image.log" 2>&1 &
    CLIENT_PIDS="$!"
    weston_windows "$d" 'Wayland Image - wayland.png' || return 1
    weston-flower >"$d/flower.log" 2>&1 &
    CLIENT_PIDS="$CLIENT_PIDS $!"
    weston_windows "$d" 'Wayland Image - wayland.png' Flower && settle weston_shot "$d"
}

# weston_case NAME INI ORACLE: the tool between two oracle pictures.
# ORACLE: weston (weston-screenshooter) or reader (the suite's own reader).
weston_case() {
    local name=$1 ini=$2 oracle=$3 d=$R/$1
    weston_start "$d" "$ini" || { stack_stop "$d"; return 1; }
    if weston_desktop "$d"; then
        oracle_pair "$name" "$oracle" "$d"
        [ "$name" != weston ] || busy_case "$d" busy weston
        # What Weston's own screenshot makes of this output, for the record.
        [ "$oracle" != reader ] || weston_shot "$d/screenshooter"
    fi
    stack_stop "$d"
}

reader_shot() { # reader_shot OUT: the framebuffer on screen, as the suite reads it
    $E2E/scanoutsnap-e2e-scene dump "$1" 2>>"$1.log"
}

# oracle_pair CASE ORACLE DIR: before, the tool, after; and the planes the
# display showed just before the tool ran, as the suite's reader lists them.
oracle_pair() {
    local c=$1 shot=$2_shot d=$3
    $shot "$d/before" || echo "before: $?" >>"$d/oracle-failed"
    $E2E/scanoutsnap-e2e-scene planes >"$d/planes.txt" 2>&1
    tool_run "$c"
    $shot "$d/after" || echo "after: $?" >>"$d/oracle-failed"
}
weston_equal() { cmp -s "$1" "$2"; }
xwd_shot() { xwd -root -silent -out "$1" 2>"$1.log"; }
# xwd_equal A B: the same pixels. The colour entries before them are not
# compared: xwd leaves their pad bytes uninitialised.
xwd_equal() {
    local h
    read -r -a h < <(od -An -tu4 --endian=big -N 80 "$1" | tr -s ' \n' ' ')
    cmp -s -i "$((h[0] + h[19] * 12))" "$1" "$2"
}

# busy_case DIR CASE ORACLE: while a client animates, the tool twenty times
# in a row (CASE-1 to CASE-20), with ORACLE's pictures before and after that
# tell where the animation is. Weston's scene graph tells when the client's
# window is there; elsewhere the animation's first change does.
busy_case() {
    local d=$1/busy c=$2 shot=$3_shot i n=0
    mkdir -p "$d"
    weston-simple-shm >"$d/simple-shm.log" 2>&1 &
    CLIENT_PIDS="$CLIENT_PIDS $!"
    [ "$3" != weston ] || weston_windows "$d" simple-shm || return 0
    # Wait until the animation shows: two pictures in a row differ.
    $shot "$d/probe-a"
    while [ $n -lt "$SETTLE_TRIES" ]; do
        $shot "$d/probe-b"
        cmp -s "$d/probe-a" "$d/probe-b" || break
        mv "$d/probe-b" "$d/probe-a"
        n=$((n + 1))
    done
    rm -f "$d"/probe-*
    for i in 1 2 3; do $shot "$d/oracle-$i"; done
    for i in $(seq 1 20); do tool_run "$c-$i"; done
    for i in 4 5 6; do $shot "$d/oracle-$i"; done
}

# ------------------------------------------------------------------ wlroots

grim_shot() { timeout $((20 * SLOW)) grim "$1" 2>"$1.log"; }
grim_equal() { cmp -s "$1" "$2"; }

# cursor_shot DIR: grim's picture with the pointer drawn in (-c), after the
# tool's run: to draw it, wlroots puts the pointer into the frame it shows.
cursor_shot() { timeout $((20 * SLOW)) grim -c "$1/with-cursor" 2>"$1/with-cursor.log"; }

# wlr_start DIR NAME COMMAND...: a wlroots compositor on the DRM device with
# the pixman renderer and no input devices, not nested in the stack before
# (no WAYLAND_DISPLAY or DISPLAY), run as a normal user (WLR_UID; cage 0.1
# refuses to run as root), who reaches the display through a seatd of its
# own: a seatd that had served a killed compositor was seen to refuse the
# next one. 0 once its socket (the first free name, wayland-0 in the fresh
# runtime directory) answers a round trip; then DIR/empty is a picture of
# its empty screen. The user is the guest's own (an overlay's /etc/passwd).
WLR_USER=stacks WLR_UID=1000
wlr_start() {
    local d=$1 name=$2 n=0 home=/tmp/wlr-home
    shift 2
    mkdir -p "$d"
    export XDG_RUNTIME_DIR=/run/user/$WLR_UID WAYLAND_DISPLAY=wayland-0
    fresh_runtime_dir
    rm -rf $home
    mkdir -p $home
    # seatd takes the user's and group's names.
    grep -q "^$WLR_USER:" /etc/passwd || {
        echo "$WLR_USER:x:$WLR_UID:$WLR_UID::$home:/bin/sh" >>/etc/passwd
        echo "$WLR_USER:x:$WLR_UID:" >>/etc/group
    }
    chown $WLR_UID:$WLR_UID "$XDG_RUNTIME_DIR" $home
    rm -f /run/seatd.sock
    seatd -u $WLR_USER -g $WLR_USER -l info >"$d/seatd.log" 2>&1 &
    SEATD_PID=$!
    while [ ! -S /run/seatd.sock ] && [ $n -lt $((STACK_DEADLINE * 5)) ]; do
        sleep 0.2
        n=$((n + 1))
    done
    env -u WAYLAND_DISPLAY -u DISPLAY HOME=$home LIBSEAT_BACKEND=seatd WLR_RENDERER=pixman \
        WLR_LIBINPUT_NO_DEVICES=1 $E2E/scanoutsnap-e2e-scene runas $WLR_UID $WLR_UID \
        "$(command -v "$1" || echo "$1")" "${@:2}" >"$d/$name.log" 2>&1 &
    STACK_PID=$!
    await_stack "$d" "$name" wayland_answers || return 1
    grim_shot "$d/empty"
}

# client DIR NAME PREVIOUS COMMAND...: starts a client and waits until the
# screen has changed from PREVIOUS and keeps still; DIR/NAME.png is then the
# screen.
client() {
    local d=$1 name=$2 prev=$3
    shift 3
    "$@" >"$d/$name.log" 2>&1 &
    CLIENT_PIDS="${CLIENT_PIDS:-} $!"
    settle grim_shot "$d" "$prev" && mv "$d/still" "$d/$name.png"
}

# labwc_case: labwc with a tiled background (swaybg) and two clients placed
# by its window rules, the tool between two grim pictures; then labwc-busy.
labwc_case() {
    local d=$R/labwc
    if wlr_start "$d" labwc labwc -C $E2E/labwc &&
        client "$d" swaybg "$d/empty" swaybg -i /usr/share/weston/pattern.png -m tile &&
        client "$d" image "$d/swaybg.png" weston-image /usr/share/weston/wayland.png &&
        client "$d" flower "$d/image.png" weston-flower; then
        oracle_pair labwc grim "$d"
        cursor_shot "$d"
        busy_case "$d" labwc-busy grim
    fi
    stack_stop "$d"
}

# cage_case: cage showing one client full screen, the tool between two grim
# pictures. The client waits for a file, so that cage's empty screen comes
# first.
cage_case() {
    local d=$R/cage go=/tmp/cage-go
    rm -f $go
    if wlr_start "$d" cage cage -- sh -c "while [ ! -e $go ]; do sleep 0.2; done;
            exec weston-image /usr/share/weston/wayland.png" &&
        touch $go && settle grim_shot "$d" "$d/empty"; then
        oracle_pair cage grim "$d"
        cursor_shot "$d"
    fi
    stack_stop "$d"
}

# ------------------------------------------------------------------ Xorg

# xorg_start DIR DEPTH: the X server with the modesetting driver; 0 once
# xdpyinfo gets an answer.
xorg_start() {
    local d=$1 depth=$2
    mkdir -p "$d"
    export DISPLAY=:0
    Xorg :0 vt1 -config $E2E/xorg.conf -depth "$depth" -s 0 -dpms -nocursor -noreset \
        -novtswitch -nolisten tcp -logfile "$d/xorg.log" >"$d/xorg.out" 2>&1 &
    STACK_PID=$!
    await_stack "$d" Xorg xorg_answers
}
xorg_answers() { timeout $((10 * SLOW)) xdpyinfo >"$1/xdpyinfo.txt" 2>&1; }

# xorg_case NAME DEPTH: a patterned root window, three client windows, and
# the tool between two xwd pictures of the root window.
xorg_case() {
    local name=$1 depth=$2 d=$R/$1
    xorg_start "$d" "$depth" || { stack_stop "$d"; return 1; }
    xsetroot -mod 16 16 -fg '#2a5d9f' -bg '#d8c47a'
    xlogo -geometry 220x220+40+40 >"$d/xlogo.log" 2>&1 &
    CLIENT_PIDS="$!"
    xeyes -geometry 260x180+300+40 >"$d/xeyes.log" 2>&1 &
    CLIENT_PIDS="$CLIENT_PIDS $!"
    xmessage -geometry +40+320 "scanoutsnap under Xorg at depth $depth ($(uname -m))" \
        >"$d/xmessage.log" 2>&1 &
    CLIENT_PIDS="$CLIENT_PIDS $!"
    settle xwd_shot "$d" && oracle_pair "$name" xwd "$d"
    stack_stop "$d"
}

# ------------------------------------------------------------------ boots

boot_virtio() {
    install_tool
    weston_case weston $E2E/weston.ini weston
    xorg_case xorg24 24
}

# The wlroots stacks, also on virtio-gpu, in a boot of their own that can
# run beside the other ones: labwc where the host says the release has it.
boot_wlroots() {
    install_tool
    ! grep -qx labwc $E2E/optional-stacks || labwc_case
    cage_case
}

boot_cirrus() {
    install_tool
    xorg_case xorg16 16
    weston_case weston565 $E2E/weston-rgb565.ini reader
}

# desktop: the README's picture, a Weston desktop captured by the tool.
boot_desktop() {
    local d=$R/desktop
    install_tool
    weston_start "$d" $E2E/weston.ini || { stack_stop "$d"; return 1; }
    weston_desktop "$d" && tool_run shot
    stack_stop "$d"
}

log "boot $BOOT on $(uname -m), kernel $(uname -r)"
case "$BOOT" in
virtio | wlroots | cirrus | desktop) "boot_$BOOT" ;;
*) echo "unknown boot '$BOOT'" >$R/error ;;
esac
log "boot $BOOT done"
