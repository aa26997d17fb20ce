// scanoutsnap-e2e-pngcmp: host-side checker of the end-to-end suite. Decodes a
// PNG with libpng and compares it with a framebuffer dump (see
// tests/e2e/scene/scene.cpp for the dump format), pixel for pixel.
//
//   pngcmp compare PNG DUMP
//       The PNG must be 8-bit RGB, not interlaced, with only IHDR, IDAT and
//       IEND chunks, of the dump's size, and every pixel must equal the dump's
//       pixel converted the way scanoutsnap converts: XRGB8888/ARGB8888 take
//       bits 16-23, 8-15, 0-7 (the top byte dropped); RGB565 takes r5*255/31,
//       g6*255/63, b5*255/31 with truncating integer division.
//   pngcmp at PNG X Y R G B [X Y R G B ...]
//       The PNG's pixel at (X, Y) must be exactly (R, G, B).
//   pngcmp differ PNG DUMP
//       Succeeds when the PNG does NOT show the dump's picture (for the
//       picture that must not be captured).
//   pngcmp info PNG
//       Prints "WIDTHxHEIGHT depth=D color=C interlace=I chunks=..." .
//   pngcmp format PNG
//       The PNG must be 8-bit RGB, not interlaced, with only IHDR, IDAT and
//       IEND chunks (as scanoutsnap writes it).
//   pngcmp same A B [X Y W H]
//       A and B are 8-bit RGB or RGBA PNGs (a display stack's own screenshot
//       may carry alpha, which is ignored) of one size with equal RGB, except
//       inside the box when one is given. Prints B's alpha range when it has
//       one.
//   pngcmp box PNG PNG...
//       Prints "X Y W H", the smallest box that holds every pixel whose RGB
//       differs between the first PNG and any other, or "none".
//   pngcmp xwd PNG XWD
//       The PNG (8-bit RGB) equals the X window dump's pixels, each channel
//       taken through the dump's mask and scaled as scanoutsnap scales
//       (see xwd.h).
//   pngcmp xwd-same XWD XWD
//       The two dumps hold the same pixels (their headers may differ).
//   pngcmp colours PNG
//       Prints the number of distinct RGB colours.
//   pngcmp alpha PNG
//       Prints "colour type C, no alpha" or "colour type C, alpha MIN..MAX,
//       N of M pixels not opaque".
//   pngcmp frame PNG
//       The PNG (8-bit RGB, as scanoutsnap writes it) is one whole frame of
//       the scene helper's animation (scene/animation.hpp): prints "frame K",
//       K as its top-left pixel says, when every pixel is frame K's, else how
//       many are not and in which rows.
// Exit status: 0 = check holds, 1 = check fails, 2 = unreadable input.

#include <png.h>

#include "../scene/animation.hpp"
#include "xwd.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

struct image {
    uint32_t width = 0;
    uint32_t height = 0;
    int depth = 0;
    int color = 0;
    int interlace = 0;
    std::string chunks;          // comma-separated chunk types in file order, runs collapsed
    std::vector<uint8_t> rgb;    // width * height * 3 when 8-bit RGB or RGBA
    std::vector<uint8_t> alpha;  // width * height when 8-bit RGBA
};

bool read_file(const char* path, std::vector<uint8_t>& out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return false;
    }
    out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

std::string chunk_list(const std::vector<uint8_t>& data) {
    std::string list;
    std::string last;
    size_t pos = 8;
    while (pos + 8 <= data.size()) {
        const uint32_t len = (uint32_t{data[pos]} << 24) | (uint32_t{data[pos + 1]} << 16) |
                             (uint32_t{data[pos + 2]} << 8) | data[pos + 3];
        const std::string type(reinterpret_cast<const char*>(&data[pos + 4]), 4);
        if (type != last) {
            list += (list.empty() ? "" : ",") + type;
            last = type;
        }
        pos += 12u + len;
    }
    return list;
}

struct reader_state {
    const std::vector<uint8_t>* data;
    size_t pos;
};

void read_cb(png_structp png, png_bytep out, png_size_t n) {
    auto* st = static_cast<reader_state*>(png_get_io_ptr(png));
    if (st->pos + n > st->data->size()) {
        png_error(png, "truncated PNG");
    }
    std::memcpy(out, st->data->data() + st->pos, n);
    st->pos += n;
}

// Keeps RGB in img.rgb and, for 4 channels, the fourth in img.alpha.
void split_alpha(const std::vector<uint8_t>& pixels, size_t channels, image& img) {
    if (channels == 3) {
        img.rgb = pixels;
        return;
    }
    const size_t n = pixels.size() / 4;
    img.rgb.resize(n * 3);
    img.alpha.resize(n);
    for (size_t i = 0; i < n; ++i) {
        std::memcpy(&img.rgb[3 * i], &pixels[4 * i], 3);
        img.alpha[i] = pixels[4 * i + 3];
    }
}

bool load_png(const char* path, image& img) {
    std::vector<uint8_t> data;
    if (!read_file(path, data)) {
        std::fprintf(stderr, "pngcmp: cannot read %s\n", path);
        return false;
    }
    if (data.size() < 8 || png_sig_cmp(data.data(), 0, 8) != 0) {
        std::fprintf(stderr, "pngcmp: %s is not a PNG (%zu bytes)\n", path, data.size());
        return false;
    }
    img.chunks = chunk_list(data);
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
    if (info == nullptr) {
        std::fprintf(stderr, "pngcmp: libpng set-up failed\n");
        return false;
    }
    reader_state st{&data, 0};
    std::vector<png_bytep> rows;
    if (setjmp(png_jmpbuf(png))) {
        std::fprintf(stderr, "pngcmp: libpng could not decode %s\n", path);
        png_destroy_read_struct(&png, &info, nullptr);
        return false;
    }
    png_set_read_fn(png, &st, read_cb);
    png_read_info(png, info);
    img.width = png_get_image_width(png, info);
    img.height = png_get_image_height(png, info);
    img.depth = png_get_bit_depth(png, info);
    img.color = png_get_color_type(png, info);
    img.interlace = png_get_interlace_type(png, info);
    const bool rgba = img.color == PNG_COLOR_TYPE_RGB_ALPHA;
    if (img.depth == 8 && (img.color == PNG_COLOR_TYPE_RGB || rgba)) {
        const size_t channels = rgba ? 4u : 3u;
        std::vector<uint8_t> pixels(static_cast<size_t>(img.width) * img.height * channels);
        rows.resize(img.height);
        for (uint32_t y = 0; y < img.height; ++y) {
            rows[y] = pixels.data() + static_cast<size_t>(y) * img.width * channels;
        }
        png_set_interlace_handling(png);
        png_read_update_info(png, info);
        png_read_image(png, rows.data());
        png_read_end(png, nullptr);
        split_alpha(pixels, channels, img);
    }
    png_destroy_read_struct(&png, &info, nullptr);
    return true;
}

struct dump {
    uint32_t fourcc = 0;
    uint32_t width = 0;
    uint32_t height = 0;
    std::vector<uint8_t> pixels;
};

// True when both pictures have one size; prints both sizes otherwise.
template <typename A, typename B>
bool sizes_match(const char* a_path, const A& a, const char* b_path, const B& b) {
    if (a.width == b.width && a.height == b.height) {
        return true;
    }
    std::printf("%s: %ux%u, %s: %ux%u\n", a_path, a.width, a.height, b_path, b.width, b.height);
    return false;
}

constexpr uint32_t fourcc_xrgb8888 = 0x34325258;
constexpr uint32_t fourcc_argb8888 = 0x34325241;
constexpr uint32_t fourcc_rgb565 = 0x36314752;

bool load_dump(const char* path, dump& d) {
    std::vector<uint8_t> data;
    if (!read_file(path, data)) {
        std::fprintf(stderr, "pngcmp: cannot read %s\n", path);
        return false;
    }
    const auto nl = std::find(data.begin(), data.end(), '\n');
    if (nl == data.end()) {
        std::fprintf(stderr, "pngcmp: %s: no dump header\n", path);
        return false;
    }
    const std::string header(data.begin(), nl);
    char magic[16] = {};
    if (std::sscanf(header.c_str(), "%15s %x %u %u", magic, &d.fourcc, &d.width, &d.height) != 4 ||
        std::strcmp(magic, "SCNDUMP1") != 0) {
        std::fprintf(stderr, "pngcmp: %s: bad dump header\n", path);
        return false;
    }
    d.pixels.assign(nl + 1, data.end());
    unsigned bpp = 0;
    if (d.fourcc == fourcc_xrgb8888 || d.fourcc == fourcc_argb8888) {
        bpp = 4;
    } else if (d.fourcc == fourcc_rgb565) {
        bpp = 2;
    } else {
        std::fprintf(stderr, "pngcmp: %s: format 0x%08x has no defined conversion\n", path,
                     d.fourcc);
        return false;
    }
    if (d.pixels.size() != static_cast<size_t>(d.width) * d.height * bpp) {
        std::fprintf(stderr, "pngcmp: %s: %zu pixel bytes, expected %zu\n", path, d.pixels.size(),
                     static_cast<size_t>(d.width) * d.height * bpp);
        return false;
    }
    return true;
}

// The expected RGB of dump pixel i, converted the way scanoutsnap converts.
void expected_rgb(const dump& d, size_t i, uint8_t out[3]) {
    if (d.fourcc == fourcc_rgb565) {
        const uint32_t p = d.pixels[2 * i] | (uint32_t{d.pixels[2 * i + 1]} << 8);
        const uint32_t r5 = p >> 11;
        const uint32_t g6 = (p >> 5) & 0x3F;
        const uint32_t b5 = p & 0x1F;
        out[0] = static_cast<uint8_t>(r5 * 255 / 31);
        out[1] = static_cast<uint8_t>(g6 * 255 / 63);
        out[2] = static_cast<uint8_t>(b5 * 255 / 31);
    } else {
        const uint8_t* w = &d.pixels[4 * i];  // little-endian word: B, G, R, X
        out[0] = w[2];
        out[1] = w[1];
        out[2] = w[0];
    }
}

bool check_format(const char* path, const image& img) {
    bool ok = true;
    if (img.depth != 8 || img.color != PNG_COLOR_TYPE_RGB || img.interlace != PNG_INTERLACE_NONE) {
        std::printf(
            "%s: depth %d colour type %d interlace %d, want 8-bit RGB (2), not "
            "interlaced\n",
            path, img.depth, img.color, img.interlace);
        ok = false;
    }
    if (img.chunks != "IHDR,IDAT,IEND") {
        std::printf("%s: chunks %s, want IHDR,IDAT,IEND\n", path, img.chunks.c_str());
        ok = false;
    }
    return ok;
}

// Number of differing pixels; prints the first few.
long count_differences(const image& img, const dump& d, bool verbose) {
    long bad = 0;
    for (uint32_t y = 0; y < d.height; ++y) {
        for (uint32_t x = 0; x < d.width; ++x) {
            const size_t i = static_cast<size_t>(y) * d.width + x;
            uint8_t want[3];
            expected_rgb(d, i, want);
            const uint8_t* got = &img.rgb[3 * i];
            if (std::memcmp(got, want, 3) != 0) {
                if (verbose && bad < 5) {
                    std::printf("  pixel (%u,%u): got (%u,%u,%u), want (%u,%u,%u)\n", x, y, got[0],
                                got[1], got[2], want[0], want[1], want[2]);
                }
                ++bad;
            }
        }
    }
    return bad;
}

int cmd_compare(const char* png_path, const char* dump_path, bool want_equal) {
    image img;
    dump d;
    if (!load_png(png_path, img) || !load_dump(dump_path, d)) {
        return 2;
    }
    if (!check_format(png_path, img)) {
        return 1;
    }
    if (!sizes_match(png_path, img, dump_path, d)) {
        return want_equal ? 1 : 0;
    }
    const long bad = count_differences(img, d, want_equal);
    if (want_equal) {
        if (bad != 0) {
            std::printf("%s: %ld of %u pixels differ from %s\n", png_path, bad, d.width * d.height,
                        dump_path);
            return 1;
        }
        return 0;
    }
    if (bad == 0) {
        std::printf("%s shows the picture of %s, which it must not\n", png_path, dump_path);
        return 1;
    }
    return 0;
}

int cmd_at(int argc, char** argv) {
    image img;
    if (!load_png(argv[0], img)) {
        return 2;
    }
    if (!check_format(argv[0], img)) {
        return 1;
    }
    int rc = 0;
    for (int i = 1; i + 4 < argc; i += 5) {
        const auto x = static_cast<uint32_t>(std::strtoul(argv[i], nullptr, 10));
        const auto y = static_cast<uint32_t>(std::strtoul(argv[i + 1], nullptr, 10));
        const unsigned want[3] = {static_cast<unsigned>(std::strtoul(argv[i + 2], nullptr, 10)),
                                  static_cast<unsigned>(std::strtoul(argv[i + 3], nullptr, 10)),
                                  static_cast<unsigned>(std::strtoul(argv[i + 4], nullptr, 10))};
        if (x >= img.width || y >= img.height) {
            std::printf("%s: (%u,%u) outside %ux%u\n", argv[0], x, y, img.width, img.height);
            rc = 1;
            continue;
        }
        const uint8_t* got = &img.rgb[(static_cast<size_t>(y) * img.width + x) * 3u];
        if (got[0] != want[0] || got[1] != want[1] || got[2] != want[2]) {
            std::printf("%s: pixel (%u,%u) is (%u,%u,%u), want (%u,%u,%u)\n", argv[0], x, y, got[0],
                        got[1], got[2], want[0], want[1], want[2]);
            rc = 1;
        }
    }
    return rc;
}

int cmd_info(const char* path) {
    image img;
    if (!load_png(path, img)) {
        return 2;
    }
    std::printf("%ux%u depth=%d color=%d interlace=%d chunks=%s\n", img.width, img.height,
                img.depth, img.color, img.interlace, img.chunks.c_str());
    return 0;
}

// ---------------------------------------------------------------- display stacks

struct box {
    uint32_t x = 0;
    uint32_t y = 0;
    uint32_t w = 0;
    uint32_t h = 0;
    bool holds(uint32_t px, uint32_t py) const {
        return px >= x && py >= y && px - x < w && py - y < h;
    }
};

bool load_rgb_png(const char* path, image& img) {
    if (!load_png(path, img)) {
        return false;
    }
    if (img.rgb.empty()) {
        std::fprintf(stderr, "pngcmp: %s: depth %d colour type %d, want 8-bit RGB or RGBA\n", path,
                     img.depth, img.color);
        return false;
    }
    return true;
}

// Number of pixels whose RGB differs outside the box; prints the first few.
long count_rgb_differences(const image& a, const image& b, const box& skip) {
    long bad = 0;
    for (uint32_t y = 0; y < a.height; ++y) {
        for (uint32_t x = 0; x < a.width; ++x) {
            const size_t i = (static_cast<size_t>(y) * a.width + x) * 3u;
            if (skip.holds(x, y) || std::memcmp(&a.rgb[i], &b.rgb[i], 3) == 0) {
                continue;
            }
            if (bad < 5) {
                std::printf("  pixel (%u,%u): (%u,%u,%u) against (%u,%u,%u)\n", x, y, a.rgb[i],
                            a.rgb[i + 1], a.rgb[i + 2], b.rgb[i], b.rgb[i + 1], b.rgb[i + 2]);
            }
            ++bad;
        }
    }
    return bad;
}

int cmd_same(int argc, char** argv) {
    image a;
    image b;
    if (!load_rgb_png(argv[0], a) || !load_rgb_png(argv[1], b)) {
        return 2;
    }
    box skip;
    if (argc == 6) {
        skip = {static_cast<uint32_t>(std::strtoul(argv[2], nullptr, 10)),
                static_cast<uint32_t>(std::strtoul(argv[3], nullptr, 10)),
                static_cast<uint32_t>(std::strtoul(argv[4], nullptr, 10)),
                static_cast<uint32_t>(std::strtoul(argv[5], nullptr, 10))};
    }
    if (!sizes_match(argv[0], a, argv[1], b)) {
        return 1;
    }
    const long bad = count_rgb_differences(a, b, skip);
    if (bad != 0) {
        std::printf("%s: %ld of %u pixels differ from %s%s\n", argv[0], bad, a.width * a.height,
                    argv[1], argc == 6 ? " outside the box" : "");
        return 1;
    }
    if (!b.alpha.empty()) {
        const auto [lo, hi] = std::minmax_element(b.alpha.begin(), b.alpha.end());
        std::printf("%s alpha %u..%u\n", argv[1], *lo, *hi);
    }
    return 0;
}

int cmd_box(int argc, char** argv) {
    std::vector<image> shots(static_cast<size_t>(argc));
    for (int i = 0; i < argc; ++i) {
        if (!load_rgb_png(argv[i], shots[static_cast<size_t>(i)])) {
            return 2;
        }
    }
    const image& first = shots[0];
    uint32_t x0 = UINT32_MAX;
    uint32_t y0 = UINT32_MAX;
    uint32_t x1 = 0;
    uint32_t y1 = 0;
    for (const image& other : shots) {
        if (other.width != first.width || other.height != first.height) {
            std::printf("pictures of different sizes\n");
            return 1;
        }
        for (uint32_t y = 0; y < first.height; ++y) {
            for (uint32_t x = 0; x < first.width; ++x) {
                const size_t i = (static_cast<size_t>(y) * first.width + x) * 3u;
                if (std::memcmp(&first.rgb[i], &other.rgb[i], 3) != 0) {
                    x0 = std::min(x0, x);
                    y0 = std::min(y0, y);
                    x1 = std::max(x1, x);
                    y1 = std::max(y1, y);
                }
            }
        }
    }
    if (x0 == UINT32_MAX) {
        std::printf("none\n");
    } else {
        std::printf("%u %u %u %u\n", x0, y0, x1 - x0 + 1, y1 - y0 + 1);
    }
    return 0;
}

bool load_xwd(const char* path, xwd_picture& xwd) {
    std::vector<uint8_t> data;
    if (!read_file(path, data)) {
        std::fprintf(stderr, "pngcmp: cannot read %s\n", path);
        return false;
    }
    const std::string problem = decode_xwd(data, xwd);
    if (!problem.empty()) {
        std::fprintf(stderr, "pngcmp: %s: %s\n", path, problem.c_str());
        return false;
    }
    return true;
}

// A dump's decoded pixels, for the comparisons of PNG pictures.
image as_image(xwd_picture&& xwd) {
    image img;
    img.width = xwd.width;
    img.height = xwd.height;
    img.rgb = std::move(xwd.rgb);
    return img;
}

int cmd_xwd_same(const char* a_path, const char* b_path) {
    xwd_picture a;
    xwd_picture b;
    if (!load_xwd(a_path, a) || !load_xwd(b_path, b)) {
        return 2;
    }
    if (!sizes_match(a_path, a, b_path, b)) {
        return 1;
    }
    const long bad = count_rgb_differences(as_image(std::move(a)), as_image(std::move(b)), box{});
    if (bad != 0) {
        std::printf("%s: %ld pixels differ from %s\n", a_path, bad, b_path);
        return 1;
    }
    return 0;
}

int cmd_xwd(const char* png_path, const char* xwd_path) {
    image img;
    if (!load_png(png_path, img)) {
        return 2;
    }
    xwd_picture xwd;
    if (!load_xwd(xwd_path, xwd)) {
        return 2;
    }
    if (!check_format(png_path, img)) {
        return 1;
    }
    if (!sizes_match(png_path, img, xwd_path, xwd)) {
        return 1;
    }
    const long bad = count_rgb_differences(img, as_image(std::move(xwd)), box{});
    if (bad != 0) {
        std::printf(
            "%s: %ld of %u pixels differ from %s (depth %u, %u bits per pixel, masks "
            "%06x %06x %06x, byte order %u)\n",
            png_path, bad, img.width * img.height, xwd_path, xwd.depth, xwd.bits_per_pixel,
            xwd.red_mask, xwd.green_mask, xwd.blue_mask, xwd.byte_order);
        return 1;
    }
    return 0;
}

int cmd_colours(const char* path) {
    image img;
    if (!load_rgb_png(path, img)) {
        return 2;
    }
    std::vector<uint32_t> colours;
    colours.reserve(img.rgb.size() / 3);
    for (size_t i = 0; i < img.rgb.size(); i += 3) {
        colours.push_back((uint32_t{img.rgb[i]} << 16) | (uint32_t{img.rgb[i + 1]} << 8) |
                          img.rgb[i + 2]);
    }
    std::sort(colours.begin(), colours.end());
    std::printf("%zu\n",
                static_cast<size_t>(std::unique(colours.begin(), colours.end()) - colours.begin()));
    return 0;
}

int cmd_alpha(const char* path) {
    image img;
    if (!load_rgb_png(path, img)) {
        return 2;
    }
    if (img.alpha.empty()) {
        std::printf("colour type %d, no alpha\n", img.color);
        return 0;
    }
    const auto [lo, hi] = std::minmax_element(img.alpha.begin(), img.alpha.end());
    const auto clear =
        std::count_if(img.alpha.begin(), img.alpha.end(), [](uint8_t a) { return a != 255; });
    std::printf("colour type %d, alpha %u..%u, %zu of %zu pixels not opaque\n", img.color, *lo, *hi,
                static_cast<size_t>(clear), img.alpha.size());
    return 0;
}

int cmd_frame(const char* path) {
    image img;
    if (!load_png(path, img)) {
        return 2;
    }
    if (!check_format(path, img)) {
        return 1;
    }
    const uint32_t k = animation_frame_of(img.rgb[0], img.rgb[1]);
    long bad = 0;
    uint32_t first_row = 0;
    uint32_t last_row = 0;
    for (uint32_t y = 0; y < img.height; ++y) {
        for (uint32_t x = 0; x < img.width; ++x) {
            const uint32_t word = animation_word(k, y);
            const uint8_t want[3] = {static_cast<uint8_t>(word >> 16),
                                     static_cast<uint8_t>(word >> 8), static_cast<uint8_t>(word)};
            if (std::memcmp(&img.rgb[3 * (static_cast<size_t>(y) * img.width + x)], want, 3) != 0) {
                first_row = bad == 0 ? y : first_row;
                last_row = y;
                ++bad;
            }
        }
    }
    if (bad != 0) {
        std::printf("%s: %ld of %u pixels are not frame %u's (rows %u to %u)\n", path, bad,
                    img.width * img.height, k, first_row, last_row);
        return 1;
    }
    std::printf("frame %u\n", k);
    return 0;
}

int usage() {
    std::fputs(
        "usage: pngcmp compare PNG DUMP | differ PNG DUMP | at PNG X Y R G B ... | "
        "info PNG | format PNG\n"
        "       pngcmp same A B [X Y W H] | box PNG PNG... | xwd PNG XWD | xwd-same XWD XWD\n"
        "       pngcmp colours PNG | alpha PNG | frame PNG\n",
        stderr);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        return usage();
    }
    const std::string cmd = argv[1];
    if (cmd == "compare" && argc == 4) {
        return cmd_compare(argv[2], argv[3], true);
    }
    if (cmd == "differ" && argc == 4) {
        return cmd_compare(argv[2], argv[3], false);
    }
    if (cmd == "at" && argc >= 8 && (argc - 3) % 5 == 0) {
        return cmd_at(argc - 2, argv + 2);
    }
    if (cmd == "info" && argc == 3) {
        return cmd_info(argv[2]);
    }
    if (cmd == "format" && argc == 3) {
        image img;
        return !load_png(argv[2], img) ? 2 : check_format(argv[2], img) ? 0 : 1;
    }
    if (cmd == "same" && (argc == 4 || argc == 8)) {
        return cmd_same(argc - 2, argv + 2);
    }
    if (cmd == "box" && argc >= 4) {
        return cmd_box(argc - 2, argv + 2);
    }
    if (cmd == "xwd" && argc == 4) {
        return cmd_xwd(argv[2], argv[3]);
    }
    if (cmd == "xwd-same" && argc == 4) {
        return cmd_xwd_same(argv[2], argv[3]);
    }
    if (cmd == "colours" && argc == 3) {
        return cmd_colours(argv[2]);
    }
    if (cmd == "alpha" && argc == 3) {
        return cmd_alpha(argv[2]);
    }
    if (cmd == "frame" && argc == 3) {
        return cmd_frame(argv[2]);
    }
    return usage();
}
