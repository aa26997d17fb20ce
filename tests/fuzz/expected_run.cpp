#include "expected_run.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <map>

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

// The length the tool maps for a framebuffer.
std::uint64_t mapped_length(const fake_kms::framebuffer& fb) {
    const std::uint64_t image = std::uint64_t{fb.height} * fb.pitch;
    return image == 0 ? 0 : fb.offset + image;
}

// What a CRTC or plane of the script shows at one of its reads, read counts
// kept per object as the fake keeps them; nullopt when the read fails.
class screen_reads {
  public:
    explicit screen_reads(const fake_kms::script& k) : k_(k) {}

    std::optional<std::uint32_t> crtc(std::size_t i) {
        const fake_kms::crtc& c = k_.crtcs[i];
        return c.readable ? at_read(crtc_reads_[i]++, c.buffer_id, c.later_buffer_ids)
                          : std::nullopt;
    }
    std::optional<std::uint32_t> plane(std::size_t i) {
        const fake_kms::plane& p = k_.planes[i];
        return p.readable ? at_read(plane_reads_[i]++, p.fb_id, p.later_fb_ids) : std::nullopt;
    }
    std::optional<std::uint32_t> at(const screen_place& place) {
        return place.where == screen_place::kind::crtc ? crtc(place.index) : plane(place.index);
    }

    // Discovery by the tool's rule: the first CRTC with a framebuffer, else
    // the first plane on a CRTC with one (resources readable: the first
    // attempt got past them).
    std::pair<screen_place, std::uint32_t> discover() {
        for (std::size_t i = 0; i < k_.crtcs.size(); ++i) {
            if (const auto id = crtc(i); id && *id != 0) {
                return {{screen_place::kind::crtc, i}, *id};
            }
        }
        for (std::size_t i = 0; k_.plane_resources_errno == 0 && i < k_.planes.size(); ++i) {
            if (const auto id = plane(i); id && *id != 0 && k_.planes[i].crtc_id != 0) {
                return {{screen_place::kind::plane, i}, *id};
            }
        }
        return {};
    }

  private:
    static std::optional<std::uint32_t> at_read(std::size_t n, std::uint32_t first,
                                                const std::vector<std::uint32_t>& later) {
        if (n == 0 || later.empty()) {
            return first;
        }
        const std::uint32_t id = later[std::min(n - 1, later.size() - 1)];
        return id == fake_kms::unreadable ? std::nullopt : std::optional<std::uint32_t>(id);
    }

    const fake_kms::script& k_;
    std::map<std::size_t, std::size_t> crtc_reads_;
    std::map<std::size_t, std::size_t> plane_reads_;
};

// After the first attempt mapped its framebuffer: the reads with their checks
// (before the first row, after every 64 rows and after the last, none after
// one that failed; the fake's clock stands still, so no interval is too
// long), the later attempts while the framebuffer has left the screen, at
// most ten in all, and how the last one ends. A read that is neither the
// first into its copy nor the last attempt's stops at the check that failed,
// leaving the rows below as they were read before; each row of the PNG is
// the framebuffer's it was last read from.
void expect_attempts(const fuzz_case& c, expected_run& e) {
    constexpr int most_attempts = 10;
    constexpr std::uint64_t rows_between_checks = 64;
    screen_reads reads(c.kernel);
    screen_place place = where_found(c.kernel);
    reads.at(place);  // discovery's read
    const fake_kms::framebuffer* current = &*c.kernel.fb;
    e.row_fbs.assign(current->height, 0);
    bool filled = false;  // every row of the copy read
    for (e.attempts = 1;; ++e.attempts) {
        const bool may_stop = filled && e.attempts < most_attempts;
        const std::uint64_t checks =
            1 + (std::uint64_t{current->height} + rows_between_checks - 1) / rows_between_checks;
        std::uint64_t rows = current->height;
        bool stayed = true;
        for (std::uint64_t check = 0; check < checks && stayed; ++check) {
            const auto id = reads.at(place);
            stayed = id && *id == current->id;
            if (!stayed && may_stop) {
                rows = std::min<std::uint64_t>(rows, rows_between_checks * check);
            }
        }
        std::fill_n(e.row_fbs.begin(), rows, current->id);
        filled = true;
        e.written_fb = current->id;
        e.last_events = {"ioctl(DMA_BUF_IOCTL_SYNC, END|READ)",
                         "munmap(length=" + std::to_string(mapped_length(*current)) + ")",
                         "close(dmabuf)", fb_freed(current->id), "close(device)"};
        if (stayed || e.attempts == most_attempts) {
            return;
        }
        // Another attempt; one that fails keeps the rows read, silently.
        const auto [found, id] = reads.discover();
        if (found.where == screen_place::kind::none) {
            e.last_events = {"drmModeFreeResources", "close(device)"};
            return;
        }
        const case_framebuffer next = framebuffer_by_id(c, id);
        if (next.fb == nullptr) {
            e.last_events = {"drmModeGetFB2(" + std::to_string(id) + ")", "close(device)"};
            return;
        }
        if (next.fb->modifier != 0 || captured_bytes_per_pixel(next.fb->pixel_format) == 0 ||
            next.fb->export_errno != 0) {
            e.last_events = {fb_freed(id), "close(device)"};
            return;
        }
        if (next.fb->width != current->width || next.fb->height != current->height ||
            next.fb->pixel_format != current->pixel_format) {
            // A copy of its own, none of its rows read yet.
            e.row_fbs.assign(next.fb->height, 0);
            filled = false;
        }
        place = found;
        current = next.fb;
    }
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
    expect_attempts(c, e);
    return true;
}

void expect_output(const fuzz_case& c, const run_paths& paths, bool running_as_root,
                   expected_run& e) {
    const fake_kms::framebuffer& fb = *framebuffer_by_id(c, e.written_fb).fb;
    const bool sudo = c.sudo_uid && c.sudo_gid;
    const id_pair caller = sudo ? id_pair{sudo_id(*c.sudo_uid), sudo_id(*c.sudo_gid)} : id_pair{};

    if (sudo && running_as_root && caller.first != 0 && caller.first != 0xFFFFFFFF) {
        // After the capture is released.
        e.switch_requests.push_back(caller);
        e.last_events.push_back("become " + std::to_string(caller.first) + ":" +
                                std::to_string(caller.second));
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

case_framebuffer framebuffer_by_id(const fuzz_case& c, std::uint32_t id) {
    if (c.kernel.fb && c.kernel.fb->id == id) {
        return {&*c.kernel.fb, &c.kernel.buffer};
    }
    for (const fake_kms::other_framebuffer& other : c.kernel.other_fbs) {
        if (other.fb.id == id) {
            return {&other.fb, &other.buffer};
        }
    }
    return {nullptr, nullptr};
}

std::vector<std::uint8_t> expected_rgb(const fuzz_case& c, std::uint32_t fb_id) {
    const case_framebuffer written = framebuffer_by_id(c, fb_id);
    const fake_kms::framebuffer& fb = *written.fb;
    const std::vector<std::uint8_t>& buffer = *written.buffer;
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
