#pragma once

// The row filter chooser's block step for x86-64, written once over a lanes
// type: SSE2's 16-byte vectors or AVX2's 32-byte ones. A lanes type names its
// vector type and its width in bytes and gives the byte operations used here
// as static functions; it may do one of them in fewer instructions of its own
// (select).
//
// x86 has no unsigned byte comparison before AVX-512: x <= y is tested as "x
// minus y, saturated at 0, is 0".
//
// Everything here is inlined into one function compiled for the lanes'
// instruction set. The AVX2 one is built in a translation unit of its own,
// which includes this file after switching the compiler to AVX2.

#include <cstddef>
#include <cstdint>

#include "output/row_filters/row_filter_sums.hpp"

namespace row_filter_vectors {

template <typename Lanes>
struct x86_blocks {
    using V = typename Lanes::vector;

    // 0xFF in each byte where x <= y, unsigned.
    [[gnu::always_inline]] static V at_most(V x, V y) {
        return Lanes::cmpeq_epi8(Lanes::subs_epu8(x, y), Lanes::zero());
    }

    [[gnu::always_inline]] static V distance(V x, V y) {
        return Lanes::or_bits(Lanes::subs_epu8(x, y), Lanes::subs_epu8(y, x));
    }

    // floor((left + up) / 2): pavgb rounds up, so the carried-in bit is taken
    // off where the two differ in their lowest bit.
    [[gnu::always_inline]] static V average_predictor(V left, V up) {
        return Lanes::sub_epi8(Lanes::avg_epu8(left, up),
                               Lanes::and_bits(Lanes::xor_bits(left, up), Lanes::set1_epi8(1)));
    }

    // With p = left + up - upper_left, the first of left, up and upper-left
    // that is closest to p: ties go to left, then up.
    [[gnu::always_inline]] static V paeth_predictor(V left, V up, V upper_left) {
        const V to_left = distance(up, upper_left);  // |p - left|
        const V to_up = distance(left, upper_left);  // |p - up|
        // |p - upper_left| = |(up - upper_left) + (left - upper_left)|: the sum
        // of the two distances when both differences have the same sign, else
        // their difference. A sum saturated at 255 is still no smaller than the
        // other two, and upper-left wins only when strictly closest.
        const V same_sign = Lanes::cmpeq_epi8(at_most(upper_left, up), at_most(upper_left, left));
        const V to_upper_left =
            Lanes::select(same_sign, Lanes::adds_epu8(to_left, to_up), distance(to_left, to_up));
        const V closest = Lanes::min_epu8(to_left, Lanes::min_epu8(to_up, to_upper_left));
        return Lanes::select(Lanes::cmpeq_epi8(to_left, closest), left,
                             Lanes::select(Lanes::cmpeq_epi8(to_up, closest), up, upper_left));
    }

    // min(v, 256 - v) is the distance of v, read as a signed byte, from 0, and
    // so that of v with its top bit flipped from 128, which psadbw sums.
    // Flipping the raw byte's top bit flips the filtered byte's: (raw ^ 0x80) -
    // predictor is (raw - predictor) ^ 0x80. Adds the costs to the 64-bit lanes
    // of sum, one lane for every 8 bytes.
    [[gnu::always_inline]] static V add_costs(V sum, V flipped_filtered) {
        return Lanes::add_epi64(sum,
                                Lanes::sad_epu8(flipped_filtered, Lanes::set1_epi8(char(0x80))));
    }

    // The five running sums, in 64-bit lanes.
    struct running_sums {
        V none, sub, up, average, paeth;

        [[gnu::always_inline]] void add(V raw, V above, V left, V upper_left) {
            const V flipped = Lanes::xor_bits(raw, Lanes::set1_epi8(char(0x80)));
            none = add_costs(none, flipped);
            sub = add_costs(sub, Lanes::sub_epi8(flipped, left));
            up = add_costs(up, Lanes::sub_epi8(flipped, above));
            average = add_costs(average, Lanes::sub_epi8(flipped, average_predictor(left, above)));
            paeth = add_costs(paeth,
                              Lanes::sub_epi8(flipped, paeth_predictor(left, above, upper_left)));
        }

        [[gnu::always_inline]] void add_to(filter_sums& sums) const {
            sums.none += Lanes::total(none);
            sums.sub += Lanes::total(sub);
            sums.up += Lanes::total(up);
            sums.average += Lanes::total(average);
            sums.paeth += Lanes::total(paeth);
        }
    };

    // Adds whole blocks of Lanes::bytes from start on, as many as fit before
    // the row's end, and returns where they end. The first block of a row
    // (start 0) takes its left and upper-left neighbours from its own bytes
    // moved one pixel up, behind zeros; every later one loads them 3 bytes
    // back.
    [[gnu::always_inline]] static std::size_t add(const std::uint8_t* row,
                                                  const std::uint8_t* previous, std::size_t start,
                                                  std::size_t length, filter_sums& sums) {
        constexpr std::size_t bytes = Lanes::bytes;
        if (length < start + bytes) {
            return start;
        }
        // Set here, not by a default member initialiser: the compiler's own
        // constructor would not be built for the lanes' instruction set.
        const V zero = Lanes::zero();
        running_sums block{zero, zero, zero, zero, zero};
        std::size_t at = start;
        if (at == 0) {
            const V first = Lanes::load(row);
            const V first_above = Lanes::load(previous);
            block.add(first, first_above, Lanes::one_pixel_up(first),
                      Lanes::one_pixel_up(first_above));
            at = bytes;
        }
        for (; at + bytes <= length; at += bytes) {
            block.add(Lanes::load(row + at), Lanes::load(previous + at),
                      Lanes::load(row + at - pixel_bytes),
                      Lanes::load(previous + at - pixel_bytes));
        }
        block.add_to(sums);
        return at;
    }
};

}  // namespace row_filter_vectors
