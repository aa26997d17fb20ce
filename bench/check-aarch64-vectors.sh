#!/usr/bin/env bash
# Fails unless the row converters and the row filter chooser of the arm64
# build read their rows with vector loads: structure or multi-register loads
# (ld4 {v0.16b-v3.16b}, ld1 {v0.16b, v1.16b}, ...) or 128-bit loads (ldr q0,
# ldp q0, q1) that are not constants. Also checks the host's x86-64 build,
# when there is one, for SSE loads (movdqu ... %xmm) that read neither
# constants nor the stack, and the bodies it runs where the processor has
# SSSE3 or AVX2 for loads of their width (AVX2's: vmovdqu ... %ymm).
#
#   bench/check-aarch64-vectors.sh [ARM64_PROGRAM [X86_64_PROGRAM]]
#
# ARM64_PROGRAM defaults to build-arm64/scanoutsnap, built first with
# scripts/cross-build-arm64.sh if missing; X86_64_PROGRAM to build/scanoutsnap,
# checked only if it exists. Either may also be an object file. Before that,
# the check must reject each function in a plain scalar form (and the AVX2
# body with 16-byte loads only), so that it cannot pass by matching nothing.
set -euo pipefail
cd "$(dirname "$0")/.."

arm64_program=${1:-${BUILD_DIR:-build-arm64}/scanoutsnap}
x86_program=${2:-build/scanoutsnap}
functions=(convert_xrgb8888_row convert_rgb565_row choose_row_filter)
# x86-64 only: the bodies for later instruction sets, each with the registers
# its loads must fill.
x86_64_bodies=("row_vectors::convert_xrgb8888_ssse3 xmm" "row_filter_vectors::add_block_sums_avx2 ymm")

# Prints the vector loads of one function's disassembly, read on stdin
# (check calls these by the architecture's name; the x86-64 one takes the
# registers the loads must fill, xmm or ymm, both by default).
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
    local registers=${1:-[xy]mm}
    grep -E "(v?movdq[au]|v?movup[sd]|v?movap[sd]|v?lddqu)[[:space:]]+[^,]*\\(%r[a-z0-9]+[^)]*\\),%$registers" |
        grep -v -e '(%rip)' -e '(%rsp)' || true
}

# The start of a function's mangled name, up to its parameters:
# choose_row_filter gives _Z17choose_row_filter, a::f gives _ZN1a1fE.
mangled_prefix() {
    local -a parts
    local part name=""
    IFS=: read -ra parts <<<"${1//::/:}"
    for part in "${parts[@]}"; do
        name+="${#part}$part"
    done
    if ((${#parts[@]} > 1)); then
        echo "_ZN${name}E"
    else
        echo "_Z$name"
    fi
}

# check ARCH OBJDUMP NM PROGRAM: every converter must be found and show a load;
# on x86-64 so must every body for a later instruction set.
check() {
    local arch=$1 objdump=$2 nm=$3 program=$4 failed=0
    local -a wanted=("${functions[@]}")
    if [[ $arch == x86_64 ]]; then
        wanted+=("${x86_64_bodies[@]}")
    fi
    for entry in "${wanted[@]}"; do
        local function registers
        read -r function registers <<<"$entry"
        local symbol
        symbol=$("$nm" "$program" | awk -v prefix="$(mangled_prefix "$function")P" '
            $2 ~ /^[TtW]$/ && index($3, prefix) == 1 { print $3; exit }')
        if [[ -z $symbol ]]; then
            echo "check-vectors: $arch: $function not found in $program" >&2
            failed=1
            continue
        fi
        local loads
        loads=$("$objdump" -d --no-show-raw-insn --disassemble="$symbol" "$program" |
            "${arch}_vector_loads" ${registers:+"$registers"})
        if [[ -z $loads ]]; then
            echo "check-vectors: $arch: $function has no ${registers:+$registers }vector loads of its source" >&2
            failed=1
        else
            echo "check-vectors: $arch: $function: $(wc -l <<<"$loads") vector loads:"
            printf '    %s\n' "${loads//$'\n'/$'\n'    }"
        fi
    done
    return "$failed"
}

# The functions as GCC compiles them from scalar loops.
write_scalar_functions() {
    cat <<'EOF'
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
}

# The x86-64 bodies: the SSSE3 one as a scalar loop, the AVX2 one with
# 16-byte loads where it must have 32-byte ones.
write_x86_64_bodies() {
    cat <<'EOF'
#include <emmintrin.h>
#include <cstddef>
namespace row_vectors {
std::size_t convert_xrgb8888_ssse3(const std::uint8_t* s, std::uint8_t* d, std::size_t w) {
    for (std::size_t x = 0; x < w; ++x) {
        d[3 * x] = s[4 * x + 2];
        d[3 * x + 1] = s[4 * x + 1];
        d[3 * x + 2] = s[4 * x];
    }
    return w;
}
}
namespace row_filter_vectors {
std::size_t add_block_sums_avx2(const std::uint8_t* r, const std::uint8_t* p, std::size_t n,
                                unsigned long& sum) {
    __m128i total = _mm_setzero_si128();
    std::size_t i = 0;
    for (; i + 16 <= n; i += 16) {
        const __m128i row = _mm_loadu_si128(reinterpret_cast<const __m128i*>(r + i));
        const __m128i above = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
        total = _mm_add_epi64(total, _mm_sad_epu8(row, above));
    }
    sum += std::uint64_t(_mm_cvtsi128_si64(total));
    return i;
}
}
EOF
}

# self_test ARCH COMPILER OBJDUMP NM: the check must reject every function in
# the forms above.
self_test() {
    local arch=$1 compiler=$2 objdump=$3 nm=$4 scratch
    scratch=$(mktemp -d)
    trap 'rm -rf "$scratch"' RETURN
    local -a rejected=("${functions[@]}")
    write_scalar_functions >"$scratch/scalar.cpp"
    if [[ $arch == x86_64 ]]; then
        write_x86_64_bodies >>"$scratch/scalar.cpp"
        local body
        for body in "${x86_64_bodies[@]}"; do
            rejected+=("${body%% *}")
        done
    fi
    "$compiler" -std=c++20 -O2 -fno-tree-vectorize -c "$scratch/scalar.cpp" -o "$scratch/scalar.o"
    local verdict
    verdict=$(check "$arch" "$objdump" "$nm" "$scratch/scalar.o" 2>&1 >/dev/null || true)
    local function
    for function in "${rejected[@]}"; do
        if ! grep -q "$function has no .*vector loads" <<<"$verdict"; then
            echo "check-vectors: $arch: the check did not reject a scalar $function" >&2
            return 1
        fi
    done
    echo "check-vectors: $arch: the check rejects scalar converters and choosers"
}

for tool in aarch64-linux-gnu-g++ aarch64-linux-gnu-objdump aarch64-linux-gnu-nm; do
    if ! command -v "$tool" >/dev/null; then
        echo "check-vectors: $tool is missing (scripts/cross-build-arm64.sh installs it)" >&2
        exit 1
    fi
done
self_test aarch64 aarch64-linux-gnu-g++ aarch64-linux-gnu-objdump aarch64-linux-gnu-nm
check_x86_64=false
if [[ -f $x86_program ]] && file -b "$x86_program" | grep -q 'x86-64'; then
    check_x86_64=true
    self_test x86_64 g++ objdump nm
fi

if [[ $# -eq 0 && ! -f $arm64_program ]]; then
    BUILD_DIR=$(dirname "$arm64_program") scripts/cross-build-arm64.sh >&2
fi
status=0
check aarch64 aarch64-linux-gnu-objdump aarch64-linux-gnu-nm "$arm64_program" || status=1
if [[ $check_x86_64 == true ]]; then
    check x86_64 objdump nm "$x86_program" || status=1
fi
if ((status == 0)); then
    echo "check-vectors: passed"
else
    echo "check-vectors: FAILED"
fi
exit "$status"
