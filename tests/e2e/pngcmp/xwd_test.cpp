// The checker's XWD reader against dumps built here byte by byte: the header
// is big-endian whatever the pixels are, colour entries come before the
// pixels, rows are bytes_per_line apart, and 16-bit channels are scaled with
// a truncating division.

#include "xwd.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

struct dump_layout {
    uint32_t width;
    uint32_t height;
    uint32_t depth;
    uint32_t bits_per_pixel;
    uint32_t bytes_per_line;
    uint32_t byte_order;  // 0 least significant byte first
    uint32_t masks[3];
    uint32_t ncolors;
};

void put_be32(std::vector<uint8_t>& out, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) {
        out.push_back(static_cast<uint8_t>(v >> shift));
    }
}

// Header (with a window name after the 25 fields) and colour entries filled
// with bytes the pixels must not be read from.
std::vector<uint8_t> dump_header(const dump_layout& s) {
    const char name[] = "xwdump";
    std::vector<uint8_t> out;
    const uint32_t fields[25] = {100 + sizeof name,
                                 7,
                                 2,
                                 s.depth,
                                 s.width,
                                 s.height,
                                 0,
                                 s.byte_order,
                                 32,
                                 s.byte_order,
                                 32,
                                 s.bits_per_pixel,
                                 s.bytes_per_line,
                                 4,
                                 s.masks[0],
                                 s.masks[1],
                                 s.masks[2],
                                 8,
                                 s.ncolors,
                                 s.ncolors,
                                 s.width,
                                 s.height,
                                 0,
                                 0,
                                 0};
    for (uint32_t f : fields) {
        put_be32(out, f);
    }
    out.insert(out.end(), name, name + sizeof name);
    out.insert(out.end(), size_t{s.ncolors} * 12, 0xEE);
    return out;
}

void put_pixel(std::vector<uint8_t>& out, uint32_t v, uint32_t bytes, bool msb_first) {
    for (uint32_t i = 0; i < bytes; ++i) {
        const uint32_t shift = msb_first ? 8 * (bytes - 1 - i) : 8 * i;
        out.push_back(static_cast<uint8_t>(v >> shift));
    }
}

std::vector<uint8_t> rgb_of(const xwd_picture& p, uint32_t x, uint32_t y) {
    const size_t i = (size_t{y} * p.width + x) * 3;
    return {p.rgb[i], p.rgb[i + 1], p.rgb[i + 2]};
}

TEST(XwdReader, SixteenBitsMostSignificantByteFirstScaledWithTruncation) {
    const dump_layout layout{3, 2, 16, 16, 8, 1, {0xF800, 0x07E0, 0x001F}, 2};
    std::vector<uint8_t> data = dump_header(layout);
    const uint16_t rows[2][3] = {{0xF800, 0x8410, 0x0821}, {0xFFFF, 0x07E0, 0x001F}};
    for (const auto& row : rows) {
        for (uint16_t v : row) {
            put_pixel(data, v, 2, true);
        }
        data.insert(data.end(), {0x55, 0x55});  // row padding to bytes_per_line
    }
    xwd_picture p;
    ASSERT_EQ(decode_xwd(data, p), "");
    EXPECT_EQ(p.width, 3u);
    EXPECT_EQ(p.height, 2u);
    EXPECT_EQ(rgb_of(p, 0, 0), (std::vector<uint8_t>{255, 0, 0}));
    EXPECT_EQ(rgb_of(p, 1, 0), (std::vector<uint8_t>{131, 129, 131}));
    EXPECT_EQ(rgb_of(p, 2, 0), (std::vector<uint8_t>{8, 4, 8}));
    EXPECT_EQ(rgb_of(p, 0, 1), (std::vector<uint8_t>{255, 255, 255}));
    EXPECT_EQ(rgb_of(p, 1, 1), (std::vector<uint8_t>{0, 255, 0}));
    EXPECT_EQ(rgb_of(p, 2, 1), (std::vector<uint8_t>{0, 0, 255}));
}

TEST(XwdReader, ThirtyTwoBitsLeastSignificantByteFirstIgnoreTheTopByte) {
    const dump_layout layout{2, 1, 24, 32, 8, 0, {0xFF0000, 0x00FF00, 0x0000FF}, 0};
    std::vector<uint8_t> data = dump_header(layout);
    put_pixel(data, 0x7F123456, 4, false);
    put_pixel(data, 0x00ABCDEF, 4, false);
    xwd_picture p;
    ASSERT_EQ(decode_xwd(data, p), "");
    EXPECT_EQ(rgb_of(p, 0, 0), (std::vector<uint8_t>{0x12, 0x34, 0x56}));
    EXPECT_EQ(rgb_of(p, 1, 0), (std::vector<uint8_t>{0xAB, 0xCD, 0xEF}));
}

TEST(XwdReader, RefusesWhatItCannotRead) {
    const dump_layout layout{2, 2, 16, 16, 4, 0, {0xF800, 0x07E0, 0x001F}, 0};
    std::vector<uint8_t> data = dump_header(layout);
    data.insert(data.end(), 6, 0);  // two bytes short
    xwd_picture p;
    EXPECT_NE(decode_xwd(data, p), "");

    const dump_layout packed24{2, 1, 24, 24, 6, 0, {0xFF0000, 0x00FF00, 0x0000FF}, 0};
    data = dump_header(packed24);
    data.insert(data.end(), 6, 0);
    EXPECT_NE(decode_xwd(data, p), "");

    const dump_layout narrow_line{4, 1, 16, 16, 6, 0, {0xF800, 0x07E0, 0x001F}, 0};
    data = dump_header(narrow_line);
    data.insert(data.end(), 8, 0);
    EXPECT_NE(decode_xwd(data, p), "");
}

}  // namespace
