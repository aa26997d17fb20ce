#include "test_pictures.hpp"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace {

struct colour {
    int r, g, b;
};

std::uint64_t hash(std::uint64_t a, std::uint64_t b) {
    std::uint64_t z =
        a * 0x9E3779B97F4A7C15ull ^ (b + 0x632BE59BD9B4E019ull) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

class canvas {
  public:
    canvas(std::uint32_t width, std::uint32_t height)
        : width_(int(width)), height_(int(height)), rgb_(std::size_t{width} * height * 3) {}

    void set(int x, int y, colour c) {
        if (x < 0 || y < 0 || x >= width_ || y >= height_) {
            return;
        }
        std::uint8_t* p = &rgb_[(std::size_t(y) * width_ + x) * 3];
        p[0] = std::uint8_t(c.r);
        p[1] = std::uint8_t(c.g);
        p[2] = std::uint8_t(c.b);
    }
    void fill(int x0, int y0, int w, int h, colour c) {
        for (int y = std::max(y0, 0); y < std::min(y0 + h, height_); ++y) {
            for (int x = std::max(x0, 0); x < std::min(x0 + w, width_); ++x) {
                set(x, y, c);
            }
        }
    }
    // Made-up glyphs (5 × 8 bitmaps in 7 × 12 cells, times scale), some with a
    // half-tone pixel after a stroke, as anti-aliased text has.
    void text(int x0, int y0, int length, colour ink, colour paper, int scale, std::uint64_t seed) {
        const colour half = {(ink.r + paper.r) / 2, (ink.g + paper.g) / 2, (ink.b + paper.b) / 2};
        for (int cell = 0; (cell + 1) * 7 * scale <= length; ++cell) {
            const std::uint64_t bits = hash(seed, std::uint64_t(cell));
            if (bits % 6 == 0) {
                continue;  // a space
            }
            for (int row = 0; row < 8; ++row) {
                for (int column = 0; column < 5; ++column) {
                    if ((bits >> (row * 5 + column + 2) & 1) == 0) {
                        continue;
                    }
                    const int x = x0 + (cell * 7 + 1 + column) * scale;
                    const int y = y0 + (2 + row) * scale;
                    fill(x, y, scale, scale, ink);
                    if ((bits >> (column + 42) & 1) != 0) {
                        fill(x + scale, y, 1, scale, half);
                    }
                }
            }
        }
    }
    std::vector<std::uint8_t> take() { return std::move(rgb_); }

  private:
    int width_, height_;
    std::vector<std::uint8_t> rgb_;
};

std::vector<std::uint8_t> desktop(std::uint32_t width, std::uint32_t height) {
    canvas c(width, height);
    const int w = int(width), h = int(height);
    const int s = height >= 2160 ? 2 : 1;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            c.set(x, y, {30 + 40 * y / h, 60 + 60 * y / h, 110 + 60 * x / w});
        }
    }
    c.fill(0, 0, w, 24 * s, {36, 36, 40});
    c.text(8 * s, 4 * s, w / 3, {220, 220, 220}, {36, 36, 40}, s, 1);
    const struct {
        double x, y, w, h;
    } windows[] = {{0.04, 0.07, 0.55, 0.60}, {0.35, 0.30, 0.60, 0.62}, {0.66, 0.05, 0.30, 0.35}};
    std::uint64_t seed = 10;
    for (const auto& win : windows) {
        const int x0 = int(win.x * w), y0 = int(win.y * h);
        const int ww = int(win.w * w), wh = int(win.h * h);
        c.fill(x0 - 1, y0 - 1, ww + 2, wh + 2, {90, 90, 90});
        for (int x = 0; x < ww; ++x) {
            c.fill(x0 + x, y0, 1, 28 * s, {60 + 30 * x / ww, 90 + 40 * x / ww, 160 + 40 * x / ww});
        }
        c.text(x0 + 8 * s, y0 + 6 * s, ww / 3, {255, 255, 255}, {75, 110, 180}, s, seed++);
        c.fill(x0, y0 + 28 * s, ww, wh - 28 * s, {246, 246, 246});
        for (int line = y0 + 36 * s; line + 16 * s < y0 + wh; line += 16 * s) {
            const int length = ww * int(30 + hash(seed, std::uint64_t(line)) % 65) / 100;
            c.text(x0 + 10 * s, line, length, {30, 30, 30}, {246, 246, 246}, s, seed++);
        }
    }
    const int dock = 48 * s;
    c.fill(w / 4, h - dock, w / 2, dock, {50, 50, 56});
    for (int i = 0; (i + 1) * dock < w / 2; ++i) {
        const std::uint64_t k = hash(std::uint64_t(i), 4);
        c.fill(w / 4 + 6 * s + i * dock, h - dock + 6 * s, dock - 12 * s, dock - 12 * s,
               {int(k % 200) + 40, int(k / 200 % 200) + 40, int(k / 40000 % 200) + 40});
    }
    return c.take();
}

std::vector<std::uint8_t> photo(std::uint32_t width, std::uint32_t height) {
    constexpr double tau = 2 * std::numbers::pi;
    std::vector<double> across(std::size_t{width} * 3), down(std::size_t{height} * 3);
    for (int channel = 0; channel < 3; ++channel) {
        for (std::uint32_t x = 0; x < width; ++x) {
            across[x * 3 + channel] = std::sin(tau * x / (width * 0.7 + 1) + channel * 1.3);
        }
        for (std::uint32_t y = 0; y < height; ++y) {
            down[y * 3 + channel] = std::cos(tau * y / (height * 0.9 + 1) + channel * 0.7);
        }
    }
    std::vector<std::uint8_t> rgb(std::size_t{width} * height * 3);
    for (std::uint32_t y = 0; y < height; ++y) {
        for (std::uint32_t x = 0; x < width; ++x) {
            const std::uint64_t grain = hash(x, y);
            for (int channel = 0; channel < 3; ++channel) {
                const double base = 128 + 90 * across[x * 3 + channel] * down[y * 3 + channel];
                const int noise = int(grain >> (channel * 8) & 0xFF) % 25 - 12;
                rgb[(std::size_t{y} * width + x) * 3 + channel] =
                    std::uint8_t(std::clamp(base + noise, 0.0, 255.0));
            }
        }
    }
    return rgb;
}

std::vector<std::uint8_t> striped(std::uint32_t width, std::uint32_t height) {
    static constexpr colour palette[] = {
        {255, 255, 255}, {0, 0, 0}, {200, 40, 40}, {40, 90, 200}, {128, 128, 128}};
    canvas c(width, height);
    for (int y = 0; y < int(height); ++y) {
        const int stripe = 1 + y / 7 % 5;
        for (int x = 0; x < int(width); ++x) {
            c.set(x, y, y % 11 == 10 ? palette[4] : palette[x / stripe % 4]);
        }
    }
    return c.take();
}

std::vector<std::uint8_t> gradient(std::uint32_t width, std::uint32_t height) {
    canvas c(width, height);
    const int across = std::max(int(width) - 1, 1), down = std::max(int(height) - 1, 1);
    for (int y = 0; y < int(height); ++y) {
        for (int x = 0; x < int(width); ++x) {
            c.set(x, y, {x * 255 / across, y * 255 / down, (x + y) * 255 / (across + down)});
        }
    }
    return c.take();
}

}  // namespace

const std::vector<picture_kind>& every_picture_kind() {
    static const std::vector<picture_kind> kinds = {
        picture_kind::desktop, picture_kind::photo,   picture_kind::flat,    picture_kind::black,
        picture_kind::noisy,   picture_kind::striped, picture_kind::gradient};
    return kinds;
}

std::string name_of(picture_kind kind) {
    switch (kind) {
        case picture_kind::desktop:
            return "desktop";
        case picture_kind::photo:
            return "photo";
        case picture_kind::flat:
            return "flat";
        case picture_kind::black:
            return "black";
        case picture_kind::noisy:
            return "noisy";
        case picture_kind::striped:
            return "striped";
        case picture_kind::gradient:
            return "gradient";
    }
    return "?";
}

std::vector<std::uint8_t> make_picture(picture_kind kind, std::uint32_t width,
                                       std::uint32_t height) {
    const std::size_t bytes = std::size_t{width} * height * 3;
    switch (kind) {
        case picture_kind::desktop:
            return desktop(width, height);
        case picture_kind::photo:
            return photo(width, height);
        case picture_kind::flat: {
            std::vector<std::uint8_t> rgb(bytes);
            for (std::size_t i = 0; i < bytes; ++i) {
                rgb[i] = std::uint8_t(0x33 * (i % 3 + 1));
            }
            return rgb;
        }
        case picture_kind::black:
            return std::vector<std::uint8_t>(bytes, 0);
        case picture_kind::noisy: {
            std::vector<std::uint8_t> rgb(bytes);
            for (std::size_t i = 0; i < bytes; ++i) {
                rgb[i] = std::uint8_t(hash(i, 99));
            }
            return rgb;
        }
        case picture_kind::striped:
            return striped(width, height);
        case picture_kind::gradient:
            return gradient(width, height);
    }
    return {};
}

std::vector<std::uint8_t> as_xrgb8888(const std::vector<std::uint8_t>& rgb, std::uint32_t width,
                                      std::uint32_t pitch) {
    const std::size_t height = rgb.size() / 3 / width;
    std::vector<std::uint8_t> source(pitch * height, 0xA5);
    for (std::size_t y = 0; y < height; ++y) {
        for (std::size_t x = 0; x < width; ++x) {
            const std::uint8_t* p = &rgb[(y * width + x) * 3];
            std::uint8_t* word = &source[y * pitch + x * 4];
            word[0] = p[2];
            word[1] = p[1];
            word[2] = p[0];
            word[3] = 0xFF;
        }
    }
    return source;
}

rgb565_frame as_rgb565(const std::vector<std::uint8_t>& rgb, std::uint32_t width,
                       std::uint32_t pitch) {
    const std::size_t height = rgb.size() / 3 / width;
    rgb565_frame frame{std::vector<std::uint8_t>(pitch * height, 0xA5), rgb};
    for (std::size_t y = 0; y < height; ++y) {
        for (std::size_t x = 0; x < width; ++x) {
            std::uint8_t* p = &frame.rgb[(y * width + x) * 3];
            const unsigned r = p[0] >> 3, g = p[1] >> 2, b = p[2] >> 3;
            const unsigned word = r << 11 | g << 5 | b;
            frame.source[y * pitch + x * 2] = std::uint8_t(word);
            frame.source[y * pitch + x * 2 + 1] = std::uint8_t(word >> 8);
            p[0] = std::uint8_t(r * 255 / 31);
            p[1] = std::uint8_t(g * 255 / 63);
            p[2] = std::uint8_t(b * 255 / 31);
        }
    }
    return frame;
}
