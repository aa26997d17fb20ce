#pragma once

#include <cstdint>

#include "capture/discovery.hpp"
#include "capture/frame_copy.hpp"
#include "capture/mapped_fb.hpp"

// Where the PNG's rows come from: row y starts at pixels + y × pitch.
struct frame_view {
    std::uint32_t width;
    std::uint32_t height;
    std::uint32_t pitch;
    std::uint32_t pixel_format;
    const std::uint8_t* pixels;
};

// The frame to write: its copy, read while the capture was held and
// released since; or, when there was no memory for a copy, the capture
// itself, which is written from its mapping and held until then.
struct captured_frame {
    frame_copy copy;
    mapped_fb capture;

    frame_view view() const;
    // Gives back the capture, in its fixed order, and the copy.
    void release();
};

// What a read does once a check saw that the screen may have changed: copy
// the rest of the rows without asking again, or copy no more.
enum class after_change { read_on, stop };

// One pass over the mapping: copies the visible bytes of every row into the
// frame, and asks before the first row, after every 64 rows and after the
// last whether the framebuffer is still on screen where it was found. True
// when every check said so and none ended more than a frame period after the
// one before it began (the screen could have changed and changed back in
// between); after one that did not, the read goes on as `then` says.
bool read_rows_checking(const mapped_fb& capture, const scanout& found, frame_copy& frame,
                        after_change then);

// Reads the frame on screen out of the mapping in one pass into a copy,
// checking as read_rows_checking does whether the framebuffer stays the one
// shown where it was found. When it may have left, what was read may mix two
// frames: the capture is given back and taken again (discovery, export,
// mapping, read), at most ten attempts in all, the last one's frame kept
// whatever its checks said. A read between the first and the last that sees
// a change stops there, its remaining rows still those read before. A later
// attempt that fails prints nothing and keeps what was read before: each
// row as last read. A later framebuffer of another size gets a
// copy of its own once the old one is freed; without memory for it, that
// attempt is written from its mapping. The capture is released right after
// the last read. errno is left as it was.
captured_frame read_frame(mapped_fb first, const scanout& found);
