#pragma once

#include <cstdint>

#include "output/row_conversion/row_converters.hpp"

// Write height rows of width pixels, row y starting at pixels + y × pitch, as
// an 8-bit RGB PNG at path, creating or truncating the file. 0 on success, -1
// on failure with errno as the failing step, or libpng's clean-up, left it.
int write_png_rgb24_xrgb(const char* path, std::uint32_t width, std::uint32_t height,
                         std::uint32_t pitch, const std::uint8_t* pixels);
int write_png_rgb24_rgb565(const char* path, std::uint32_t width, std::uint32_t height,
                           std::uint32_t pitch, const std::uint8_t* pixels);

// Who picks each row's filter after the first: this program, with the same
// choice as libpng's default made faster, or libpng itself.
enum class row_filter_picker { program, libpng };

// The program picks only for the libpng releases whose default choice is
// known to be the rule it implements; libpng_version as
// png_access_version_number() gives it (10648 for 1.6.48).
row_filter_picker row_filter_picker_for(std::uint32_t libpng_version);

// The writer behind both, with the converter and the picker given: the two
// above pass the picker for the libpng loaded at run time.
int write_png_rgb24(const char* path, std::uint32_t width, std::uint32_t height,
                    std::uint32_t pitch, const std::uint8_t* pixels, row_converter convert,
                    row_filter_picker picker);
