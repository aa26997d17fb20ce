#pragma once

// The row filter chooser's blocks for x86-64 (SSE2, its baseline). SSE2 has no
// unsigned byte comparison: x <= y is tested as "x minus y, saturated at 0, is
// 0".

#include <emmintrin.h>

#include <cstddef>
#include <cstdint>

namespace row_filter_vectors {

[[gnu::always_inline]] inline __m128i load_block(const std::uint8_t* bytes) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes));
}

// 0xFF in each byte where x <= y, unsigned.
[[gnu::always_inline]] inline __m128i at_most(__m128i x, __m128i y) {
    return _mm_cmpeq_epi8(_mm_subs_epu8(x, y), _mm_setzero_si128());
}

[[gnu::always_inline]] inline __m128i distance(__m128i x, __m128i y) {
    return _mm_or_si128(_mm_subs_epu8(x, y), _mm_subs_epu8(y, x));
}

[[gnu::always_inline]] inline __m128i select(__m128i mask, __m128i if_set, __m128i if_clear) {
    return _mm_or_si128(_mm_and_si128(mask, if_set), _mm_andnot_si128(mask, if_clear));
}

// floor((left + up) / 2): pavgb rounds up, so the carried-in bit is taken off
// where the two differ in their lowest bit.
[[gnu::always_inline]] inline __m128i average_predictor(__m128i left, __m128i up) {
    return _mm_sub_epi8(_mm_avg_epu8(left, up),
                        _mm_and_si128(_mm_xor_si128(left, up), _mm_set1_epi8(1)));
}

// With p = left + up - upper_left, the first of left, up and upper-left that
// is closest to p: ties go to left, then up.
[[gnu::always_inline]] inline __m128i paeth_predictor(__m128i left, __m128i up,
                                                      __m128i upper_left) {
    const __m128i to_left = distance(up, upper_left);  // |p - left|
    const __m128i to_up = distance(left, upper_left);  // |p - up|
    // |p - upper_left| = |(up - upper_left) + (left - upper_left)|: the sum of
    // the two distances when both differences have the same sign, else their
    // difference. A sum saturated at 255 is still no smaller than the other
    // two, and upper-left wins only when strictly closest.
    const __m128i same_sign = _mm_cmpeq_epi8(at_most(upper_left, up), at_most(upper_left, left));
    const __m128i to_upper_left =
        select(same_sign, _mm_adds_epu8(to_left, to_up), distance(to_left, to_up));
    const __m128i closest = _mm_min_epu8(to_left, _mm_min_epu8(to_up, to_upper_left));
    return select(_mm_cmpeq_epi8(to_left, closest), left,
                  select(_mm_cmpeq_epi8(to_up, closest), up, upper_left));
}

// min(v, 256 - v) is the distance of v, read as a signed byte, from 0, and so
// that of v with its top bit flipped from 128, which psadbw sums. Flipping the
// raw byte's top bit flips the filtered byte's: (raw ^ 0x80) - predictor is
// (raw - predictor) ^ 0x80. Adds the 16 costs to the two 64-bit halves of sum.
[[gnu::always_inline]] inline __m128i add_costs(__m128i sum, __m128i flipped_filtered) {
    return _mm_add_epi64(sum, _mm_sad_epu8(flipped_filtered, _mm_set1_epi8(char(0x80))));
}

[[gnu::always_inline]] inline std::uint64_t total(__m128i sum) {
    return std::uint64_t(_mm_cvtsi128_si64(sum)) +
           std::uint64_t(_mm_cvtsi128_si64(_mm_unpackhi_epi64(sum, sum)));
}

// The five running sums, two 64-bit halves each.
struct block_sums {
    __m128i none = _mm_setzero_si128(), sub = none, up = none, average = none, paeth = none;

    [[gnu::always_inline]] void add(__m128i raw, __m128i above, __m128i left, __m128i upper_left) {
        const __m128i flipped = _mm_xor_si128(raw, _mm_set1_epi8(char(0x80)));
        none = add_costs(none, flipped);
        sub = add_costs(sub, _mm_sub_epi8(flipped, left));
        up = add_costs(up, _mm_sub_epi8(flipped, above));
        average = add_costs(average, _mm_sub_epi8(flipped, average_predictor(left, above)));
        paeth = add_costs(paeth, _mm_sub_epi8(flipped, paeth_predictor(left, above, upper_left)));
    }

    [[gnu::always_inline]] void add_to(filter_sums& sums) const {
        sums.none += total(none);
        sums.sub += total(sub);
        sums.up += total(up);
        sums.average += total(average);
        sums.paeth += total(paeth);
    }
};

[[gnu::always_inline]] inline std::size_t add_block_sums(const std::uint8_t* row,
                                                         const std::uint8_t* previous,
                                                         std::size_t length, filter_sums& sums) {
    if (length < block_bytes) {
        return 0;
    }
    block_sums block;
    // The first pixel's left and upper-left neighbours are 0; shifting the
    // first block by one pixel gives exactly that.
    const __m128i first = load_block(row);
    const __m128i first_above = load_block(previous);
    block.add(first, first_above, _mm_slli_si128(first, pixel_bytes),
              _mm_slli_si128(first_above, pixel_bytes));
    std::size_t at = block_bytes;
    for (; at + block_bytes <= length; at += block_bytes) {
        block.add(load_block(row + at), load_block(previous + at),
                  load_block(row + at - pixel_bytes), load_block(previous + at - pixel_bytes));
    }
    block.add_to(sums);
    return at;
}

}  // namespace row_filter_vectors
