#include "output/row_converters.hpp"

void convert_xrgb8888_row(const std::uint8_t* source, std::uint8_t* rgb, std::uint32_t width) {
    for (std::uint32_t x = 0; x < width; ++x) {
        rgb[3 * x + 0] = source[4 * x + 2];
        rgb[3 * x + 1] = source[4 * x + 1];
        rgb[3 * x + 2] = source[4 * x + 0];
    }
}

void convert_rgb565_row(const std::uint8_t* source, std::uint8_t* rgb, std::uint32_t width) {
    for (std::uint32_t x = 0; x < width; ++x) {
        const std::uint32_t pixel = source[2 * x] | std::uint32_t{source[2 * x + 1]} << 8;
        const std::uint32_t red = pixel >> 11;
        const std::uint32_t green = (pixel >> 5) & 0x3F;
        const std::uint32_t blue = pixel & 0x1F;
        rgb[3 * x + 0] = static_cast<std::uint8_t>(red * 255 / 31);
        rgb[3 * x + 1] = static_cast<std::uint8_t>(green * 255 / 63);
        rgb[3 * x + 2] = static_cast<std::uint8_t>(blue * 255 / 31);
    }
}
