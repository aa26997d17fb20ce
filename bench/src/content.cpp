#include "content.hpp"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace {

struct colour {
    int r, g, b;
};

// A fixed hash of a position: the same "random" picture on every run.
std::uint64_t hash(std::uint64_t a, std::uint64_t b, std::uint64_t seed) {
    std::uint64_t z = a * 0x9E3779B97F4A7C15ull ^
                      (b + 0x632BE59BD9B4E019ull) * 0xBF58476D1CE4E5B9ull ^
                      seed * 0x94D049BB133111EBull;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

std::uint8_t clamp_byte(double value) {
    return std::uint8_t(std::clamp(value, 0.0, 255.0));
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
    colour get(int x, int y) const {
        if (x < 0 || y < 0 || x >= width_ || y >= height_) {
            return {0, 0, 0};
        }
        const std::uint8_t* p = &rgb_[(std::size_t(y) * width_ + x) * 3];
        return {p[0], p[1], p[2]};
    }
    void fill(int x0, int y0, int w, int h, colour c) {
        for (int y = std::max(y0, 0); y < std::min(y0 + h, height_); ++y) {
            for (int x = std::max(x0, 0); x < std::min(x0 + w, width_); ++x) {
                set(x, y, c);
            }
        }
    }
    // A horizontal gradient from one colour to another.
    void gradient(int x0, int y0, int w, int h, colour from, colour to) {
        for (int y = std::max(y0, 0); y < std::min(y0 + h, height_); ++y) {
            for (int x = std::max(x0, 0); x < std::min(x0 + w, width_); ++x) {
                const int t = x - x0;
                set(x, y,
                    {from.r + (to.r - from.r) * t / w, from.g + (to.g - from.g) * t / w,
                     from.b + (to.b - from.b) * t / w});
            }
        }
    }
    // Words of made-up glyphs (5×9 bitmaps in 8×16 cells, times scale), with a
    // half-tone pixel right of some strokes as anti-aliased text has.
    void text(int x0, int y0, int max_width, colour ink, int scale, std::uint64_t seed) {
        int x = x0;
        std::uint64_t n = 0;
        while (x + 8 * scale <= x0 + max_width) {
            const int letters = 2 + int(hash(n, 1, seed) % 8);
            for (int l = 0; l < letters && x + 8 * scale <= x0 + max_width; ++l, ++n) {
                glyph(x, y0, ink, scale, hash(n, 2, seed));
                x += 8 * scale;
            }
            x += 8 * scale;  // a space
            ++n;
        }
    }
    std::vector<std::uint8_t> take() { return std::move(rgb_); }
    int width() const { return width_; }
    int height() const { return height_; }

  private:
    void glyph(int x0, int y0, colour ink, int scale, std::uint64_t bits) {
        for (int row = 0; row < 9; ++row) {
            for (int column = 0; column < 5; ++column) {
                if ((bits >> (row * 5 + column) & 1) == 0 || (bits >> (row + 50) & 3) == 0) {
                    continue;
                }
                for (int dy = 0; dy < scale; ++dy) {
                    for (int dx = 0; dx < scale; ++dx) {
                        const int x = x0 + 1 + column * scale + dx;
                        const int y = y0 + 3 + row * scale + dy;
                        set(x, y, ink);
                        if (dx == scale - 1 && (bits >> (column + 45) & 1) != 0) {
                            const colour behind = get(x + 1, y);
                            set(x + 1, y,
                                {(behind.r + ink.r) / 2, (behind.g + ink.g) / 2,
                                 (behind.b + ink.b) / 2});
                        }
                    }
                }
            }
        }
    }

    int width_, height_;
    std::vector<std::uint8_t> rgb_;
};

// A wallpaper gradient, a top panel, three overlapping windows with title
// bars, lines of text and a colour-picker gradient, and a dock of flat icons.
std::vector<std::uint8_t> desktop(std::uint32_t width, std::uint32_t height) {
    canvas c(width, height);
    const int w = c.width();
    const int h = c.height();
    const int s = std::max(1, h / 1080);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            c.set(x, y, {30 + 40 * y / h, 60 + 60 * y / h, 110 + 60 * x / w});
        }
    }
    c.fill(0, 0, w, 28 * s, {36, 36, 40});
    c.text(12 * s, 6 * s, w / 3, {220, 220, 220}, s, 1);
    struct window {
        double x, y, w, h;
        bool picker;
    };
    const window windows[] = {{0.05, 0.08, 0.55, 0.62, false},
                              {0.35, 0.30, 0.60, 0.60, false},
                              {0.62, 0.06, 0.34, 0.40, true}};
    std::uint64_t seed = 10;
    for (const window& win : windows) {
        const int x0 = int(win.x * w), y0 = int(win.y * h);
        const int ww = int(win.w * w), wh = int(win.h * h);
        c.fill(x0 - 1, y0 - 1, ww + 2, wh + 2, {90, 90, 90});
        c.gradient(x0, y0, ww, 30 * s, {60, 90, 160}, {90, 130, 200});
        c.text(x0 + 10 * s, y0 + 7 * s, ww / 3, {255, 255, 255}, s, seed++);
        c.fill(x0, y0 + 30 * s, ww, wh - 30 * s, {246, 246, 246});
        if (win.picker) {
            const int px = x0 + 12 * s, py = y0 + 42 * s, pw = ww - 24 * s, ph = wh - 54 * s;
            for (int y = py; y < py + ph; ++y) {
                for (int x = px; x < px + pw; ++x) {
                    const double hue = 6.0 * (x - px) / pw;
                    const double light = 1.0 - double(y - py) / ph;
                    const auto ramp = [&](double offset) {
                        const double d = std::fabs(std::fmod(hue + offset, 6.0) - 3.0);
                        return std::clamp(d - 1.0, 0.0, 1.0) * 255.0 * light;
                    };
                    c.set(x, y, {int(ramp(0)), int(ramp(2)), int(ramp(4))});
                }
            }
            continue;
        }
        for (int line = y0 + 40 * s; line + 20 * s < y0 + wh; line += 20 * s) {
            const int length = ww * int(30 + hash(line, 3, seed) % 65) / 100;
            c.text(x0 + 12 * s, line, length, {30, 30, 30}, s, seed++);
        }
    }
    const int dock_h = 56 * s;
    c.fill(w / 4, h - dock_h, w / 2, dock_h, {50, 50, 56});
    for (int i = 0; i * 56 * s + 8 * s < w / 2 - 48 * s; ++i) {
        const std::uint64_t k = hash(i, 4, 0);
        c.fill(w / 4 + 8 * s + i * 56 * s, h - dock_h + 8 * s, 40 * s, 40 * s,
               {int(k % 200) + 40, int(k / 200 % 200) + 40, int(k / 40000 % 200) + 40});
    }
    return c.take();
}

// Smooth colour fields, separable so that they are cheap to make, with
// per-pixel grain of up to ±12 in each channel.
std::vector<std::uint8_t> photo(std::uint32_t width, std::uint32_t height) {
    std::vector<std::uint8_t> rgb(std::size_t{width} * height * 3);
    constexpr double tau = 2 * std::numbers::pi;
    std::vector<double> along_x(std::size_t{width} * 3), wave_x(along_x.size());
    std::vector<double> along_y(std::size_t{height} * 3), wave_y(along_y.size());
    for (int channel = 0; channel < 3; ++channel) {
        for (std::uint32_t x = 0; x < width; ++x) {
            along_x[x * 3 + channel] = std::sin(tau * x / (width * 0.7) + channel * 1.3);
            wave_x[x * 3 + channel] = std::sin(tau * x / (width * 0.11) + channel);
        }
        for (std::uint32_t y = 0; y < height; ++y) {
            along_y[y * 3 + channel] = std::cos(tau * y / (height * 0.9) + channel * 0.7);
            wave_y[y * 3 + channel] = std::sin(tau * y / (height * 0.17) + channel * 2);
        }
    }
    for (std::uint32_t y = 0; y < height; ++y) {
        for (std::uint32_t x = 0; x < width; ++x) {
            const std::uint64_t grain = hash(x, y, 5);
            for (int channel = 0; channel < 3; ++channel) {
                const double base = 128 + 70 * along_x[x * 3 + channel] * along_y[y * 3 + channel] +
                                    25 * wave_x[x * 3 + channel] * wave_y[y * 3 + channel];
                const int noise = int(grain >> (channel * 8) & 0xFF) % 25 - 12;
                rgb[(std::size_t{y} * width + x) * 3 + channel] = clamp_byte(base + noise);
            }
        }
    }
    return rgb;
}

}  // namespace

std::string name_of(content_kind kind) {
    switch (kind) {
        case content_kind::desktop:
            return "desktop";
        case content_kind::photo:
            return "photo";
        case content_kind::black:
            return "black";
    }
    return "?";
}

std::string name_of(pixel_format format) {
    return format == pixel_format::xrgb8888 ? "XRGB8888" : "RGB565";
}

std::string fourcc_of(pixel_format format) {
    return format == pixel_format::xrgb8888 ? "XR24" : "RG16";
}

frame make_frame(content_kind kind, pixel_format format, std::uint32_t width,
                 std::uint32_t height) {
    frame f;
    f.width = width;
    f.height = height;
    f.format = format;
    const std::size_t pixels = std::size_t{width} * height;
    std::vector<std::uint8_t> picture = kind == content_kind::desktop ? desktop(width, height)
                                        : kind == content_kind::photo
                                            ? photo(width, height)
                                            : std::vector<std::uint8_t>(pixels * 3, 0);
    f.source.resize(pixels * bytes_per_pixel(format));
    for (std::size_t i = 0; i < pixels; ++i) {
        const std::uint8_t r = picture[3 * i], g = picture[3 * i + 1], b = picture[3 * i + 2];
        if (format == pixel_format::xrgb8888) {
            // An opaque X byte, as most scanout buffers hold.
            f.source[4 * i + 0] = b;
            f.source[4 * i + 1] = g;
            f.source[4 * i + 2] = r;
            f.source[4 * i + 3] = 0xFF;
        } else {
            const unsigned word = unsigned(r >> 3) << 11 | unsigned(g >> 2) << 5 | unsigned(b >> 3);
            f.source[2 * i + 0] = std::uint8_t(word);
            f.source[2 * i + 1] = std::uint8_t(word >> 8);
        }
    }
    f.rgb.resize(pixels * 3);
    convert_to_rgb(format, f.source.data(), pixels, f.rgb.data());
    return f;
}
