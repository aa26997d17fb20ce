#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The PNG file libpng writes at its defaults from width × height RGB pixels
// (3 bytes each, row by row), one png_write_row per row: the bytes the tool's
// PNGs must equal. Encoded in memory; empty if libpng fails.
std::string encode_with_libpng_defaults(const std::vector<std::uint8_t>& rgb, std::uint32_t width,
                                        std::uint32_t height);
