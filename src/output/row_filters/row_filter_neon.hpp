#pragma once

// The row filter chooser's blocks for 64-bit ARM (little-endian).

#include <arm_neon.h>

#include <cstddef>
#include <cstdint>

namespace row_filter_vectors {

// With p = left + up - upper_left, the first of left, up and upper-left that
// is closest to p: ties go to left, then up.
[[gnu::always_inline]] inline uint8x16_t paeth_predictor(uint8x16_t left, uint8x16_t up,
                                                         uint8x16_t upper_left) {
    const uint8x16_t to_left = vabdq_u8(up, upper_left);  // |p - left|
    const uint8x16_t to_up = vabdq_u8(left, upper_left);  // |p - up|
    // |p - upper_left| = |(up - upper_left) + (left - upper_left)|: the sum of
    // the two distances when both differences have the same sign, else their
    // difference. A sum saturated at 255 is still no smaller than the other
    // two, and upper-left wins only when strictly closest.
    const uint8x16_t same_sign = vceqq_u8(vcgeq_u8(up, upper_left), vcgeq_u8(left, upper_left));
    const uint8x16_t to_upper_left =
        vbslq_u8(same_sign, vqaddq_u8(to_left, to_up), vabdq_u8(to_left, to_up));
    const uint8x16_t closest = vminq_u8(to_left, vminq_u8(to_up, to_upper_left));
    return vbslq_u8(vceqq_u8(to_left, closest), left,
                    vbslq_u8(vceqq_u8(to_up, closest), up, upper_left));
}

// min(v, 256 - v) is the magnitude of v read as a signed byte (-128 gives
// 128 again). Adds the 16 costs to the four 32-bit lanes of sum.
[[gnu::always_inline]] inline uint32x4_t add_costs(uint32x4_t sum, uint8x16_t filtered) {
    const uint8x16_t cost = vreinterpretq_u8_s8(vabsq_s8(vreinterpretq_s8_u8(filtered)));
    return vpadalq_u16(sum, vpaddlq_u8(cost));
}

// The five running sums, four 32-bit lanes each: a row of at most 3000000
// bytes adds at most 96000000 to a lane.
struct block_sums {
    uint32x4_t none = vdupq_n_u32(0), sub = none, up = none, average = none, paeth = none;

    [[gnu::always_inline]] void add(uint8x16_t raw, uint8x16_t above, uint8x16_t left,
                                    uint8x16_t upper_left) {
        none = add_costs(none, raw);
        sub = add_costs(sub, vsubq_u8(raw, left));
        up = add_costs(up, vsubq_u8(raw, above));
        // The halving add truncates: floor((left + up) / 2).
        average = add_costs(average, vsubq_u8(raw, vhaddq_u8(left, above)));
        paeth = add_costs(paeth, vsubq_u8(raw, paeth_predictor(left, above, upper_left)));
    }

    [[gnu::always_inline]] void add_to(filter_sums& sums) const {
        sums.none += vaddvq_u32(none);
        sums.sub += vaddvq_u32(sub);
        sums.up += vaddvq_u32(up);
        sums.average += vaddvq_u32(average);
        sums.paeth += vaddvq_u32(paeth);
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
    const uint8x16_t zero = vdupq_n_u8(0);
    const uint8x16_t first = vld1q_u8(row);
    const uint8x16_t first_above = vld1q_u8(previous);
    block.add(first, first_above, vextq_u8(zero, first, block_bytes - pixel_bytes),
              vextq_u8(zero, first_above, block_bytes - pixel_bytes));
    std::size_t at = block_bytes;
    for (; at + block_bytes <= length; at += block_bytes) {
        block.add(vld1q_u8(row + at), vld1q_u8(previous + at), vld1q_u8(row + at - pixel_bytes),
                  vld1q_u8(previous + at - pixel_bytes));
    }
    block.add_to(sums);
    return at;
}

}  // namespace row_filter_vectors
