// Decoder of X window dumps (xwd -root) for the end-to-end checker.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct xwd_picture {
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t depth = 0;
    uint32_t bits_per_pixel = 0;
    uint32_t red_mask = 0;
    uint32_t green_mask = 0;
    uint32_t blue_mask = 0;
    uint32_t byte_order = 0;   // 0: least significant byte first
    std::vector<uint8_t> rgb;  // width * height * 3
};

// Decodes a ZPixmap TrueColor/DirectColor dump of 16 or 32 bits per pixel:
// the header's fields are big-endian, ncolors colour entries of 12 bytes
// follow it, then rows bytes_per_line apart whose pixels have the header's
// byte order. Each channel is taken through its mask and scaled to 8 bits as
// scanoutsnap scales RGB565 (value * 255 / maximum, truncated); 8-bit
// channels stay as they are. Returns an empty string or what is wrong.
std::string decode_xwd(const std::vector<uint8_t>& data, xwd_picture& out);
