#pragma once

#include <cstddef>
#include <cstdint>

namespace row_filter_vectors {

// Each filter's sum of min(v, 256 - v) over its filtered bytes.
struct filter_sums {
    std::uint64_t none = 0, sub = 0, up = 0, average = 0, paeth = 0;
};

// Bytes from one pixel to the next: the left neighbour is 3 bytes back.
constexpr std::size_t pixel_bytes = 3;

}  // namespace row_filter_vectors
