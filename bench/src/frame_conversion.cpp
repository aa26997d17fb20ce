#include "frame_conversion.hpp"

void convert_to_rgb(pixel_format format, const std::uint8_t* source, std::size_t pixels,
                    std::uint8_t* rgb) {
    for (std::size_t i = 0; i < pixels; ++i) {
        if (format == pixel_format::xrgb8888) {
            rgb[3 * i + 0] = source[4 * i + 2];
            rgb[3 * i + 1] = source[4 * i + 1];
            rgb[3 * i + 2] = source[4 * i + 0];
        } else {
            const unsigned word = unsigned(source[2 * i]) | unsigned(source[2 * i + 1]) << 8;
            rgb[3 * i + 0] = std::uint8_t((word >> 11) * 255 / 31);
            rgb[3 * i + 1] = std::uint8_t((word >> 5 & 63) * 255 / 63);
            rgb[3 * i + 2] = std::uint8_t((word & 31) * 255 / 31);
        }
    }
}
