#pragma once

// The process exit statuses: the only values the tool ever returns.
enum class exit_status : int {
    success = 0,                  // screenshot written (even if the hand-over to the caller failed)
    device_unusable = 101,        // open, PRIME capability query, or no PRIME export
    no_mode_resources = 102,      // drmModeGetResources failed
    no_active_framebuffer = 103,  // no CRTC or plane shows a framebuffer
    no_fb_description = 104,      // drmModeGetFB2 failed
    unsupported_modifier = 105,   // non-linear layout
    unsupported_format = 106,     // pixel format not captured
    export_failed = 107,          // drmPrimeHandleToFD failed
    map_failed = 108,             // mmap of the exported buffer failed
    write_failed = 109,           // the PNG file could not be written
};

constexpr int to_process_status(exit_status status) {
    return static_cast<int>(status);
}
