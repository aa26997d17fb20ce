// The row filter chooser's 32-byte blocks, for processors with AVX2; empty
// on other architectures.

#if defined(__x86_64__)

#include "output/row_filters/row_filter_avx2.hpp"

#include <immintrin.h>

#include <cstddef>
#include <cstdint>

// From here on the compiler may use AVX2 in every function this file defines.
// Only the block step's templates follow, each instantiated with a lanes type
// local to this file: no function built for AVX2 can be shared with, or stand
// in for, a baseline one elsewhere in the program.
#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx2"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx2")
#endif

#include "output/row_filters/row_filter_x86_blocks.hpp"

namespace row_filter_vectors {
namespace {

struct avx2_lanes {
    using vector = __m256i;
    static constexpr std::size_t bytes = 32;

    static __m256i load(const std::uint8_t* at) {
        return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at));
    }
    static __m256i zero() { return _mm256_setzero_si256(); }
    static __m256i set1_epi8(char byte) { return _mm256_set1_epi8(byte); }
    static __m256i subs_epu8(__m256i x, __m256i y) { return _mm256_subs_epu8(x, y); }
    static __m256i adds_epu8(__m256i x, __m256i y) { return _mm256_adds_epu8(x, y); }
    static __m256i sub_epi8(__m256i x, __m256i y) { return _mm256_sub_epi8(x, y); }
    static __m256i cmpeq_epi8(__m256i x, __m256i y) { return _mm256_cmpeq_epi8(x, y); }
    static __m256i avg_epu8(__m256i x, __m256i y) { return _mm256_avg_epu8(x, y); }
    static __m256i min_epu8(__m256i x, __m256i y) { return _mm256_min_epu8(x, y); }
    static __m256i sad_epu8(__m256i x, __m256i y) { return _mm256_sad_epu8(x, y); }
    static __m256i add_epi64(__m256i x, __m256i y) { return _mm256_add_epi64(x, y); }
    static __m256i and_bits(__m256i x, __m256i y) { return _mm256_and_si256(x, y); }
    static __m256i or_bits(__m256i x, __m256i y) { return _mm256_or_si256(x, y); }
    static __m256i xor_bits(__m256i x, __m256i y) { return _mm256_xor_si256(x, y); }
    // One instruction where SSE2 needs three: the mask is 0 or 0xFF per byte.
    static __m256i select(__m256i mask, __m256i if_set, __m256i if_clear) {
        return _mm256_blendv_epi8(if_clear, if_set, mask);
    }

    // Every byte moved 3 places up, to the next pixel, behind zeros. Across
    // the two 16-byte halves: the low half, placed in the high one, gives the
    // high half the three bytes it takes in.
    static __m256i one_pixel_up(__m256i bytes) {
        const __m256i low_half_up = _mm256_permute2x128_si256(bytes, bytes, 0x08);
        return _mm256_alignr_epi8(bytes, low_half_up, 16 - pixel_bytes);
    }

    static std::uint64_t total(__m256i sum) {
        const __m128i halves =
            _mm_add_epi64(_mm256_castsi256_si128(sum), _mm256_extracti128_si256(sum, 1));
        return std::uint64_t(_mm_cvtsi128_si64(halves)) +
               std::uint64_t(_mm_cvtsi128_si64(_mm_unpackhi_epi64(halves, halves)));
    }
};

}  // namespace

std::size_t add_block_sums_avx2(const std::uint8_t* row, const std::uint8_t* previous,
                                std::size_t length, filter_sums& sums) {
    return x86_blocks<avx2_lanes>::add(row, previous, 0, length, sums);
}

}  // namespace row_filter_vectors

#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif

#endif
