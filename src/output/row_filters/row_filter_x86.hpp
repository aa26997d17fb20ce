#pragma once

// The row filter chooser's blocks for x86-64: SSE2's 16-byte vectors, the
// architecture's baseline, and AVX2's 32-byte ones where the processor has
// AVX2.

#include <emmintrin.h>

#include <cstddef>
#include <cstdint>

#include "output/row_filters/row_filter_avx2.hpp"
#include "output/row_filters/row_filter_x86_blocks.hpp"
#include "output/x86_vectors.hpp"

namespace row_filter_vectors {

struct sse2_lanes {
    using vector = __m128i;
    static constexpr std::size_t bytes = 16;

    static __m128i load(const std::uint8_t* at) {
        return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
    }
    static __m128i zero() { return _mm_setzero_si128(); }
    static __m128i set1_epi8(char byte) { return _mm_set1_epi8(byte); }
    static __m128i subs_epu8(__m128i x, __m128i y) { return _mm_subs_epu8(x, y); }
    static __m128i adds_epu8(__m128i x, __m128i y) { return _mm_adds_epu8(x, y); }
    static __m128i sub_epi8(__m128i x, __m128i y) { return _mm_sub_epi8(x, y); }
    static __m128i cmpeq_epi8(__m128i x, __m128i y) { return _mm_cmpeq_epi8(x, y); }
    static __m128i avg_epu8(__m128i x, __m128i y) { return _mm_avg_epu8(x, y); }
    static __m128i min_epu8(__m128i x, __m128i y) { return _mm_min_epu8(x, y); }
    static __m128i sad_epu8(__m128i x, __m128i y) { return _mm_sad_epu8(x, y); }
    static __m128i add_epi64(__m128i x, __m128i y) { return _mm_add_epi64(x, y); }
    static __m128i and_bits(__m128i x, __m128i y) { return _mm_and_si128(x, y); }
    static __m128i or_bits(__m128i x, __m128i y) { return _mm_or_si128(x, y); }
    static __m128i xor_bits(__m128i x, __m128i y) { return _mm_xor_si128(x, y); }
    static __m128i select(__m128i mask, __m128i if_set, __m128i if_clear) {
        return _mm_or_si128(_mm_and_si128(mask, if_set), _mm_andnot_si128(mask, if_clear));
    }

    // Every byte moved 3 places up, to the next pixel, behind zeros.
    static __m128i one_pixel_up(__m128i bytes) { return _mm_slli_si128(bytes, pixel_bytes); }

    static std::uint64_t total(__m128i sum) {
        return std::uint64_t(_mm_cvtsi128_si64(sum)) +
               std::uint64_t(_mm_cvtsi128_si64(_mm_unpackhi_epi64(sum, sum)));
    }
};

// The five filters' sums over as many whole vector blocks as fit in the row,
// from its start, with AVX2 where the processor has it (or as given): 32-byte
// blocks first, then one of 16 bytes where 16 or more are left.
[[gnu::always_inline]] inline std::size_t add_block_sums(
    const std::uint8_t* row, const std::uint8_t* previous, std::size_t length, filter_sums& sums,
    x86_vectors set = processor_runs(x86_vectors::avx2) ? x86_vectors::avx2 : x86_vectors::sse2) {
    const std::size_t done =
        set >= x86_vectors::avx2 ? add_block_sums_avx2(row, previous, length, sums) : 0;
    return x86_blocks<sse2_lanes>::add(row, previous, done, length, sums);
}

}  // namespace row_filter_vectors
