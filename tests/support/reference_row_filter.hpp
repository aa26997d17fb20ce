#pragma once

#include <cstddef>
#include <cstdint>

#include "output/row_filters/row_filter_chooser.hpp"

// The row filter libpng's default picks, written out plainly and apart from
// the tool's chooser: the row filtered five ways, byte by byte, each result
// summed, the first smallest sum taken.
row_filter reference_row_filter(const std::uint8_t* row, const std::uint8_t* previous,
                                std::size_t length);

// The Paeth predictor as PNG defines it, for tests that build rows from it.
int reference_paeth(int left, int up, int upper_left);
