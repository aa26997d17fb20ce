#pragma once

// The benchmark's own conversion of framebuffer pixels to red, green and blue,
// written without the tool's code; the driver and the floor process share it.
// Plain C++ with no use of the C++ run-time library, so that the floor process
// starts without loading it, as the tool does.

#include <cstddef>
#include <cstdint>

enum class pixel_format { xrgb8888, rgb565 };

constexpr std::uint32_t bytes_per_pixel(pixel_format format) {
    return format == pixel_format::xrgb8888 ? 4 : 2;
}

// Converts pixels framebuffer pixels (little-endian words, no padding) into
// 3 bytes each: XRGB8888 drops the top byte, RGB565 scales each channel to 8
// bits with a truncating division.
void convert_to_rgb(pixel_format format, const std::uint8_t* source, std::size_t pixels,
                    std::uint8_t* rgb);
