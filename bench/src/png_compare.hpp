#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// The file's pixels as 8-bit red, green and blue, whatever colour type it
// was written with (palette, grey, with or without alpha).
std::optional<std::vector<std::uint8_t>> read_png_as_rgb(const std::string& path,
                                                         std::uint32_t width, std::uint32_t height);

std::optional<std::vector<std::uint8_t>> read_file_bytes(const std::string& path);
