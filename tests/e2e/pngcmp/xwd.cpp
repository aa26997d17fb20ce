// X window dump decoding (see xwd.h).

#include "xwd.h"

#include <bit>

namespace {

// Field indices of the 25 big-endian 32-bit words of the dump header.
enum field : unsigned {
    header_size = 0,
    file_version = 1,
    pixmap_format = 2,
    pixmap_depth = 3,
    pixmap_width = 4,
    pixmap_height = 5,
    byte_order_field = 7,
    bits_per_pixel_field = 11,
    bytes_per_line = 12,
    red_mask_field = 14,
    green_mask_field = 15,
    blue_mask_field = 16,
    ncolors = 19,
    field_count = 25,
};

constexpr uint32_t zpixmap = 2;
constexpr uint32_t xwd_version = 7;
constexpr size_t colour_entry_size = 12;

uint32_t be32(const uint8_t* p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

uint32_t pixel_at(const uint8_t* p, uint32_t bytes, bool msb_first) {
    uint32_t v = 0;
    for (uint32_t i = 0; i < bytes; ++i) {
        const uint32_t b = p[i];
        v |= msb_first ? b << (8 * (bytes - 1 - i)) : b << (8 * i);
    }
    return v;
}

uint8_t channel(uint32_t pixel, uint32_t mask) {
    const uint32_t value = (pixel & mask) >> std::countr_zero(mask);
    const uint32_t maximum = mask >> std::countr_zero(mask);
    return static_cast<uint8_t>(value * 255 / maximum);
}

bool mask_ok(uint32_t mask) {
    if (mask == 0) {
        return false;
    }
    const uint32_t bits = mask >> std::countr_zero(mask);
    return (bits & (bits + 1)) == 0 && std::popcount(mask) <= 8;  // one run of at most 8 ones
}

}  // namespace

std::string decode_xwd(const std::vector<uint8_t>& data, xwd_picture& out) {
    if (data.size() < field_count * 4) {
        return "shorter than an XWD header";
    }
    uint32_t h[field_count];
    for (unsigned i = 0; i < field_count; ++i) {
        h[i] = be32(&data[4 * i]);
    }
    if (h[file_version] != xwd_version || h[pixmap_format] != zpixmap) {
        return "not a version 7 ZPixmap dump";
    }
    out.width = h[pixmap_width];
    out.height = h[pixmap_height];
    out.depth = h[pixmap_depth];
    out.bits_per_pixel = h[bits_per_pixel_field];
    out.red_mask = h[red_mask_field];
    out.green_mask = h[green_mask_field];
    out.blue_mask = h[blue_mask_field];
    out.byte_order = h[byte_order_field];
    if (out.bits_per_pixel != 16 && out.bits_per_pixel != 32) {
        return std::to_string(out.bits_per_pixel) + " bits per pixel (16 or 32 are read)";
    }
    if (!mask_ok(out.red_mask) || !mask_ok(out.green_mask) || !mask_ok(out.blue_mask)) {
        return "colour masks are not runs of at most 8 bits";
    }
    const uint32_t bpp = out.bits_per_pixel / 8;
    const uint64_t pixels_at = uint64_t{h[header_size]} + uint64_t{h[ncolors]} * colour_entry_size;
    const uint64_t line = h[bytes_per_line];
    if (line < uint64_t{out.width} * bpp) {
        return "bytes_per_line " + std::to_string(line) + " below the width";
    }
    if (pixels_at + line * out.height > data.size()) {
        return "pixel data ends early (" + std::to_string(data.size()) + " bytes)";
    }
    out.rgb.resize(size_t{out.width} * out.height * 3);
    for (uint32_t y = 0; y < out.height; ++y) {
        const uint8_t* row = &data[pixels_at + line * y];
        for (uint32_t x = 0; x < out.width; ++x) {
            const uint32_t p = pixel_at(row + size_t{x} * bpp, bpp, out.byte_order != 0);
            uint8_t* o = &out.rgb[(size_t{y} * out.width + x) * 3];
            o[0] = channel(p, out.red_mask);
            o[1] = channel(p, out.green_mask);
            o[2] = channel(p, out.blue_mask);
        }
    }
    return {};
}
