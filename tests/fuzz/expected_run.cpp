#include "expected_run.hpp"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

namespace {

constexpr std::uint32_t rg16 = 0x36314752;
constexpr std::uint32_t libpng_size_limit = 1000000;

std::string hex(std::uint64_t value) {
    char text[32];
    std::snprintf(text, sizeof text, "%llx", static_cast<unsigned long long>(value));
    return text;
}

std::string error_text(int error) {
    return std::strerror(error);
}

std::string fb_freed(std::uint32_t id) {
    return "drmModeFreeFB2(" + std::to_string(id) + ")";
}

// Fills in the result of the capture phases; false when the run ends there.
bool expect_capture(const fuzz_case& c, const run_paths& paths, expected_run& e) {
    const fake_kms::script& k = c.kernel;
    auto stop = [&](int status, std::vector<std::string> lines, std::vector<std::string> last) {
        e.status = status;
        for (std::string& line : lines) {
            e.lines.push_back({"scanoutsnap: " + line});
        }
        e.last_events = std::move(last);
        return false;
    };

    if (c.device_missing) {
        return stop(101, {"open " + paths.device + ": " + error_text(ENOENT)}, {});
    }
    if (k.cap_errno != 0) {
        return stop(101,
                    {"drmGetCap(DRM_CAP_PRIME) fehlgeschlagen: " + error_text(k.cap_errno) +
                     " (Treiber unterstützt PRIME nicht)"},
                    {"drmGetCap(DRM_CAP_PRIME)", "close(device)"});
    }
    if ((k.prime_cap & 2) == 0) {
        return stop(101,
                    {"PRIME-Export nicht unterstützt (DRM_PRIME_CAP_EXPORT). Kernel "
                     "CONFIG_DMA_SHARED_BUFFER=y prüfen."},
                    {"drmGetCap(DRM_CAP_PRIME)", "close(device)"});
    }
    if (k.resources_errno != 0) {
        return stop(102, {"drmModeGetResources: " + error_text(k.resources_errno)},
                    {"drmModeGetResources", "close(device)"});
    }
    const std::uint32_t fb_id = framebuffer_on_screen(k);
    if (fb_id == 0) {
        return stop(103,
                    {"no active framebuffer found on " + paths.device + " (no CRTC/plane with fb)"},
                    {"drmModeFreeResources", "close(device)"});
    }
    const fake_kms::framebuffer& fb = *k.fb;
    if (fb.id != fb_id) {
        return stop(104, {"drmModeGetFB2: " + error_text(ENOENT)},
                    {"drmModeGetFB2(" + std::to_string(fb_id) + ")", "close(device)"});
    }
    if (fb.modifier != 0) {
        return stop(105,
                    {"unsupported modifier 0x" + hex(fb.modifier) +
                     " (tiled/swizzled, e.g. BROADCOM_UIF); only linear supported"},
                    {fb_freed(fb.id), "close(device)"});
    }
    if (captured_bytes_per_pixel(fb.pixel_format) == 0) {
        return stop(
            106, {"unsupported format 0x" + hex(fb.pixel_format) + " (XRGB8888/ARGB8888/RGB565)"},
            {fb_freed(fb.id), "close(device)"});
    }
    if (k.export_errno != 0) {
        std::vector<std::string> lines{"drmPrimeHandleToFD: " + error_text(k.export_errno)};
        if (k.export_errno == ENOENT) {
            lines.push_back(
                "ENOENT = GEM-Handle ungültig/zerstört oder Buffer gehört anderem Prozess "
                "(z.B. Compositor/Desktop).");
            lines.push_back(
                "Workaround: Agent in derselben Session wie die Anzeige starten. Kernel: "
                "CONFIG_DMA_SHARED_BUFFER=y, CONFIG_DRM_VC4.");
        }
        return stop(107, lines, {fb_freed(fb.id), "close(device)"});
    }
    const std::uint64_t image = std::uint64_t{fb.height} * fb.pitch;
    const std::uint64_t mapped = image == 0 ? 0 : fb.offset + image;
    if (mapped == 0 || mapped > k.buffer.size()) {
        return stop(108, {"mmap: " + error_text(EINVAL)},
                    {"close(dmabuf)", fb_freed(fb.id), "close(device)"});
    }
    // From here on the whole capture is given back before any line.
    e.last_events = {"ioctl(DMA_BUF_IOCTL_SYNC, END|READ)",
                     "munmap(length=" + std::to_string(mapped) + ")", "close(dmabuf)",
                     fb_freed(fb.id), "close(device)"};
    return true;
}

void expect_output(const fuzz_case& c, const run_paths& paths, bool running_as_root,
                   expected_run& e) {
    const fake_kms::framebuffer& fb = *c.kernel.fb;
    const bool sudo = c.sudo_uid && c.sudo_gid;
    const id_pair caller = sudo ? id_pair{sudo_id(*c.sudo_uid), sudo_id(*c.sudo_gid)} : id_pair{};

    if (sudo && running_as_root && caller.first != 0 && caller.first != 0xFFFFFFFF) {
        e.switch_requests.push_back(caller);
        if (c.drop_errno != 0) {
            e.status = 109;
            e.lines.push_back({"scanoutsnap: drop privileges to " + std::to_string(caller.first) +
                               ":" + std::to_string(caller.second) + ": " +
                               error_text(c.drop_errno)});
            return;
        }
    }

    const std::string write_line = "scanoutsnap: write " + paths.output + ": ";
    if (c.output == output_kind::missing_directory) {
        e.status = 109;
        e.lines.push_back({write_line + error_text(ENOENT)});
        return;
    }
    e.writer_opens_file = true;
    if (fb.width == 0 || fb.width > libpng_size_limit || fb.height > libpng_size_limit) {
        e.status = 109;
        e.libpng_may_fail = e.libpng_must_fail = true;
        e.lines.push_back({write_line, false});
        return;
    }
    if (c.output == output_kind::full_device) {
        e.status = 109;
        e.libpng_may_fail = true;
        e.lines.push_back({write_line + error_text(ENOSPC)});
        return;
    }
    e.status = 0;
    if (sudo) {
        e.chown_requests.push_back(caller);
        if (c.chown_errno != 0) {
            e.lines.push_back(
                {"scanoutsnap: chown " + paths.output + ": " + error_text(c.chown_errno)});
        }
    }
}

}  // namespace

std::uint32_t sudo_id(const std::string& text) {
    std::size_t i = 0;
    while (i < text.size() && std::strchr(" \t\n\v\f\r", text[i]) != nullptr && text[i] != '\0') {
        ++i;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    constexpr std::uint64_t max = std::numeric_limits<std::uint64_t>::max();
    std::uint64_t value = 0;
    bool overflow = false;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        const std::uint64_t digit = std::uint64_t(text[i] - '0');
        if (value > (max - digit) / 10) {
            overflow = true;
        } else {
            value = value * 10 + digit;
        }
    }
    if (overflow) {
        value = max;  // out of range, whatever the sign
    } else if (negative) {
        value = 0 - value;
    }
    return static_cast<std::uint32_t>(value);
}

expected_run expect_run(const fuzz_case& c, const run_paths& paths, bool running_as_root) {
    expected_run e;
    if (expect_capture(c, paths, e)) {
        expect_output(c, paths, running_as_root, e);
    }
    return e;
}

std::vector<std::uint8_t> expected_rgb(const fuzz_case& c) {
    const fake_kms::framebuffer& fb = *c.kernel.fb;
    const std::vector<std::uint8_t>& buffer = c.kernel.buffer;
    std::vector<std::uint8_t> rgb;
    rgb.reserve(std::size_t{fb.width} * fb.height * 3);
    // A 5- or 6-bit channel scaled to 0..255 and truncated, in floating point.
    auto scaled = [](std::uint32_t value, double maximum) {
        return static_cast<std::uint8_t>(std::floor(value * 255.0 / maximum));
    };
    for (std::uint64_t y = 0; y < fb.height; ++y) {
        for (std::uint64_t x = 0; x < fb.width; ++x) {
            const std::uint8_t* p = &buffer.at(fb.offset + y * fb.pitch +
                                               x * captured_bytes_per_pixel(fb.pixel_format));
            if (fb.pixel_format == rg16) {
                const std::uint32_t word = p[0] + 256u * p[1];
                rgb.push_back(scaled(word / 2048, 31));
                rgb.push_back(scaled(word / 32 % 64, 63));
                rgb.push_back(scaled(word % 32, 31));
            } else {
                rgb.push_back(p[2]);
                rgb.push_back(p[1]);
                rgb.push_back(p[0]);
            }
        }
    }
    return rgb;
}
