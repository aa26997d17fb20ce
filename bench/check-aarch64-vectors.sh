#!/usr/bin/env bash
# Fails unless the row converters and the row filter chooser of the arm64
# build read their rows with vector loads: structure or multi-register loads
# (ld4 {v0.16b-v3.16b}, ld1 {v0.16b, v1.16b}, ...) or 128-bit loads (ldr q0,
# ldp q0, q1) that are not constants. Also checks the host's x86-64 build,
# when there is one, for SSE loads (movdqu ... %xmm) that do not read
# constants.
#
#   bench/check-aarch64-vectors.sh [ARM64_PROGRAM [X86_64_PROGRAM]]
#
# ARM64_PROGRAM defaults to build-arm64/scanoutsnap, built first with
# scripts/cross-build-arm64.sh if missing; X86_64_PROGRAM to build/scanoutsnap,
# checked only if it exists. Either may also be an object file. Before that,
# the check must reject each function in a plain scalar form, so that it
# cannot pass by matching nothing.
set -euo pipefail
cd "$(dirname "$0")/.."

arm64_program=${1:-${BUILD_DIR:-build-arm64}/scanoutsnap}
x86_program=${2:-build/scanoutsnap}
functions=(convert_xrgb8888_row convert_rgb565_row choose_row_filter)

# Prints the vector loads of one function's disassembly, read on stdin
# (check calls these by the architecture's name).
# shellcheck disable=SC2317
aarch64_vector_loads() {
    awk '
        $2 == "adrp" { sub(/,.*/, "", $3); constant_base[$3] = 1; next }
        $2 ~ /^ld[1-4]$/ && $3 ~ /^\{v[0-9]+\./ { print; next }
        ($2 == "ldr" || $2 == "ldp") && $3 ~ /^q[0-9]+,/ {
            if (match($0, /\[x[0-9]+/)) {
                base = substr($0, RSTART + 1, RLENGTH - 1)
                if (!(base in constant_base)) print
            }
        }'
}
# shellcheck disable=SC2317
x86_64_vector_loads() {
    grep -E '(v?movdq[au]|v?movup[sd]|v?movap[sd]|v?lddqu)[[:space:]]+[^,]*\(%r[a-z0-9]+[^)]*\),%[xy]mm' |
        grep -v '(%rip)' || true
}

# check ARCH OBJDUMP NM PROGRAM: every converter must be found and show a load.
check() {
    local arch=$1 objdump=$2 nm=$3 program=$4 failed=0
    for function in "${functions[@]}"; do
        local symbol
        symbol=$("$nm" "$program" | awk -v f="$function" '
            $2 ~ /^[Tt]$/ && $3 ~ ("^_Z[0-9]+" f "P") { print $3; exit }')
        if [[ -z $symbol ]]; then
            echo "check-vectors: $arch: $function not found in $program" >&2
            failed=1
            continue
        fi
        local loads
        loads=$("$objdump" -d --no-show-raw-insn --disassemble="$symbol" "$program" |
            "${arch}_vector_loads")
        if [[ -z $loads ]]; then
            echo "check-vectors: $arch: $function has no vector loads of its source" >&2
            failed=1
        else
            echo "check-vectors: $arch: $function: $(wc -l <<<"$loads") vector loads:"
            printf '    %s\n' "${loads//$'\n'/$'\n'    }"
        fi
    done
    return "$failed"
}

# The check must reject each function as GCC compiles it from a scalar loop.
self_test() {
    local scratch
    scratch=$(mktemp -d)
    trap 'rm -rf "$scratch"' RETURN
    cat >"$scratch/scalar.cpp" <<'EOF'
#include <cstdint>
void convert_xrgb8888_row(const std::uint8_t* s, std::uint8_t* d, std::uint32_t w) {
    for (std::uint32_t x = 0; x < w; ++x) {
        d[3 * x] = s[4 * x + 2];
        d[3 * x + 1] = s[4 * x + 1];
        d[3 * x + 2] = s[4 * x];
    }
}
void convert_rgb565_row(const std::uint8_t* s, std::uint8_t* d, std::uint32_t w) {
    for (std::uint32_t x = 0; x < w; ++x) {
        const std::uint32_t p = s[2 * x] | std::uint32_t{s[2 * x + 1]} << 8;
        d[3 * x] = std::uint8_t((p >> 11) * 255 / 31);
        d[3 * x + 1] = std::uint8_t((p >> 5 & 63) * 255 / 63);
        d[3 * x + 2] = std::uint8_t((p & 31) * 255 / 31);
    }
}
int choose_row_filter(const std::uint8_t* r, const std::uint8_t* p, unsigned long n) {
    unsigned long none = 0, up = 0;
    for (unsigned long i = 0; i < n; ++i) {
        none += r[i] < 128 ? r[i] : 256 - r[i];
        const std::uint8_t v = std::uint8_t(r[i] - p[i]);
        up += v < 128 ? v : 256 - v;
    }
    return up < none ? 2 : 0;
}
EOF
    aarch64-linux-gnu-g++ -std=c++20 -O2 -fno-tree-vectorize -c "$scratch/scalar.cpp" \
        -o "$scratch/scalar.o"
    local verdict
    verdict=$(check aarch64 aarch64-linux-gnu-objdump aarch64-linux-gnu-nm "$scratch/scalar.o" \
        2>&1 >/dev/null || true)
    for function in "${functions[@]}"; do
        if ! grep -q "$function has no vector loads" <<<"$verdict"; then
            echo "check-vectors: the check did not reject a scalar $function" >&2
            return 1
        fi
    done
    echo "check-vectors: the check rejects scalar converters and choosers"
}

for tool in aarch64-linux-gnu-g++ aarch64-linux-gnu-objdump aarch64-linux-gnu-nm; do
    if ! command -v "$tool" >/dev/null; then
        echo "check-vectors: $tool is missing (scripts/cross-build-arm64.sh installs it)" >&2
        exit 1
    fi
done
self_test

if [[ $# -eq 0 && ! -f $arm64_program ]]; then
    BUILD_DIR=$(dirname "$arm64_program") scripts/cross-build-arm64.sh >&2
fi
status=0
check aarch64 aarch64-linux-gnu-objdump aarch64-linux-gnu-nm "$arm64_program" || status=1
if [[ -f $x86_program ]] && file -b "$x86_program" | grep -q 'x86-64'; then
    check x86_64 objdump nm "$x86_program" || status=1
fi
if ((status == 0)); then
    echo "check-vectors: passed"
else
    echo "check-vectors: FAILED"
fi
exit "$status"
