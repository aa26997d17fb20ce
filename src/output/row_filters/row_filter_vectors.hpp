#pragma once

// The vector part of the row filter chooser: the five filters' sums over as
// many whole vector blocks (16 bytes, or 32 with AVX2) as fit in the row, from
// its start, leaving the last few bytes to the caller's byte-at-a-time loop.
//
// Every predictor comes from raw bytes of this row and the one above, all
// known beforehand, so each byte of a block is filtered independently of its
// neighbours' filtered values. Everything here is inlined into the chooser,
// but for the AVX2 blocks (row_filter_avx2.hpp).

#include <cstddef>
#include <cstdint>

#include "output/row_filters/row_filter_sums.hpp"

namespace row_filter_vectors {

// The width of the NEON blocks.
constexpr std::size_t block_bytes = 16;

}  // namespace row_filter_vectors

#if defined(__aarch64__) && defined(__ARM_NEON) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
#include "output/row_filters/row_filter_neon.hpp"
#elif defined(__x86_64__)
#include "output/row_filters/row_filter_x86.hpp"
#else
namespace row_filter_vectors {
// No vector unit known here: the byte-at-a-time loop does the whole row.
inline std::size_t add_block_sums(const std::uint8_t*, const std::uint8_t*, std::size_t,
                                  filter_sums&) {
    return 0;
}
}  // namespace row_filter_vectors
#endif
