#pragma once

#include <drm_fourcc.h>

#include <cstdint>

// How one pixel of a captured format sits in memory.
enum class pixel_layout {
    xrgb8888,  // little-endian 32-bit word, red in bits 16-23; bits 24-31 ignored
    rgb565,    // little-endian 16-bit word, 5 bits red, 6 green, 5 blue
};

struct pixel_format {
    std::uint32_t fourcc;
    pixel_layout layout;
    std::uint32_t bytes_per_pixel;
};

// The formats the tool captures; every other fourcc is refused.
inline constexpr pixel_format captured_formats[] = {
    {DRM_FORMAT_XRGB8888, pixel_layout::xrgb8888, 4},
    {DRM_FORMAT_ARGB8888, pixel_layout::xrgb8888, 4},
    {DRM_FORMAT_RGB565, pixel_layout::rgb565, 2},
};

// The table entry for a fourcc, or null if the tool does not capture it.
constexpr const pixel_format* find_captured_format(std::uint32_t fourcc) {
    for (const pixel_format& format : captured_formats) {
        if (format.fourcc == fourcc) {
            return &format;
        }
    }
    return nullptr;
}
