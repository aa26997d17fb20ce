#pragma once

// The row converters' vector steps for 64-bit ARM (little-endian).

#include <arm_neon.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace row_vectors {

// Blue, green, red and X planes in; red, green, blue interleaved out. 16
// pixels a step (one 64-byte ld4), then one 8-pixel step (a 32-byte ld4), then
// 4 pixels (one 16-byte load, shuffled into 12 bytes).
[[gnu::always_inline]] inline std::size_t convert_xrgb8888(const std::uint8_t* source,
                                                           std::uint8_t* rgb, std::size_t width) {
    std::size_t x = 0;
    for (; x + 16 <= width; x += 16) {
        const uint8x16x4_t bgrx = vld4q_u8(source + 4 * x);
        vst3q_u8(rgb + 3 * x, uint8x16x3_t{{bgrx.val[2], bgrx.val[1], bgrx.val[0]}});
    }
    if (x + 8 <= width) {
        const uint8x8x4_t bgrx = vld4_u8(source + 4 * x);
        vst3_u8(rgb + 3 * x, uint8x8x3_t{{bgrx.val[2], bgrx.val[1], bgrx.val[0]}});
        x += 8;
    }
    if (x + 4 <= width) {
        static constexpr std::uint8_t order[16] = {2, 1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12};
        const uint8x16_t packed = vqtbl1q_u8(vld1q_u8(source + 4 * x), vld1q_u8(order));
        vst1_u8(rgb + 3 * x, vget_low_u8(packed));
        const std::uint32_t last_four = vgetq_lane_u32(vreinterpretq_u32_u8(packed), 2);
        std::memcpy(rgb + 3 * x + 8, &last_four, 4);
        x += 4;
    }
    return x;
}

// Eight RGB565 pixels in 16-bit lanes to red, green and blue bytes.
[[gnu::always_inline]] inline uint8x8x3_t rgb565_to_rgb(uint16x8_t pixels) {
    const uint16x8_t red = vshrq_n_u16(pixels, 11);
    const uint16x8_t green = vandq_u16(vshrq_n_u16(pixels, 5), vdupq_n_u16(0x3F));
    const uint16x8_t blue = vandq_u16(pixels, vdupq_n_u16(0x1F));
    const auto scale = [](uint16x8_t value, std::uint16_t factor, std::uint16_t bias) {
        return vshrn_n_u16(vmlaq_n_u16(vdupq_n_u16(bias), value, factor), scale_shift);
    };
    return {{scale(red, five_bit_factor, five_bit_bias), scale(green, six_bit_factor, six_bit_bias),
             scale(blue, five_bit_factor, five_bit_bias)}};
}

// 16 pixels a step from one 32-byte load, then one 8-pixel step (16 bytes).
[[gnu::always_inline]] inline std::size_t convert_rgb565(const std::uint8_t* source,
                                                         std::uint8_t* rgb, std::size_t width) {
    std::size_t x = 0;
    for (; x + 16 <= width; x += 16) {
        const uint8x16x2_t bytes = vld1q_u8_x2(source + 2 * x);
        const uint8x8x3_t low = rgb565_to_rgb(vreinterpretq_u16_u8(bytes.val[0]));
        const uint8x8x3_t high = rgb565_to_rgb(vreinterpretq_u16_u8(bytes.val[1]));
        vst3q_u8(rgb + 3 * x, uint8x16x3_t{{vcombine_u8(low.val[0], high.val[0]),
                                            vcombine_u8(low.val[1], high.val[1]),
                                            vcombine_u8(low.val[2], high.val[2])}});
    }
    if (x + 8 <= width) {
        vst3_u8(rgb + 3 * x, rgb565_to_rgb(vreinterpretq_u16_u8(vld1q_u8(source + 2 * x))));
        x += 8;
    }
    return x;
}

}  // namespace row_vectors
