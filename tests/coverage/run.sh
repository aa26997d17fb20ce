#!/usr/bin/env bash
# Line coverage of src/ by every ctest case (unit, whole-process and
# fault-injection tests): builds build-coverage with gcov, runs the tests,
# prints the figures per file, per directory and in total, and fails when
# src/capture or src/output is below 95%. Run as root, like the tests.
# Extra arguments go to ctest (for example -E IdentitySwitch).
#
# The tool writes its counters as it exits, sometimes after it has become
# another user who may not update the build tree, so every process writes
# under GCOV_PREFIX instead, each run of the tool in a directory of its own
# (tests/support/tool_process.cpp); the counters are merged here afterwards.
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$(pwd -P)
build_dir=$root/build-coverage
minimum=95

packages=(g++ cmake make pkg-config libdrm-dev libpng-dev libgtest-dev libgmock-dev util-linux gcovr)
# shellcheck source=scripts/lib/install-missing.sh
source scripts/lib/install-missing.sh
install_missing "${packages[@]}"

# A Debug build: gcov wants the optimiser off anyway, and so the stages of
# scripts/test-all.sh build every build type between them.
cmake -S . -B "$build_dir" -DSCANOUTSNAP_COVERAGE=ON -DCMAKE_BUILD_TYPE=Debug >/dev/null
cmake --build "$build_dir" -j"$(nproc)"
find "$build_dir" -name '*.gcda' -delete

work=$(mktemp -d /tmp/scanoutsnap-coverage-XXXXXX)
trap 'rm -rf "$work"' EXIT
mkdir "$work/counters" "$work/runs"
chmod 0755 "$work" "$work/counters"
# Strip the build directory's own components, so that each tree of counters
# mirrors the build directory.
strip=$(tr -cd / <<<"$build_dir" | wc -c)
GCOV_PREFIX=$work/counters GCOV_PREFIX_STRIP=$strip \
    ctest --test-dir "$build_dir" -j"$(nproc)" --output-on-failure "$@"

find "$work/counters" -maxdepth 1 -name 'tool-run-*' -exec mv -t "$work/runs" {} +
merged=$work/counters
merges=0
for run in "$work"/runs/*/; do
    [[ -n $(find "$run" -name '*.gcda' -print -quit) ]] || continue  # did not exit normally
    merges=$((merges + 1))
    gcov-tool merge -o "$work/merged-$merges" "$merged" "$run" >/dev/null
    [[ $merged == "$work/counters" ]] || rm -rf "$merged"
    merged=$work/merged-$merges
done
cp -r "$merged"/. "$build_dir"/
echo "coverage: counters of the test programs and of ${merges} runs of the tool merged"

# gcovr replaces the file it writes, so it must never be given a device such
# as /dev/null.
gcovr_in() {
    gcovr --root "$root" --object-directory "$build_dir" --filter "$1" "${@:2}" "$build_dir"
}

gcovr_in 'src/' --txt -
failed=0
for dir in src/capture src/output src; do
    summary=$(gcovr_in "$dir/" --print-summary --txt "$work/summary.txt" | grep '^lines:')
    percent=$(sed -E 's/^lines: ([0-9.]+)%.*/\1/' <<<"$summary")
    verdict=""
    if [[ $dir != src ]] && ! awk -v p="$percent" -v m="$minimum" 'BEGIN { exit !(p >= m) }'; then
        verdict="  below ${minimum}%"
        failed=1
    fi
    printf 'coverage %-12s %s%s\n' "$dir/" "${summary#lines: }" "$verdict"
done
exit "$failed"
