#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Pictures for the tests of the PNG path, the same on every run, as width ×
// height RGB pixels of 3 bytes, row by row.
enum class picture_kind { desktop, photo, flat, black, noisy, striped, gradient };

const std::vector<picture_kind>& every_picture_kind();
std::string name_of(picture_kind kind);

// desktop: a wallpaper gradient, a panel, windows with title bars and lines of
//   glyphs with half-tone edges, a dock of flat icons (at twice the scale from
//   2160 rows up, as on a HiDPI screen);
// photo: smooth colour fields with per-pixel grain;
// flat and black: one colour;
// noisy: every byte random;
// striped: vertical stripes 1 to 5 pixels wide and horizontal rules;
// gradient: red across, green down, blue along the diagonal.
std::vector<std::uint8_t> make_picture(picture_kind kind, std::uint32_t width,
                                       std::uint32_t height);

// A framebuffer of the pixels: little-endian XRGB8888 words with an opaque X
// byte, rows padded to pitch bytes.
std::vector<std::uint8_t> as_xrgb8888(const std::vector<std::uint8_t>& rgb, std::uint32_t width,
                                      std::uint32_t pitch);

// The pixels cut to RGB565 words (rows padded to pitch bytes), and what those
// words become again as the tool converts them.
struct rgb565_frame {
    std::vector<std::uint8_t> source;
    std::vector<std::uint8_t> rgb;
};
rgb565_frame as_rgb565(const std::vector<std::uint8_t>& rgb, std::uint32_t width,
                       std::uint32_t pitch);
