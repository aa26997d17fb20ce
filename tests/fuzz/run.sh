#!/usr/bin/env bash
# Builds the fuzz target in build-fuzz with Debian's default clang (libFuzzer,
# AddressSanitizer, UndefinedBehaviorSanitizer) and runs it from the committed
# seeds for a bounded time, then prints the executions and the coverage
# reached. Exits non-zero on a finding; libFuzzer leaves the input that shows
# it in build-fuzz/fuzz-findings/, and running the target on that file alone
# repeats it.
#   tests/fuzz/run.sh [SECONDS]        (default 60)
set -euo pipefail
cd "$(dirname "$0")/../.."
seconds=${1:-60}
build_dir=build-fuzz

packages=(clang libclang-rt-dev cmake make pkg-config libdrm-dev libpng-dev)
# shellcheck source=scripts/lib/install-missing.sh
source scripts/lib/install-missing.sh
install_missing "${packages[@]}"

CC=clang CXX=clang++ cmake -S . -B "$build_dir" -DSCANOUTSNAP_FUZZ=ON \
    -DBUILD_TESTING=OFF -DCMAKE_BUILD_TYPE=Debug >/dev/null
cmake --build "$build_dir" -j"$(nproc)" --target scanoutsnap_fuzz

corpus=$build_dir/fuzz-corpus  # what this machine's runs found, kept between runs
findings=$build_dir/fuzz-findings
log=$build_dir/fuzz.log
mkdir -p "$corpus" "$findings"
echo "fuzz: running for ${seconds} s (log: $log)"
status=0
"$build_dir/tests/fuzz/scanoutsnap_fuzz" -max_total_time="$seconds" -print_final_stats=1 \
    -max_len=4096 -timeout=30 -artifact_prefix="$findings/" \
    "$corpus" tests/fuzz/seeds >"$log" 2>&1 || status=$?

executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
last=$(grep -E '^#[0-9]+.*cov: ' "$log" | tail -n 1 || true)
cov=$(sed -nE 's/.* cov: ([0-9]+).*/\1/p' <<<"$last")
ft=$(sed -nE 's/.* ft: ([0-9]+).*/\1/p' <<<"$last")
corp=$(sed -nE 's/.* corp: ([0-9]+).*/\1/p' <<<"$last")
if ((status != 0)); then
    tail -n 60 "$log"
    echo "fuzz: FINDING (libFuzzer exited with ${status}) after ${executions:-?} executions;" \
        "inputs in $findings/:" $(ls "$findings")
    exit "$status"
fi
echo "fuzz: ${executions} executions in ${seconds} s, cov: ${cov} ft: ${ft}," \
    "corpus: ${corp} inputs; no finding"
