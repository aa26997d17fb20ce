#pragma once

// A scripted stand-in for the kernel's DRM interface as the tool sees it: the
// libdrm calls it makes, and mmap, munmap, close and ioctl on the dma-buf it
// exports. Linked into a test binary in place of libdrm, or preloaded into the
// real executable (the script then comes from the file named by
// FAKE_KMS_SCRIPT, and events are appended to the file named by FAKE_KMS_LOG).
//
// The device node: an empty regular file named like a DRM node, cardN or
// renderDN, stands for one; fstat shows it as character device 226:N. An
// open for reading and writing of anything else, or of a DRM device without
// O_NOCTTY and O_CLOEXEC, is logged as the event "open(PATH, FLAGS)", the
// path as given: the only events that begin with "open(".
//
// Around the device: the monotonic clock is the fake's own while a script is
// loaded, standing still but for the time scripted reads of a CRTC or plane
// take; /proc/meminfo and the page population of madvise answer as scripted.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace fake_kms {

// Among a CRTC's or plane's later framebuffer ids: that read fails.
inline constexpr std::uint32_t unreadable = 0xFFFFFFFF;

struct crtc {
    std::uint32_t id = 0;
    std::uint32_t buffer_id = 0;
    bool readable = true;
    // The buffer_id of the second read on, one read each, the last one
    // repeated: a screen that changes.
    std::vector<std::uint32_t> later_buffer_ids = {};
    std::uint32_t refresh = 0;  // its mode's refresh rate in Hz; 0: no mode
    // How long each read takes on the fake's clock, in milliseconds, from
    // the first read on; reads beyond the list take no time.
    std::vector<std::uint32_t> read_ms = {};
};

struct plane {
    std::uint32_t id = 0;
    std::uint32_t crtc_id = 0;
    std::uint32_t fb_id = 0;
    bool readable = true;
    std::vector<std::uint32_t> later_fb_ids = {};  // as a CRTC's later_buffer_ids
    std::vector<std::uint32_t> read_ms = {};       // as a CRTC's
};

// What /proc/meminfo says, in kB.
struct meminfo {
    std::uint64_t total_kb = 0;
    std::uint64_t available_kb = 0;
};

struct framebuffer {
    std::uint32_t id = 0;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint32_t pitch = 0;
    std::uint32_t offset = 0;
    std::uint32_t pixel_format = 0;
    std::uint64_t modifier = 0;
    std::uint32_t handle = 1;
    int export_errno = 0;  // exporting this framebuffer's handle fails with it
};

// A further framebuffer with a buffer object of its own, for a screen that
// changes.
struct other_framebuffer {
    framebuffer fb;
    std::vector<std::uint8_t> buffer;
};

struct script {
    int cap_errno = 0;  // drmGetCap(DRM_CAP_PRIME) fails with this errno when non-zero
    std::uint64_t prime_cap = 3;
    int resources_errno = 0;  // drmModeGetResources fails with this errno when non-zero
    std::vector<crtc> crtcs;
    int plane_resources_errno = 0;
    std::vector<plane> planes;
    std::optional<framebuffer> fb;  // drmModeGetFB2 of any other id fails with ENOENT
    int export_errno = 0;
    std::vector<std::uint8_t> buffer;  // the exported buffer object, its size included
    int sync_errno = 0;                // DMA_BUF_IOCTL_SYNC fails with this errno when non-zero
    // When not -1, the buffer object is instead this inherited descriptor (a
    // memfd the caller filled), exported as a duplicate: no copy of a large frame.
    int buffer_fd = -1;
    // Described and exported like fb, each found by its id and its handle
    // (fb's handle is looked for first).
    std::vector<other_framebuffer> other_fbs;
    int populate_errno = 0;  // madvise(MADV_POPULATE_WRITE) fails with this errno when non-zero
    // /proc/meminfo at each read, the last one repeated; the real one when empty.
    std::vector<meminfo> memory;
};

// Replaces the script and forgets every event and record of an earlier one.
void load(const script& s);

// Parses the text form used for preloading; nullopt with a message on error.
std::optional<script> parse(const std::string& text, std::string* error);

// Everything the code under test did to the fake, in order, one line each;
// " as uid N" ends the events of a process that has become user N since.
const std::vector<std::string>& events();

// An event of the test's own among them, to see where it falls in the order.
void note(const std::string& event);

// Records handed out and not yet freed, and descriptors still open.
int live_records();
bool device_open();
bool dmabuf_open();
bool mapping_live();

}  // namespace fake_kms
