#pragma once

#include <cstddef>
#include <cstdint>

#include "output/row_filters/row_filter_sums.hpp"

namespace row_filter_vectors {

// Adds the five filters' sums over as many whole 32-byte blocks as fit in the
// row, from its start, and returns where they end: 0 for a row shorter than
// one block. Only for processors with AVX2: it is compiled for AVX2, in a
// translation unit of its own, and never inlined into the baseline code.
std::size_t add_block_sums_avx2(const std::uint8_t* row, const std::uint8_t* previous,
                                std::size_t length, filter_sums& sums);

}  // namespace row_filter_vectors
