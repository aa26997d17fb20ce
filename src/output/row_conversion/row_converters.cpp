#include "output/row_conversion/row_converters.hpp"

#include <bit>
#include <cstddef>
#include <cstring>

#include "output/row_conversion/row_converters_vectors.hpp"

namespace {

// The pixels a vector step leaves at a row's end, one word load each.
template <typename Word>
Word load_little_endian(const std::uint8_t* source) {
    Word word;
    std::memcpy(&word, source, sizeof word);
    if constexpr (std::endian::native == std::endian::big) {
        word = sizeof word == 4 ? Word(__builtin_bswap32(word)) : Word(__builtin_bswap16(word));
    }
    return word;
}

void convert_xrgb8888_pixels(const std::uint8_t* source, std::uint8_t* rgb, std::size_t count) {
    for (std::size_t x = 0; x < count; ++x) {
        const auto pixel = load_little_endian<std::uint32_t>(source + 4 * x);
        rgb[3 * x + 0] = static_cast<std::uint8_t>(pixel >> 16);
        rgb[3 * x + 1] = static_cast<std::uint8_t>(pixel >> 8);
        rgb[3 * x + 2] = static_cast<std::uint8_t>(pixel);
    }
}

void convert_rgb565_pixels(const std::uint8_t* source, std::uint8_t* rgb, std::size_t count) {
    for (std::size_t x = 0; x < count; ++x) {
        const std::uint32_t pixel = load_little_endian<std::uint16_t>(source + 2 * x);
        const std::uint32_t red = pixel >> 11;
        const std::uint32_t green = (pixel >> 5) & 0x3F;
        const std::uint32_t blue = pixel & 0x1F;
        rgb[3 * x + 0] = static_cast<std::uint8_t>(red * 255 / 31);
        rgb[3 * x + 1] = static_cast<std::uint8_t>(green * 255 / 63);
        rgb[3 * x + 2] = static_cast<std::uint8_t>(blue * 255 / 31);
    }
}

}  // namespace

void convert_xrgb8888_row(const std::uint8_t* source, std::uint8_t* rgb, std::uint32_t width) {
    const std::size_t done = row_vectors::convert_xrgb8888(source, rgb, width);
    convert_xrgb8888_pixels(source + 4 * done, rgb + 3 * done, width - done);
}

#if defined(__x86_64__)
void convert_xrgb8888_row_with(x86_vectors set, const std::uint8_t* source, std::uint8_t* rgb,
                               std::uint32_t width) {
    const std::size_t done = row_vectors::convert_xrgb8888(source, rgb, width, set);
    convert_xrgb8888_pixels(source + 4 * done, rgb + 3 * done, width - done);
}
#endif

void convert_rgb565_row(const std::uint8_t* source, std::uint8_t* rgb, std::uint32_t width) {
    const std::size_t done = row_vectors::convert_rgb565(source, rgb, width);
    convert_rgb565_pixels(source + 2 * done, rgb + 3 * done, width - done);
}
