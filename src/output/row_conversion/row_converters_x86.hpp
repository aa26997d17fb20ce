#pragma once

// The row converters' vector steps for x86-64, whose baseline has SSE2 (but
// no byte shuffle): channels are moved with shifts and masks. Where the
// processor has SSSE3, XRGB8888 rows take its byte shuffle first.

#include <emmintrin.h>
#include <tmmintrin.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "output/x86_vectors.hpp"

namespace row_vectors {

[[gnu::always_inline]] inline __m128i load_16_bytes(const std::uint8_t* source) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(source));
}

// Stores the low three bytes of each of the four 32-bit lanes, in lane order,
// as exactly 12 bytes: no byte after them is touched.
[[gnu::always_inline]] inline void store_rgb_lanes(__m128i lanes, std::uint8_t* rgb) {
    // Within each 64-bit half, close the gap between its two lanes: 6 bytes.
    const __m128i first_lane = _mm_set1_epi64x(0x0000000000FFFFFF);
    const __m128i second_lane = _mm_set1_epi64x(0x0000FFFFFF000000);
    const __m128i halves = _mm_or_si128(_mm_and_si128(lanes, first_lane),
                                        _mm_and_si128(_mm_srli_epi64(lanes, 8), second_lane));
    // Then move the upper half's 6 bytes down, right after the lower half's.
    const __m128i first_six_bytes = _mm_set_epi64x(0, 0x0000FFFFFFFFFFFF);
    const __m128i packed =
        _mm_or_si128(_mm_and_si128(halves, first_six_bytes),
                     _mm_andnot_si128(first_six_bytes, _mm_srli_si128(halves, 2)));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(rgb), packed);
    const auto last_four = static_cast<std::uint32_t>(_mm_cvtsi128_si32(_mm_srli_si128(packed, 8)));
    std::memcpy(rgb + 8, &last_four, 4);
}

// 16 pixels a step: four 16-byte loads, each shuffled into the red, green
// and blue bytes of its four pixels, 12 bytes, which are joined into three
// 16-byte stores. Only for processors with SSSE3: built for SSSE3, it is never
// inlined into the baseline code.
[[gnu::target("ssse3")]] inline std::size_t convert_xrgb8888_ssse3(const std::uint8_t* source,
                                                                   std::uint8_t* rgb,
                                                                   std::size_t width) {
    // The pixels' bytes in the shuffled vector's low 12 bytes, or its high 12;
    // -1 gives 0.
    const __m128i to_low = _mm_setr_epi8(2, 1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1);
    const __m128i to_high = _mm_setr_epi8(-1, -1, -1, -1, 2, 1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12);
    std::size_t x = 0;
    for (; x + 16 <= width; x += 16) {
        const std::uint8_t* const pixels = source + 4 * x;
        const __m128i first = _mm_shuffle_epi8(load_16_bytes(pixels), to_low);
        const __m128i second = _mm_shuffle_epi8(load_16_bytes(pixels + 16), to_high);
        const __m128i third = _mm_shuffle_epi8(load_16_bytes(pixels + 32), to_low);
        const __m128i fourth = _mm_shuffle_epi8(load_16_bytes(pixels + 48), to_high);
        auto* const out = reinterpret_cast<__m128i*>(rgb + 3 * x);
        _mm_storeu_si128(out, _mm_or_si128(first, _mm_slli_si128(second, 8)));
        _mm_storeu_si128(out + 1, _mm_alignr_epi8(third, second, 8));
        _mm_storeu_si128(out + 2, _mm_or_si128(_mm_srli_si128(third, 8), fourth));
    }
    return x;
}

// With SSSE3 where the processor has it (or as given), 16 pixels a step
// first; then 4 pixels a step (16 bytes) in SSE2: each 32-bit lane, blue |
// green << 8 | red << 16 | X << 24, becomes red | green << 8 | blue << 16.
[[gnu::always_inline]] inline std::size_t convert_xrgb8888(
    const std::uint8_t* source, std::uint8_t* rgb, std::size_t width,
    x86_vectors set = processor_runs(x86_vectors::ssse3) ? x86_vectors::ssse3 : x86_vectors::sse2) {
    const __m128i low_byte = _mm_set1_epi32(0x000000FF);
    const __m128i second_byte = _mm_set1_epi32(0x0000FF00);
    const __m128i third_byte = _mm_set1_epi32(0x00FF0000);
    std::size_t x = set >= x86_vectors::ssse3 ? convert_xrgb8888_ssse3(source, rgb, width) : 0;
    for (; x + 4 <= width; x += 4) {
        const __m128i pixels = load_16_bytes(source + 4 * x);
        const __m128i red = _mm_and_si128(_mm_srli_epi32(pixels, 16), low_byte);
        const __m128i green = _mm_and_si128(pixels, second_byte);
        const __m128i blue = _mm_and_si128(_mm_slli_epi32(pixels, 16), third_byte);
        store_rgb_lanes(_mm_or_si128(_mm_or_si128(red, green), blue), rgb + 3 * x);
    }
    return x;
}

// Scales eight channel values in 16-bit lanes, leaving each in its lane.
[[gnu::always_inline]] inline __m128i scale(__m128i values, std::uint16_t factor,
                                            std::uint16_t bias) {
    return _mm_srli_epi16(_mm_add_epi16(_mm_mullo_epi16(values, _mm_set1_epi16(short(factor))),
                                        _mm_set1_epi16(short(bias))),
                          scale_shift);
}

// 8 pixels a step from one 16-byte load; the scaled channels are joined into
// red | green << 8 | blue << 16 lanes, four pixels to a vector.
[[gnu::always_inline]] inline std::size_t convert_rgb565(const std::uint8_t* source,
                                                         std::uint8_t* rgb, std::size_t width) {
    const __m128i six_bits = _mm_set1_epi16(0x3F);
    const __m128i five_bits = _mm_set1_epi16(0x1F);
    std::size_t x = 0;
    for (; x + 8 <= width; x += 8) {
        const __m128i pixels = load_16_bytes(source + 2 * x);
        const __m128i red = scale(_mm_srli_epi16(pixels, 11), five_bit_factor, five_bit_bias);
        const __m128i green =
            scale(_mm_and_si128(_mm_srli_epi16(pixels, 5), six_bits), six_bit_factor, six_bit_bias);
        const __m128i blue =
            scale(_mm_and_si128(pixels, five_bits), five_bit_factor, five_bit_bias);
        const __m128i red_green = _mm_or_si128(red, _mm_slli_epi16(green, 8));
        store_rgb_lanes(_mm_unpacklo_epi16(red_green, blue), rgb + 3 * x);
        store_rgb_lanes(_mm_unpackhi_epi16(red_green, blue), rgb + 3 * x + 12);
    }
    return x;
}

}  // namespace row_vectors
