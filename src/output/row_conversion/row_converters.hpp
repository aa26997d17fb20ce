#pragma once

#include <cstdint>

#include "output/x86_vectors.hpp"

// Turns one source row of width pixels into width × 3 bytes of red, green and
// blue. Source pixels are little-endian words; the result is the same on any
// host. Each source byte is read once, front to back, mostly in vector loads of
// 16 bytes or more straight from the mapping, and nothing past the row's last
// pixel is read. Out of line, so that a disassembly can show those loads.
using row_converter = void (*)(const std::uint8_t* source, std::uint8_t* rgb, std::uint32_t width);

// XRGB8888 and ARGB8888: the top byte (X or alpha) is dropped.
void convert_xrgb8888_row(const std::uint8_t* source, std::uint8_t* rgb, std::uint32_t width);

#if defined(__x86_64__)
// The same on the given instruction set, which the processor must run:
// convert_xrgb8888_row takes SSSE3's byte shuffle where the processor has it.
// The tests run each.
void convert_xrgb8888_row_with(x86_vectors set, const std::uint8_t* source, std::uint8_t* rgb,
                               std::uint32_t width);
#endif

// RGB565: each channel scaled to 0..255 with a truncating division
// (value × 255 / maximum), so 16 of 31 gives 131 and 32 of 63 gives 129.
void convert_rgb565_row(const std::uint8_t* source, std::uint8_t* rgb, std::uint32_t width);
