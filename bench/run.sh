#!/usr/bin/env bash
# The benchmark, with no display needed: the real scanoutsnap executable, run
# as a whole process with the fake kernel interface preloaded and a
# memfd-backed framebuffer, timed against the libpng floor and the peers on the
# same generated pictures (desktop-like, photo-like, all black; XRGB8888 and
# RGB565). The floor runs as a process started alike (the same preload, the
# same memfd), which the targets apply to, and in-process, the stricter figure.
#
#   bash bench/run.sh           1920x1080 and 3840x2160, with ffmpeg, ImageMagick
#                               and pnmtopng, heap peaks under valgrind's massif
#                               and the fake's loading cost; installs ffmpeg,
#                               imagemagick, netpbm and valgrind with apt-get
#                               when they are missing (as root, or through sudo)
#   bash bench/run.sh --smoke   tiny sizes, no peers, no installs: checks that the
#                               benchmark works and that the tool's PNG equals
#                               the floor's, in a few seconds
#
# Both end with the read window: the tool's one pass over the mapping against
# a memcpy of it (scanoutsnap_read_window, built with the tests).
#
# Prints a Markdown report and exits non-zero when a run fails or a PNG differs
# from the floor's. Environment: BUILD_DIR (the project's build, default
# build), BENCH_BUILD_DIR (the driver's, default build-bench), RUNS (alternated
# runs per case; 7 in full, 3 in smoke), REPORT (a file that also gets the
# report).
set -euo pipefail
cd "$(dirname "$0")/.."

mode=full
case ${1:-} in
    --smoke) mode=smoke ;;
    "") ;;
    *)
        echo "usage: bash bench/run.sh [--smoke]" >&2
        exit 2
        ;;
esac
build_dir=${BUILD_DIR:-build}
bench_build_dir=${BENCH_BUILD_DIR:-build-bench}

# shellcheck source=scripts/lib/install-missing.sh
source scripts/lib/install-missing.sh
install_peers() { install_missing ffmpeg imagemagick netpbm valgrind; }

# The tool as the project ships it: a sanitized or coverage build would time
# the instrumentation.
if [[ -f $build_dir/CMakeCache.txt ]] &&
    grep -Eq '^SCANOUTSNAP_(SANITIZE|COVERAGE):BOOL=ON' "$build_dir/CMakeCache.txt"; then
    echo "bench: $build_dir is an instrumented build; set BUILD_DIR to a plain one" >&2
    exit 1
fi
cmake -S . -B "$build_dir" >/dev/null
cmake --build "$build_dir" --target scanoutsnap fake_kms_preload scanoutsnap_read_window \
    -j"$(nproc)" >&2
cmake -S bench -B "$bench_build_dir" >/dev/null
cmake --build "$bench_build_dir" -j"$(nproc)" >&2

work=$(mktemp -d "${TMPDIR:-/tmp}/scanoutsnap-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT

args=(--tool "$PWD/$build_dir/scanoutsnap" --floor "$PWD/$bench_build_dir/scanoutsnap_floor"
    --fake "$PWD/$build_dir/tests/fake_kms/libfake_kms_preload.so"
    --work "$work" --loading)
window_args=("${RUNS:-15}")
if [[ $mode == smoke ]]; then
    # 67 pixels wide: the vector loops' remainders run in the real executable.
    args+=(--sizes "67x35,128x72" --runs "${RUNS:-3}")
    window_args=(3 67x35 128x72)
else
    install_peers
    # Debian's ImageMagick itself, not a wrapper that may come first in PATH.
    args+=(--sizes "1920x1080,3840x2160" --runs "${RUNS:-7}" --peers --heap
        --convert /usr/bin/convert)
fi

machine() {
    echo "Machine: $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//'), $(nproc) cores, $(free -g | awk '/^Mem:/ { print $2 }') GiB;" \
        "$(grep -m1 '^PRETTY_NAME=' /etc/os-release | cut -d'"' -f2), Linux $(uname -r)."
    echo "Build: $(grep -m1 '^CMAKE_BUILD_TYPE:' "$build_dir/CMakeCache.txt" | cut -d= -f2)," \
        "$("$(grep -m1 '^CMAKE_CXX_COMPILER:' "$build_dir/CMakeCache.txt" | cut -d= -f2)" --version | head -1)," \
        "libpng $(pkg-config --modversion libpng), zlib $(pkg-config --modversion zlib 2>/dev/null || echo '?')."
    if [[ $mode == full ]]; then
        echo "Peers: $(ffmpeg -version | head -1 | cut -d' ' -f1-3)," \
            "$(/usr/bin/convert -version | head -1 | cut -d' ' -f2-3)," \
            "pnmtopng of $(pnmtopng --version 2>&1 | grep -o 'Netpbm Version: .*' | cut -d' ' -f2-)," \
            "$(valgrind --version)."
    fi
    echo "Command: bash bench/run.sh${1:+ $1}"
    echo
}

{
    machine "${1:-}"
    status=0
    "$bench_build_dir/scanoutsnap_bench" "${args[@]}" || status=$?
    echo
    echo "The read window, the tool's one pass over the mapping with its checks, against a" \
        "memcpy of the same mapping into a buffer whose pages are mapped; in-process with the" \
        "fake, each run on a fresh mapping, median of ${window_args[0]} runs:"
    echo
    "$build_dir/tests/scanoutsnap_read_window" "$work" "${window_args[@]}" || status=1
    exit "$status"
} | tee "${REPORT:-/dev/null}"
exit "${PIPESTATUS[0]}"
