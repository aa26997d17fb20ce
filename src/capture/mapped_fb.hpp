#pragma once

#include <cstdint>

#include "capture/dmabuf_mapping.hpp"
#include "capture/drm_records.hpp"
#include "capture/unique_fd.hpp"
#include "diagnostics.hpp"
#include "outcome.hpp"

// The framebuffer on screen, exported and mapped, with everything that must be
// given back with it. One owner at a time: it can be moved into a new owner
// but not assigned, which would give back the old value's members in the
// wrong order. The members are declared in the order they are acquired, so
// that destruction, like release_mapped_fb, gives them back in reverse.
struct mapped_fb {
    mapped_fb() = default;
    mapped_fb(mapped_fb&&) = default;
    mapped_fb& operator=(mapped_fb&&) = delete;

    unique_fd device_fd;
    fb2_record fb;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint32_t pitch = 0;  // bytes from one row to the next
    std::uint32_t pixel_format = 0;
    dmabuf_mapping mapping;  // the exported buffer and its whole mapped range, from offset 0
    const std::uint8_t* pixels = nullptr;  // the first pixel, offsets[0] bytes into the mapping
};

// Reads the description of framebuffer fb_id, refuses layouts and formats the
// tool cannot read, exports the first buffer object and maps it read-only.
// Takes over the device; after a failure everything has been released.
outcome<mapped_fb> map_active_fb(unique_fd device, std::uint32_t fb_id,
                                 failure_lines lines = failure_lines::printed);

// Unmaps, closes the dma-buf and frees the description, in that order, and
// hands back the device, for another attempt at the capture.
unique_fd release_keeping_device(mapped_fb capture);

// The same, and then closes the device. errno changes no more than those
// calls change it.
void release_mapped_fb(mapped_fb capture);
