#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// A PNG decoded with libpng's read interface, without transformations.
struct decoded_png {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    int bit_depth = 0;
    int color_type = 0;
    int interlace = 0;
    int ancillary_chunks = 0;       // chunks other than IHDR, IDAT and IEND
    std::vector<std::uint8_t> rgb;  // height rows of width × 3 bytes

    std::vector<std::uint8_t> pixel(std::uint32_t x, std::uint32_t y) const {
        const std::size_t at = (std::size_t{y} * width + x) * 3;
        return {rgb[at], rgb[at + 1], rgb[at + 2]};
    }
};

// nullopt if the file is missing or not a valid 8-bit RGB PNG.
std::optional<decoded_png> read_png(const std::string& path);
