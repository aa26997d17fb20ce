#pragma once

#include <cstdint>

// Write height rows of width pixels, row y starting at pixels + y × pitch, as
// an 8-bit RGB PNG at path, creating or truncating the file. 0 on success, -1
// on failure with errno as the failing step, or libpng's clean-up, left it.
int write_png_rgb24_xrgb(const char* path, std::uint32_t width, std::uint32_t height,
                         std::uint32_t pitch, const std::uint8_t* pixels);
int write_png_rgb24_rgb565(const char* path, std::uint32_t width, std::uint32_t height,
                           std::uint32_t pitch, const std::uint8_t* pixels);
