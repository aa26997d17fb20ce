#pragma once

#include <cstdint>

// The floor: rows of red, green and blue that are already converted, encoded
// with libpng the way the tool encodes them (8-bit RGB, default compression
// level and row filters, one png_write_row per row, a stdio file). Returns
// false when libpng or the file fails.
bool encode_floor_png(const char* path, std::uint32_t width, std::uint32_t height,
                      const std::uint8_t* rgb);
