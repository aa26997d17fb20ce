#!/usr/bin/env bash
# End-to-end suite: boots Debian's own kernel under QEMU (TCG) with real DRM
# drivers, runs the real scanoutsnap binary inside and checks its statuses,
# diagnostic bytes and PNG pixels on the host.
#
#   bash tests/e2e/run.sh --arch x86_64 --build-dir build
#   bash tests/e2e/run.sh --arch aarch64 --build-dir build-arm64
#
# Options:
#   --arch ARCH       guest architecture: x86_64 (default) or aarch64
#   --build-dir DIR   where the project is built (x86_64: build, aarch64:
#                     build-arm64, cross-built with
#                     cmake/toolchains/aarch64-linux-gnu.cmake); the boots'
#                     work files go below DIR/e2e, the kernel to
#                     build-cache/ (E2E_CACHE), shared with the other suites
#   --tool PATH       test this scanoutsnap binary instead of building
#                     DIR/scanoutsnap
#   --boots LIST      comma-separated subset of the boots virtio, cirrus,
#                     bochs (default: all three, one after another per core)
#   --harness-only    only the suite's own checks of its scene and reader
#   --no-install      do not apt-get anything
# Environment: E2E_BOOT_TIMEOUT (seconds per boot), E2E_JOBS (parallel
# boots, default: number of cores), E2E_CMAKE_ARGS (extra configure args),
# E2E_CACHE (where kernels and guest images are kept).
#
# Prints one PASS/FAIL line per case and closes with "N passed, N failed";
# exits non-zero when any case failed. A configuration that a driver refused
# fails its cases.
set -euo pipefail

E2E_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
E2E_DIR=$E2E_ROOT/tests/e2e
# shellcheck source=tests/e2e/lib.sh
source "$E2E_DIR/lib.sh"

arch=x86_64
build_dir=
tool=
boots=
harness_only=
install=1
while [ $# -gt 0 ]; do
    case "$1" in
    --arch) arch=$2; shift 2 ;;
    --build-dir) build_dir=$2; shift 2 ;;
    --tool) tool=$2; shift 2 ;;
    --boots) boots=$2; shift 2 ;;
    --harness-only) harness_only=1; shift ;;
    --no-install) install=; shift ;;
    -h | --help) sed -n '2,26p' "$0"; exit 0 ;;
    *) e2e_die "unknown option $1 (see --help)" ;;
    esac
done

t_start=$(date +%s)
e2e_arch_setup "$arch"
if [ -z "$build_dir" ]; then
    if [ "$arch" = x86_64 ]; then build_dir=build; else build_dir=build-arm64; fi
fi
case "$build_dir" in /*) ;; *) build_dir=$E2E_ROOT/$build_dir ;; esac
[ -n "$boots" ] || boots=virtio,cirrus,bochs
cache=$E2E_CACHE
work=$build_dir/e2e/$arch
mkdir -p "$cache" "$work"

[ -n "$install" ] && e2e_install_packages

# ------------------------------------------------------------------ build
# The tool comes from the project's build; the suite's helpers are built from
# tests/e2e on their own, so that they do not depend on how the project's
# build is configured: the scene helper for the guest, the checker for the host.
log=$work/build.log
: >"$log"
if [ -z "$tool" ]; then
    e2e_log "building scanoutsnap in $build_dir"
    # shellcheck disable=SC2086
    e2e_build_step "$log" "configure" cmake -S "$E2E_ROOT" -B "$build_dir" \
        ${E2E_CMAKE_ARCH_ARGS[@]+"${E2E_CMAKE_ARCH_ARGS[@]}"} ${E2E_CMAKE_ARGS:-}
    e2e_build_step "$log" "build of scanoutsnap" \
        cmake --build "$build_dir" --parallel "$(nproc)" --target scanoutsnap
    tool=$build_dir/scanoutsnap
fi
e2e_build_helpers "$build_dir" "$log"
e2e_build_step "$log" "build of the ioctl timer" \
    cmake --build "$build_dir/e2e/helpers" --parallel "$(nproc)" --target scanoutsnap-e2e-ioctl-times
scene=$E2E_SCENE
pngcmp=$E2E_PNGCMP
guest_bins=("$scene" "$build_dir/e2e/helpers/scanoutsnap-e2e-ioctl-times.so")
if [ -z "$harness_only" ]; then
    [ -x "$tool" ] || e2e_die "no scanoutsnap binary at $tool"
    guest_bins+=("$tool")
fi

# ------------------------------------------------------------------ guest
e2e_fetch_kernel "$cache"
e2e_fetch_busybox "$cache"
initrd=$work/initrd.gz
# The tool must appear in the guest as /usr/local/bin/scanoutsnap.
if [ -z "$harness_only" ] && [ "$(basename "$tool")" != scanoutsnap ]; then
    mkdir -p "$work/tool"
    cp "$tool" "$work/tool/scanoutsnap"
    guest_bins[2]=$work/tool/scanoutsnap
fi
e2e_build_initramfs "$initrd" "$E2E_DIR/guest/init" "${guest_bins[@]}"
e2e_log "initramfs $(du -h "$initrd" | cut -f1) with ${guest_bins[*]}"

declare -A boot_devices=(
    [virtio]="-device virtio-gpu-pci,max_outputs=2"
    [cirrus]="-device cirrus-vga"
    [bochs]="-device bochs-display"
)
# The emulated arm64 machine is the slower one.
if [ "$arch" = aarch64 ]; then limit_default=420; else limit_default=180; fi
limit=${E2E_BOOT_TIMEOUT:-$limit_default}
jobs=${E2E_JOBS:-$(nproc)}

IFS=, read -r -a boot_list <<<"$boots"
for b in "${boot_list[@]}"; do
    [ -n "${boot_devices[$b]:-}" ] || e2e_die "unknown boot '$b'"
done

# Boots run in parallel (one vCPU each); each records its own verdict file.
run_boot() {
    local b=$1
    e2e_log "booting $b ($E2E_QEMU ${boot_devices[$b]}, timeout ${limit}s)"
    # shellcheck disable=SC2086
    e2e_record_boot "$work" "$b" e2e_boot "$b" "$b" "$limit" "$initrd" "$work" ${boot_devices[$b]}
}
e2e_parallel "$jobs" run_boot "${boot_list[@]}"

# ------------------------------------------------------------------ checks
# Every case is a function that calls why() for each thing that is wrong;
# check NAME FUNCTION (lib.sh) runs it and prints its verdict.
# scene_check NAME SCENE FUNCTION: a case that needs SCENE on screen. A
# configuration that the driver refused fails the case: every case runs on
# every kernel the suite boots.
scene_check() {
    local refusal
    refusal=$(cat "$res/scene-$2/ready" 2>/dev/null || echo "no answer from the scene helper")
    if [ "$refusal" = ok ]; then
        check "$1" "$3"
    else
        check "$1" why "scene $2: $refusal"
    fi
}

# Checks of one tool run, recorded in $res/$c.
ran() { [ -f "$res/$c/rc" ] || { why "the guest did not run this case"; return 1; }; }
expect_rc() {
    local got
    got=$(cat "$res/$c/rc")
    [ "$got" = "$1" ] || why "exit status $got, want $1"
}
expect_stdout_empty() {
    [ ! -s "$res/$c/stdout" ] || why "standard output not empty: $(head -c 200 "$res/$c/stdout")"
}
expect_stderr_empty() {
    [ ! -s "$res/$c/stderr" ] ||
        why "standard error not empty: $(head -c 300 "$res/$c/stderr" | tr '\n' '|')"
}
expect_stderr() { # expect_stderr EXPECTED-FILE: byte for byte
    if ! cmp -s "$E2E_DIR/expected/$1" "$res/$c/stderr"; then
        why "standard error differs from expected/$1:"
        why "  got:  $(od -An -c "$res/$c/stderr" | tr -s ' \n' ' ' | head -c 400)"
        why "  want: $(od -An -c "$E2E_DIR/expected/$1" | tr -s ' \n' ' ' | head -c 400)"
    fi
}
expect_entries() { # expect_entries "uid:gid name"...: the working directory afterwards
    local got want
    got=$(awk '{ print $1, $4 }' "$res/$c/ls" | sort | tr '\n' ';')
    want=$(printf '%s\n' "$@" | sed '/^$/d' | sort | tr '\n' ';')
    [ "$got" = "$want" ] || why "working directory holds [${got}], want [${want}]"
}
expect_png() { # expect_png FILE DUMP: pixel for pixel
    local out
    out=$("$pngcmp" compare "$res/$c/files/$1" "$2" 2>&1) ||
        why "$1 vs $(basename "$(dirname "$2")")/$(basename "$2"): $out"
}
expect_png_not() { # expect_png_not FILE DUMP: not that picture
    local out
    out=$("$pngcmp" differ "$res/$c/files/$1" "$2" 2>&1) || why "$1: $out"
}
expect_pixels() { # expect_pixels FILE X Y R G B ...
    local f=$1 out
    shift
    out=$("$pngcmp" at "$res/$c/files/$f" "$@" 2>&1) || why "$out"
}
reader_ok() { # reader_ok CASE NAME: the suite's own read of the screen worked
    [ "$(cat "$res/$1/$2.rc" 2>/dev/null)" = 0 ] && return 0
    why "reader $1/$2 failed: $(cat "$res/$1/$2.log" 2>/dev/null || echo 'it did not run')"
    return 1
}

# The suite's own pieces: the reader sees what is on screen.
harness_console() {
    reader_ok console before || return 0
    reader_ok console after || return 0
    cmp -s "$res/console/before.dump" "$res/console/after.dump" ||
        why "the console changed while the tool ran (before.dump != after.dump)"
    [ "$boot" != cirrus ] || grep -q 'format 0x36314752' "$res/console/before.log" ||
        why "the cirrus console is not RGB565: $(cat "$res/console/before.log")"
}
harness_scene() { # harness_scene SCENE
    reader_ok "$1" reader || return 0
    cmp -s "$res/$1/reader.dump" "$res/scene-$1/expect.dump" ||
        why "reader.dump != the scene's expect.dump"
    if [ -f "$res/scene-$1/other.dump" ] &&
        cmp -s "$res/scene-$1/expect.dump" "$res/scene-$1/other.dump"; then
        why "the two outputs show the same picture"
    fi
}
harness_xrgb_pitch() { harness_scene xrgb-pitch; }
harness_two_outputs() { harness_scene two-outputs; }
harness_second_only() { harness_scene second-only; }
harness_cursor_argb() { harness_scene cursor-argb; }
harness_rgb565_table() { harness_scene rgb565-table; }
# The load scenes: the helper's own record of its two pictures, which must
# differ, and the reader's view of the screen, which must be one of them.
harness_load() { # harness_load SCENE
    local d=$res/scene-$1 got=$res/$1/reader.dump
    if [ ! -s "$d/a.dump" ] || [ ! -s "$d/b.dump" ]; then
        why "the helper wrote no a.dump and b.dump"
        return 0
    fi
    ! cmp -s "$d/a.dump" "$d/b.dump" || why "pictures A and B are the same"
    reader_ok "$1" reader || return 0
    cmp -s "$got" "$d/a.dump" || cmp -s "$got" "$d/b.dump" ||
        why "reader.dump is neither the scene's a.dump nor its b.dump"
}
harness_flips() { harness_load flips; }
harness_replace() { harness_load replace; }

# The tool's cases.
case_console() {
    c=console
    ran || return 0
    expect_rc 0
    expect_stdout_empty
    expect_stderr_empty
    expect_entries "0:0 screenshot.png"
    expect_png screenshot.png "$res/console/before.dump"
}
case_sudo_owner() {
    c=sudo-owner
    ran || return 0
    expect_rc 0
    expect_stdout_empty
    expect_stderr_empty
    expect_entries "1000:1000 screenshot.png"
    expect_png screenshot.png "$res/console/before.dump"
}
case_sudo_rootonly() {
    c=sudo-rootonly
    ran || return 0
    expect_rc 109
    expect_stdout_empty
    expect_stderr sudo-rootonly.txt
    expect_entries
}
case_render_node() {
    c=render-node
    ran || return 0
    expect_rc 102
    expect_stdout_empty
    expect_stderr render-node.txt
    expect_entries
}
case_xrgb_pitch() {
    c=xrgb-pitch
    ran || return 0
    expect_rc 0
    expect_stdout_empty
    expect_stderr_empty
    expect_entries "0:0 pitch.png"
    expect_png pitch.png "$res/scene-xrgb-pitch/expect.dump"
}
case_unprivileged() {
    c=unprivileged
    ran || return 0
    expect_rc 107
    expect_stdout_empty
    expect_stderr unprivileged.txt
    expect_entries
}
case_two_outputs() {
    c=two-outputs
    ran || return 0
    expect_rc 0
    expect_stdout_empty
    expect_stderr_empty
    expect_entries "0:0 screenshot.png"
    expect_png screenshot.png "$res/scene-two-outputs/expect.dump"
    expect_png_not screenshot.png "$res/scene-two-outputs/other.dump"
}
case_second_only() {
    c=second-only
    ran || return 0
    expect_rc 0
    expect_stdout_empty
    expect_stderr_empty
    expect_entries "0:0 screenshot.png"
    expect_png screenshot.png "$res/scene-second-only/expect.dump"
}
case_cursor_argb() {
    c=cursor-argb
    ran || return 0
    expect_rc 0
    expect_stdout_empty
    expect_stderr_empty
    expect_entries "0:0 cursor.png"
    expect_png cursor.png "$res/scene-cursor-argb/expect.dump"
    # The four flat quadrants, whatever the alpha byte said.
    expect_pixels cursor.png 0 0 255 128 64 63 0 32 192 255 0 63 0 0 0 63 63 255 255 255
}
case_dev_full() {
    c=dev-full
    ran || return 0
    expect_rc 109
    expect_stdout_empty
    expect_stderr dev-full.txt
    expect_entries
}
case_rgb565_table() {
    c=rgb565-table
    ran || return 0
    expect_rc 0
    expect_stdout_empty
    expect_stderr_empty
    expect_entries "0:0 screenshot.png"
    expect_png screenshot.png "$res/scene-rgb565-table/expect.dump"
    # 0x0000, 0xFFFF, 0xF800, 0x07E0, 0x001F, 0x8410, 0x0821 in 16-pixel cells.
    expect_pixels screenshot.png 8 8 0 0 0 24 8 255 255 255 40 8 255 0 0 56 8 0 255 0 \
        72 8 0 0 255 88 8 131 129 131 104 8 8 4 8
}
case_rgb888() {
    c=rgb888
    ran || return 0
    expect_rc 106
    expect_stdout_empty
    expect_stderr rgb888.txt
    expect_entries
}
# A console blanked through fbdev: the kernel keeps the framebuffer on the
# CRTC while the output is off, so the tool captures the console's last
# picture. The connectors' DPMS states are noted.
case_blanked() {
    c=blanked
    ran || return 0
    [ "$(cat "$res/blanked/blank.rc" 2>/dev/null)" = 0 ] ||
        why "writing 4 to /sys/class/graphics/fb0/blank failed"
    while read -r when connector state; do
        note "DPMS $when: $connector $state"
    done <"$res/blanked/dpms"
    expect_rc 0
    expect_stdout_empty
    expect_stderr_empty
    expect_entries "0:0 screenshot.png"
    reader_ok console before || return 0
    expect_png screenshot.png "$res/console/before.dump"
}
# Another process takes master (SET_MASTER) while the tool, held at the start
# of its discovery, has the device open; the tool goes on and captures what
# that process put on screen.
case_handover() {
    c=handover
    ran || return 0
    [ -f "$res/handover-pause/holding" ] ||
        why "the tool was not held at its discovery: the case proves nothing"
    expect_rc 0
    expect_stdout_empty
    expect_stderr_empty
    expect_entries "0:0 handover.png"
    expect_png handover.png "$res/scene-handover/expect.dump"
}
# Every output switched off by a mode-set: no framebuffer anywhere, 103.
case_off() {
    c=off
    ran || return 0
    grep -q 'nothing on screen' "$res/off/reader.log" 2>/dev/null ||
        why "the reader found something on screen: $(cat "$res/off/reader.log" 2>/dev/null)"
    expect_rc 103
    expect_stdout_empty
    expect_stderr no-framebuffer.txt
    expect_entries
}
# bochs-display: the PRIME-Export line and 101 where the driver says it
# cannot export; where it says it can, the console, captured whole.
case_prime_export() {
    local cap
    c=prime-export
    ran || return 0
    cap=$(cat "$res/prime/cap" 2>/dev/null) || { why "no answer from scene prime"; return 0; }
    note "the driver's PRIME capability: $cap"
    expect_stdout_empty
    case " $cap " in
    *" export "*)
        reader_ok console before || return 0
        expect_rc 0
        expect_stderr_empty
        expect_entries "0:0 screenshot.png"
        expect_png screenshot.png "$res/console/before.dump"
        ;;
    *)
        expect_rc 101
        expect_stderr prime-export.txt
        expect_entries
        ;;
    esac
}

# The load cases: 30 runs while the helper keeps changing the screen.
# load_helper SCENE: the helper changed the screen all through the runs and
# ended cleanly; notes how often and how.
load_helper() {
    local d=$res/scene-$1 status before after
    status=$(cat "$d/exit" 2>/dev/null || echo none)
    [ "$status" = 0 ] ||
        why "the helper ended with status $status: $(tail -n 3 "$d/log" 2>/dev/null | tr '\n' '|')"
    before=$(cat "$d/count.before" 2>/dev/null || echo none)
    after=$(cat "$d/count.after" 2>/dev/null || echo none)
    if [[ $before =~ ^[0-9]+$ && $after =~ ^[0-9]+$ ]] && [ "$after" -gt "$before" ]; then
        note "helper: $((after - before)) changes by $(cat "$d/method" 2>/dev/null) during the" \
            "runs (count $before -> $after), runs took" \
            "$(awk '{ printf "%.1f", $2 - $1 }' "$d/runs.time" 2>/dev/null) s"
    else
        why "the helper's change count did not advance during the runs: $before -> $after"
    fi
}
# load_run SCENE RUN [gone-ok]: one run's outcome, counted in load[a] or
# load[b] (status 0, the PNG is picture A or B), with gone-ok in load[gone]
# (status 104: the framebuffer went away between finding it and asking for
# it), or else in load[other].
load_run() {
    local first=${#reasons[@]} outcome='' i
    c=$1/$2
    if ! ran; then
        :
    elif [ "$(cat "$res/$c/rc")" = 104 ] && [ "${3:-}" = gone-ok ]; then
        expect_stdout_empty
        expect_stderr getfb2-gone.txt
        expect_entries
        outcome=gone
    else
        expect_rc 0
        expect_stdout_empty
        expect_stderr_empty
        expect_entries "0:0 screenshot.png"
        outcome=$(load_picture "$1" "$res/$c/files/screenshot.png")
        [ -n "$outcome" ] || [ ! -f "$res/$c/files/screenshot.png" ] ||
            why "the PNG is neither picture A nor B:" \
                "$(load_differences "$1" a "$res/$c/files/screenshot.png") from A," \
                "$(load_differences "$1" b "$res/$c/files/screenshot.png") from B"
    fi
    if [ ${#reasons[@]} -ne "$first" ]; then
        outcome=other
    fi
    load[$outcome]=$((load[$outcome] + 1))
    for ((i = first; i < ${#reasons[@]}; i++)); do
        reasons[i]="$2: ${reasons[i]}"
    done
}
# load_picture SCENE PNG: prints a or b when the PNG is that picture of the
# scene, nothing when it is neither.
load_picture() {
    local which
    for which in a b; do
        if "$pngcmp" compare "$2" "$res/scene-$1/$which.dump" >/dev/null 2>&1; then
            echo "$which"
            return 0
        fi
    done
}
# load_differences SCENE a|b PNG: "N of M pixels differ", or the checker's
# complaint.
load_differences() {
    "$pngcmp" compare "$3" "$res/scene-$1/$2.dump" 2>&1 | tail -n 1 |
        sed 's/^.*: \([0-9]* of [0-9]* pixels differ\) from .*$/\1/'
}
declare -A load
load_runs() { # load_runs SCENE [gone-ok]
    local n
    load=([a]=0 [b]=0 [gone]=0 [other]=0)
    for n in $(seq -w 1 30); do
        load_run "$1" "run-$n" "${2:-}"
    done
}
# Page flips: every run sees one whole picture. Picking A or B is close to a
# coin toss per run (the flips come every 2-12 ms, a run takes far longer), so
# fewer than 3 of either in 30 runs happens about once in a million runs of
# the case, while a tool that keeps one of them away from the file shows 0.
case_flips() {
    load_runs flips
    note "30 runs: picture A ${load[a]}, picture B ${load[b]}, anything else ${load[other]}"
    if [ "${load[a]}" -lt 3 ] || [ "${load[b]}" -lt 3 ]; then
        why "each picture must be seen at least 3 times: A ${load[a]}, B ${load[b]}"
    fi
    load_helper flips
}
# Framebuffer replacement: a run sees one whole picture, or it finds the
# framebuffer gone by the time it asks for its description.
case_replace() {
    load_runs replace gone-ok
    note "30 runs: picture A ${load[a]}, picture B ${load[b]}, status 104 (framebuffer" \
        "gone) ${load[gone]}, anything else ${load[other]}"
    load_helper replace
}

# The animation: 30 runs while the helper flips to the next frame every period
# and redraws the buffer that has just left the screen at once. Each run ends
# 0 with nothing printed and only screenshot.png (the first five, for a sudo
# caller, owned by 1000:1000), overlaps at least one flip, and its PNG is one
# whole frame that was on screen during the run; the helper kept at least 90%
# of its flip rate. Under the verdict, from the ioctl timer's records: how
# many attempts each run made, and the read window of the reads that checked
# to the end (the time from the first check, before the first row, to the
# last, after the last row).
animation_run() { # animation_run N: one run's verdict; sets outcome to whole or torn
    local d=$res/scene-animation before after out frame
    c=animation/run-$1
    outcome=
    ran || return 0
    expect_rc 0
    expect_stdout_empty
    expect_stderr_empty
    if [ "$((10#$1))" -le 5 ]; then
        expect_entries "1000:1000 screenshot.png"
    else
        expect_entries "0:0 screenshot.png"
    fi
    before=$(cat "$d/count-$1.before")
    after=$(cat "$d/count-$1.after")
    [ "$after" -gt "$before" ] || why "overlapped no flip (frame $before before and after)"
    [ -f "$res/$c/files/screenshot.png" ] || return 0
    if out=$("$pngcmp" frame "$res/$c/files/screenshot.png" 2>&1); then
        frame=${out#frame }
        [ "$frame" -ge "$before" ] && [ "$frame" -le "$((after + 1))" ] ||
            why "frame $frame was not on screen during the run ($before to $after)"
        outcome=whole
    else
        why "$out"
        outcome=torn
    fi
}
# animation_ioctls HEIGHT FILE...: attempts per run, and the read windows in
# ms (kept sorted in $work/windows.txt).
animation_ioctls() {
    local height=$1
    shift
    awk -v h="$height" -v out="$work/windows.unsorted" '
        FNR == 1 { if (NR > 1) tries[att]++; att = 0 }
        $1 == "GETFB2" { att++; reading = 0 }
        $1 == "SYNC_START" { reading = 1; n = 0 }
        reading && ($1 == "GETCRTC" || $1 == "GETPLANE") { t[++n] = $2 }
        $1 == "SYNC_END" && reading {
            reading = 0
            if (n == int((h + 63) / 64) + 1) print (t[n] - t[1]) / 1e6 > out
        }
        END {
            if (NR > 0) tries[att]++
            line = "attempts per run:"
            for (a = 1; a <= 5; a++) if (tries[a]) line = line " " a ": " tries[a] " runs;"
            print line
        }' "$@"
    touch "$work/windows.unsorted"
    sort -n "$work/windows.unsorted" >"$work/windows.txt"
    rm -f "$work/windows.unsorted"
    awk '{ w[NR] = $1 } END {
        if (NR == 0) { print "no read checked to its end"; exit }
        printf "read window of %d whole reads: median %.2f ms, 95th percentile %.2f ms, longest %.2f ms\n",
            NR, w[int((NR + 1) / 2)], w[int(NR * 0.95 + 0.999)], w[NR] }' "$work/windows.txt"
}
case_animation() {
    local d=$res/scene-animation n outcome whole=0 torn=0 first i period t0 t1 flips nominal size
    for n in $(seq -w 1 30); do
        first=${#reasons[@]}
        animation_run "$n"
        case $outcome in whole) whole=$((whole + 1)) ;; torn) torn=$((torn + 1)) ;; esac
        for ((i = first; i < ${#reasons[@]}; i++)); do
            reasons[i]="run-$n: ${reasons[i]}"
        done
    done
    note "30 runs: $whole whole frames, $torn torn"
    period=$(cat "$d/period_us" 2>/dev/null || echo 0)
    read -r t0 t1 <"$d/runs.time" || true
    flips=$(($(cat "$d/count-30.after" 2>/dev/null || echo 0) - $(cat "$d/count-01.before" 2>/dev/null || echo 0)))
    nominal=$(awk -v a="${t0:-0}" -v b="${t1:-0}" -v p="$period" 'BEGIN { print (p > 0) ? int((b - a) * 1e6 / p) : 0 }')
    note "helper: $flips flips in $(awk -v a="${t0:-0}" -v b="${t1:-0}" 'BEGIN { printf "%.1f", b - a }') s" \
        "at a nominal period of $((period / 1000)).$(((period % 1000) / 100)) ms: $nominal nominal," \
        "by $(cat "$d/method" 2>/dev/null)"
    [ "$nominal" -gt 0 ] && [ $((flips * 10)) -ge $((nominal * 9)) ] ||
        why "the helper made $flips flips, fewer than 90% of the nominal $nominal"
    [ "$(cat "$d/exit" 2>/dev/null)" = 0 ] ||
        why "the helper ended with status $(cat "$d/exit" 2>/dev/null): $(tail -n 2 "$d/log" 2>/dev/null | tr '\n' '|')"
    size=$("$pngcmp" info "$res/animation/run-30/files/screenshot.png" 2>/dev/null | cut -d' ' -f1)
    if compgen -G "$res/animation/run-*/ioctls" >/dev/null; then
        while read -r n; do note "$n"; done < <(animation_ioctls "${size#*x}" "$res"/animation/run-*/ioctls)
    fi
}

checks_virtio() {
    local p=$arch/virtio
    check "$p/harness: console read twice, unchanged" harness_console
    scene_check "$p/harness: reader sees scene xrgb-pitch" xrgb-pitch harness_xrgb_pitch
    scene_check "$p/harness: reader sees scene two-outputs" two-outputs harness_two_outputs
    scene_check "$p/harness: reader sees scene second-only" second-only harness_second_only
    scene_check "$p/harness: reader sees scene cursor-argb" cursor-argb harness_cursor_argb
    scene_check "$p/harness: load scene flips: pictures A and B differ, the reader sees one" \
        flips harness_flips
    scene_check "$p/harness: load scene replace: pictures A and B differ, the reader sees one" \
        replace harness_replace
    [ -z "$harness_only" ] || return 0
    check "$p/console: no arguments, XRGB8888 console -> screenshot.png, 0" case_console
    check "$p/sudo-owner: SUDO_UID/SUDO_GID=1000 -> file owned by 1000:1000" case_sudo_owner
    check "$p/sudo-rootonly: caller cannot write the directory -> 109, no file" \
        case_sudo_rootonly
    check "$p/render-node: -d /dev/dri/renderD128 -> 102" case_render_node
    check "$p/blanked: console blanked through fb0/blank -> 0, its last picture" case_blanked
    scene_check "$p/handover: SET_MASTER by another process while the tool holds the device" \
        handover case_handover
    scene_check "$p/off: every CRTC switched off by SETCRTC -> 103" off case_off
    scene_check "$p/xrgb-pitch: XRGB8888 with pitch > width*4, -o pitch.png" xrgb-pitch \
        case_xrgb_pitch
    scene_check "$p/unprivileged: non-master uid 1000 -> 107 with the ENOENT hints" xrgb-pitch \
        case_unprivileged
    scene_check "$p/two-outputs: two lit outputs, the first CRTC's picture" two-outputs \
        case_two_outputs
    scene_check "$p/second-only: first CRTC off, the second CRTC's picture" second-only \
        case_second_only
    scene_check "$p/cursor-argb: primary plane off, ARGB8888 cursor plane (plane fallback)" \
        cursor-argb case_cursor_argb
    scene_check "$p/dev-full: 64x64 plane to /dev/full -> 109" cursor-argb case_dev_full
    scene_check "$p/flips: 30 runs while the helper flips between A and B -> each PNG A or B" \
        flips case_flips
    scene_check "$p/replace: 30 runs while the helper replaces the framebuffer -> A, B or 104" \
        replace case_replace
    scene_check "$p/animation: 30 runs while the helper flips and redraws frames -> each PNG one frame" \
        animation case_animation
}
checks_cirrus() {
    local p=$arch/cirrus
    check "$p/harness: console read twice, unchanged, RGB565" harness_console
    scene_check "$p/harness: reader sees scene rgb565-table" rgb565-table harness_rgb565_table
    [ -z "$harness_only" ] || return 0
    check "$p/console: RGB565 console -> screenshot.png, truncating conversion" case_console
    scene_check "$p/rgb565-table: every RGB565 value and the table values" rgb565-table \
        case_rgb565_table
    scene_check "$p/rgb888: RGB888 framebuffer -> 106" rgb888 case_rgb888
}
checks_bochs() {
    check "$arch/bochs/harness: console read twice, unchanged" harness_console
    [ -z "$harness_only" ] || return 0
    check "$arch/bochs/prime-export: no PRIME export -> 101; with export the console, captured" \
        case_prime_export
}

echo
for boot in "${boot_list[@]}"; do
    res=$work/$boot.results
    verdict=fail seconds=? error="no verdict"
    [ -f "$work/$boot.verdict" ] && read -r verdict seconds error <"$work/$boot.verdict"
    check "$arch/$boot/boot: guest came up, ran its cases and sent results back (${seconds}s)" \
        eval '[ "$verdict" = ok ] || why "$error"'
    # After a failed boot its cases are listed too, as failures.
    "checks_$boot"
done

echo
e2e_log "work files in $work (serial logs: *.serial, results: *.results/)"
e2e_log "wall time $(($(date +%s) - t_start))s"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
