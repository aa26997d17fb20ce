#pragma once

#include <cstdint>

#include "capture/unique_fd.hpp"
#include "diagnostics.hpp"
#include "outcome.hpp"

// Where a framebuffer was found on screen: on a CRTC, or on a plane attached
// to one.
enum class scanout_place { crtc, plane };

// The frame period assumed where the CRTC's mode cannot be read: that of the
// slowest refresh rate in common use, 24 Hz.
inline constexpr std::uint64_t slowest_frame_period_ns = 1'000'000'000 / 24;

struct scanout {
    std::uint32_t fb_id = 0;
    scanout_place place = scanout_place::crtc;
    std::uint32_t place_id = 0;  // the CRTC's or the plane's id
    // The time from one frame to the next on the CRTC that shows it: the
    // shortest time in which the screen can change twice.
    std::uint64_t frame_period_ns = slowest_frame_period_ns;
};

// Finds a framebuffer on screen: the first CRTC, in the kernel's order, that
// shows one; failing that, the first plane attached to a CRTC that holds one.
// No libdrm record outlives the call. The device stays with the caller, who
// closes it after a failure has been reported.
outcome<scanout> find_active_fb(const unique_fd& device, const char* device_path,
                                failure_lines lines = failure_lines::printed);

// Whether the framebuffer is still the one shown where it was found (a plane
// still attached to a CRTC). A CRTC or plane that cannot be read counts as
// changed. errno is left as it was.
bool still_on_screen(const unique_fd& device, const scanout& found);
