#pragma once

// The vector part of the row converters: as many whole steps as fit in the
// row, leaving the last few pixels to the caller's word-at-a-time loop.
//
// The scanout buffer is often mapped write-combined (uncached), where narrow
// loads are many times slower than wide ones, so these read each row once,
// front to back, in loads of 16 bytes or more, and never past the row's end.
// Everything here is inlined into the out-of-line converters.

#include <cstddef>
#include <cstdint>

namespace row_vectors {

// RGB565 scaling in 16-bit lanes: a multiply, an add and a shift in place of
// the truncating division value × 255 / maximum.
constexpr unsigned scale_shift = 7;
constexpr std::uint16_t five_bit_factor = 1053;
constexpr std::uint16_t five_bit_bias = 0;
constexpr std::uint16_t six_bit_factor = 518;
constexpr std::uint16_t six_bit_bias = 6;

// True when the multiply-add-shift equals the division for every value,
// without leaving 16 bits.
constexpr bool matches_truncating_division(unsigned maximum, unsigned factor, unsigned bias) {
    for (unsigned value = 0; value <= maximum; ++value) {
        const unsigned product = value * factor + bias;
        if (product > 0xFFFF || product >> scale_shift != value * 255 / maximum) {
            return false;
        }
    }
    return true;
}
static_assert(matches_truncating_division(31, five_bit_factor, five_bit_bias));
static_assert(matches_truncating_division(63, six_bit_factor, six_bit_bias));

}  // namespace row_vectors

#if defined(__aarch64__) && defined(__ARM_NEON) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
#include "output/row_conversion/row_converters_neon.hpp"
#elif defined(__x86_64__)
#include "output/row_conversion/row_converters_x86.hpp"
#else
namespace row_vectors {
// No vector unit known here: the word-at-a-time loop does the whole row.
inline std::size_t convert_xrgb8888(const std::uint8_t*, std::uint8_t*, std::size_t) {
    return 0;
}
inline std::size_t convert_rgb565(const std::uint8_t*, std::uint8_t*, std::size_t) {
    return 0;
}
}  // namespace row_vectors
#endif
