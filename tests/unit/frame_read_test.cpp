// Reading the frame while the screen changes: which framebuffer the CRTC (or
// plane) reports at each read is scripted, every framebuffer has pixels of
// its own, and each case gives the attempts the run must make, in the
// kernel calls they make in order, and whose pixels the PNG must hold.

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>

#include "capture/device.hpp"
#include "capture/frame_read.hpp"
#include "command_line.hpp"
#include "decoded_png.hpp"
#include "device_setup.hpp"
#include "fake_kms.hpp"
#include "output/snapshot.hpp"
#include "pixels.hpp"
#include "stderr_capture.hpp"
#include "temp_dir.hpp"

namespace {

using events = std::vector<std::string>;

constexpr std::uint32_t height =
    130;  // checks before row 0, after rows 64 and 128, and after the last

struct attempt {
    std::uint32_t fb_id;
    int checks;
};

struct read_case {
    const char* name;
    bool on_plane;                     // found on plane 40, else on CRTC 31
    std::vector<std::uint32_t> later;  // the framebuffer ids of the CRTC's or plane's later reads
    std::vector<attempt> attempts;     // each attempt that read a frame, in order
    // A last attempt that failed: its calls after its discovery, or all of them
    // from drmModeGetResources on when the discovery itself failed.
    events failed_attempt;
    std::uint32_t written;      // whose pixels the PNG holds
    std::uint32_t refresh = 0;  // CRTC 31's mode, in Hz; 0: none (24 Hz is assumed)
    // The time each read of the CRTC or plane takes, discovery's first.
    std::vector<std::uint32_t> read_ms = {};
    std::vector<fake_kms::meminfo> memory = {};  // at each copy's allocation
    std::uint32_t under = 0;  // not 0: a read stopped at row 64, whose rows from there on it left
};

constexpr fake_kms::meminfo plenty{1 << 20, 1 << 20}, none{1 << 20, 0};  // kB

const read_case cases[] = {
    {"still screen: one attempt", false, {}, {{45, 4}}, {}, 45},
    {"left before the first row", false, {46}, {{45, 1}, {46, 4}}, {}, 46},
    // Right after a case that wrote another frame, whose copy's memory the
    // next one may be given again: the first read reads on to its last row.
    {"later description fails: the earlier frame",
     false,
     {48},
     {{45, 1}},
     {"drmModeGetFB2(48)"},
     45},
    {"left during the read", false, {45, 46}, {{45, 2}, {46, 4}}, {}, 46},
    {"left after the last row", false, {45, 45, 45, 46}, {{45, 4}, {46, 4}}, {}, 46},
    {"left and came back", false, {45, 45, 46, 45}, {{45, 3}, {45, 4}}, {}, 45},
    {"left on every attempt: ten, the last written",
     false,
     {46, 46, 47, 47, 45, 45, 46, 46, 47, 47, 45, 45, 46, 46, 47, 47, 45, 45, 46},
     {{45, 1}, {46, 1}, {47, 1}, {45, 1}, {46, 1}, {47, 1}, {45, 1}, {46, 1}, {47, 1}, {45, 1}},
     {},
     45},
    {"CRTC no longer readable", false, {fake_kms::unreadable, 45}, {{45, 1}, {45, 4}}, {}, 45},
    {"another size on the next attempt", false, {49}, {{45, 1}, {49, 3}}, {}, 49},
    // The first copy freed, no memory to spare for the second: as without
    // memory for the first, written from its mapping, unchecked.
    {"another size, and no memory for its copy",
     false,
     {49},
     {{45, 1}, {49, 0}},
     {},
     49,
     0,
     {},
     {plenty, none}},
    {"plane fallback, asked through the plane", true, {46}, {{45, 1}, {46, 4}}, {}, 46},
    // 20 ms from the check before row 0 to the end of the one after row 64:
    // longer than a frame at 60 Hz, so the screen may have changed and
    // changed back; not at the 24 Hz assumed without a mode.
    {"interval longer than the mode's frame period",
     false,
     {},
     {{45, 2}, {45, 4}},
     {},
     45,
     60,
     {0, 0, 20}},
    {"the same interval without a mode", false, {}, {{45, 4}}, {}, 45, 0, {0, 0, 20}},
    {"plane: the period of the CRTC it is on",
     true,
     {},
     {{45, 2}, {45, 4}},
     {},
     45,
     60,
     {0, 0, 20}},
    {"later export fails: the earlier frame",
     false,
     {50},
     {{45, 1}},
     {"drmModeGetFB2(50)", "drmPrimeHandleToFD(handle=50, flags=DRM_CLOEXEC)",
      "drmModeFreeFB2(50)"},
     45},
    // A read after the first stops where it sees the change: the next attempt
    // starts sooner. Its rows below stay those of the read before.
    {"later read stopped, the next description fails: the rows as last read",
     false,
     {46, 46, 46, 48},
     {{45, 1}, {46, 2}},
     {"drmModeGetFB2(48)"},
     46,
     0,
     {},
     {},
     45},
    // The first read of a new copy reads on: no row of it has been read yet.
    {"another size, left before its first row, then the description fails",
     false,
     {49, 49, 48},
     {{45, 1}, {49, 1}},
     {"drmModeGetFB2(48)"},
     49},
    {"blanked before the next attempt: the earlier frame",
     false,
     {0},
     {{45, 1}},
     {"drmModeGetResources", "drmModeGetCrtc(31)", "drmModeFreeCrtc(31)",
      "drmModeGetPlaneResources", "drmModeFreePlaneResources", "drmModeFreeResources"},
     45},
};

// Framebuffer id's words: id in the top byte, the pixel's index below.
std::vector<std::uint8_t> pixels_of(std::uint32_t fb_id, std::uint32_t width, std::uint32_t rows) {
    std::vector<std::uint32_t> words(std::size_t{width} * rows);
    for (std::uint32_t i = 0; i < words.size(); ++i) {
        words[i] = fb_id << 16 | i;
    }
    return framebuffer_bytes(words, width, 4, width * 4);
}

fake_kms::other_framebuffer framebuffer(std::uint32_t id, std::uint32_t width, std::uint32_t rows) {
    return {{id, width, rows, width * 4, 0, 0x34325258, 0, id}, pixels_of(id, width, rows)};
}

fake_kms::script screen(const read_case& c) {
    fake_kms::script s;
    const fake_kms::other_framebuffer first = framebuffer(45, 2, height);
    s.fb = first.fb;
    s.buffer = first.buffer;
    // 48 is not a framebuffer; 50's buffer object cannot be exported.
    s.other_fbs = {framebuffer(46, 2, height), framebuffer(47, 2, height), framebuffer(49, 3, 70),
                   framebuffer(50, 2, height)};
    s.other_fbs[3].fb.export_errno = EIO;
    s.memory = c.memory;
    if (c.on_plane) {
        s.crtcs = {{31, 0, true, {}, c.refresh}};
        s.planes = {{40, 31, 45, true, c.later, c.read_ms}};
    } else {
        s.crtcs = {{31, 45, true, c.later, c.refresh, c.read_ms}};
    }
    return s;
}

events expected_events(const read_case& c) {
    const events ask = c.on_plane ? events{"drmModeGetPlane(40)", "drmModeFreePlane(40)"}
                                  : events{"drmModeGetCrtc(31)", "drmModeFreeCrtc(31)"};
    events discovery = {"drmModeGetResources", "drmModeGetCrtc(31)", "drmModeFreeCrtc(31)"};
    if (c.on_plane) {
        discovery.insert(discovery.end(),
                         {"drmModeGetPlaneResources", ask[0], ask[1], "drmModeFreePlaneResources"});
    }
    discovery.push_back("drmModeFreeResources");

    events all;
    std::size_t reads = 0;  // of the CRTC or plane the frame was found on, discovery's included
    auto asked = [&] {
        const bool readable =
            reads == 0 || c.later.empty() ||
            c.later[std::min(reads - 1, c.later.size() - 1)] != fake_kms::unreadable;
        ++reads;
        all.insert(all.end(), ask.begin(), ask.begin() + (readable ? 2 : 1));
    };
    auto discover = [&] {
        all.insert(all.end(), discovery.begin(), discovery.end());
        ++reads;
    };
    for (const attempt& a : c.attempts) {
        const std::string id = std::to_string(a.fb_id);
        const std::string length = a.fb_id == 49 ? "840" : "1040";
        discover();
        all.insert(all.end(), {"drmModeGetFB2(" + id + ")",
                               "drmPrimeHandleToFD(handle=" + id + ", flags=DRM_CLOEXEC)",
                               "mmap(length=" + length + ", PROT_READ, MAP_SHARED, offset=0)",
                               "ioctl(DMA_BUF_IOCTL_SYNC, START|READ)"});
        for (int i = 0; i < a.checks; ++i) {
            asked();
        }
        all.insert(all.end(),
                   {"ioctl(DMA_BUF_IOCTL_SYNC, END|READ)", "munmap(length=" + length + ")",
                    "close(dmabuf)", "drmModeFreeFB2(" + id + ")"});
    }
    if (!c.failed_attempt.empty()) {
        if (c.failed_attempt.front() != discovery.front()) {
            discover();
        }
        all.insert(all.end(), c.failed_attempt.begin(), c.failed_attempt.end());
    }
    all.push_back("close(device)");
    return all;
}

// The RGB the PNG must hold: the framebuffer's pixels, converted; from row 64
// on those of `under` when a read stopped there.
std::vector<std::uint8_t> rgb_of(std::uint32_t fb_id, std::uint32_t under = 0) {
    const std::uint32_t width = fb_id == 49 ? 3 : 2;
    const std::uint32_t rows = fb_id == 49 ? 70 : height;
    const std::vector<std::uint8_t> top = pixels_of(fb_id, width, rows);
    const std::vector<std::uint8_t> bottom = pixels_of(under == 0 ? fb_id : under, width, rows);
    std::vector<std::uint8_t> rgb;
    for (std::size_t at = 0; at < top.size(); at += 4) {
        const std::vector<std::uint8_t>& bytes = at < std::size_t{64} * width * 4 ? top : bottom;
        rgb.insert(rgb.end(), {bytes[at + 2], bytes[at + 1], bytes[at]});
    }
    return rgb;
}

TEST(FrameRead, CapturesAgainWhileTheFramebufferLeavesTheScreen) {
    const temp_dir dir;
    const std::string card = dir / "card0";
    const std::string shot = dir / "shot.png";
    write_file(card, "");
    out_filename = shot.c_str();
    // Run through sudo, the tests inherit its caller: the writer keeps root here.
    ::unsetenv("SUDO_UID");
    ::unsetenv("SUDO_GID");
    for (const read_case& c : cases) {
        SCOPED_TRACE(c.name);
        fake_kms::load(screen(c));
        stderr_capture err;
        outcome<unique_fd> device = open_drm_device(card.c_str());
        outcome<scanout> found = find_active_fb(device.value(), card.c_str());
        outcome<mapped_fb> capture = map_active_fb(std::move(device.value()), found.value().fb_id);
        errno = EXDEV;
        captured_frame frame = read_frame(std::move(capture.value()), found.value());
        EXPECT_EQ(errno, EXDEV) << "errno as it was";
        EXPECT_EQ(write_snapshot(std::move(frame)), exit_status::success);
        EXPECT_EQ(err.text(), "");
        EXPECT_EQ(events_after_setup(fake_kms::events()), expected_events(c));
        EXPECT_EQ(fake_kms::live_records(), 0);
        EXPECT_EQ(read_png(shot)->rgb, rgb_of(c.written, c.under));
    }
    out_filename = "screenshot.png";
}

}  // namespace
