#pragma once

// The vector part of the row filter chooser: the five filters' sums over as
// many whole 16-byte blocks as fit in the row, from its start, leaving the
// last few bytes to the caller's byte-at-a-time loop.
//
// Every predictor comes from raw bytes of this row and the one above, all
// known beforehand, so each byte of a block is filtered independently of its
// neighbours' filtered values. Everything here is inlined into the chooser.

#include <cstddef>
#include <cstdint>

namespace row_filter_vectors {

// Each filter's sum of min(v, 256 - v) over its filtered bytes.
struct filter_sums {
    std::uint64_t none = 0, sub = 0, up = 0, average = 0, paeth = 0;
};

// Bytes from one pixel to the next: the left neighbour is 3 bytes back.
constexpr std::size_t pixel_bytes = 3;
constexpr std::size_t block_bytes = 16;

}  // namespace row_filter_vectors

#if defined(__aarch64__) && defined(__ARM_NEON) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
#include "output/row_filters/row_filter_neon.hpp"
#elif defined(__SSE2__)
#include "output/row_filters/row_filter_sse2.hpp"
#else
namespace row_filter_vectors {
// No vector unit known here: the byte-at-a-time loop does the whole row.
inline std::size_t add_block_sums(const std::uint8_t*, const std::uint8_t*, std::size_t,
                                  filter_sums&) {
    return 0;
}
}  // namespace row_filter_vectors
#endif
