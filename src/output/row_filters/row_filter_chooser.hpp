#pragma once

#include <cstddef>
#include <cstdint>

#include "output/x86_vectors.hpp"

// PNG's five row filters, in the order libpng tries them.
enum class row_filter : std::uint8_t { none, sub, up, average, paeth };

// The filter libpng 1.6's default choice picks for a row of 8-bit RGB pixels
// (3 bytes each, length bytes in all), given the row and the one above it as
// raw bytes. Each filter's sum is that of min(v, 256 - v) over its filtered
// bytes; the smallest sum wins and a tie goes to the earlier filter. A row one
// pixel wide chooses between none and up only, as libpng does then. Reads
// exactly length bytes of each row, mostly in vector loads (AVX2's where the
// processor has AVX2); out of line, so that a disassembly can show them.
row_filter choose_row_filter(const std::uint8_t* row, const std::uint8_t* previous,
                             std::size_t length);

#if defined(__x86_64__)
// The same choice on the given instruction set, which the processor must run;
// choose_row_filter takes the widest it runs. The tests run each.
row_filter choose_row_filter_with(x86_vectors set, const std::uint8_t* row,
                                  const std::uint8_t* previous, std::size_t length);
#endif
