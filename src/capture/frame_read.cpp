#include "capture/frame_read.hpp"

#include <time.h>

#include <cerrno>
#include <cstring>
#include <optional>

namespace {

// Well under a frame period even on a slow board, and few enough checks to
// cost nothing beside the copy.
constexpr std::uint32_t rows_between_checks = 64;
// Enough to outlast a burst of load that slows the reads past a frame period
// (a board whose cores are all busy); cheap, as the attempts between the
// first and the last stop at the change they see.
constexpr int most_attempts = 10;

std::uint64_t monotonic_ns() {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return std::uint64_t(now.tv_sec) * 1'000'000'000 + std::uint64_t(now.tv_nsec);
}

// The checks of one read. Rows read between two checks that both saw the
// framebuffer on screen are whole, unless it left and came back in between:
// two changes of the screen, which are at least a frame period apart. So a
// check that ends longer than a frame period after the one before it began
// counts as a change too.
class screen_watch {
  public:
    screen_watch(const mapped_fb& capture, const scanout& found)
        : capture_(capture), found_(found) {}

    // False from the first check that saw a change on; no more checks then.
    bool check() {
        if (!stayed_) {
            return false;
        }
        const std::uint64_t began = monotonic_ns();
        stayed_ = still_on_screen(capture_.device_fd, found_) &&
                  (first_ || monotonic_ns() - last_began_ <= found_.frame_period_ns);
        first_ = false;
        last_began_ = began;
        return stayed_;
    }

  private:
    const mapped_fb& capture_;
    const scanout& found_;
    bool stayed_ = true;
    bool first_ = true;
    std::uint64_t last_began_ = 0;
};

bool same_geometry(const frame_copy& frame, const mapped_fb& capture) {
    return frame.width() == capture.width && frame.height() == capture.height &&
           frame.pixel_format() == capture.pixel_format;
}

struct attempt {
    mapped_fb capture;
    scanout found;
};

// Another attempt: the framebuffer on screen now, exported and mapped,
// without a word; nullopt when a step fails (what it held is released).
std::optional<attempt> capture_again(unique_fd device) {
    outcome<scanout> found = find_active_fb(device, "", failure_lines::silent);
    if (found.failed()) {
        return std::nullopt;
    }
    outcome<mapped_fb> capture =
        map_active_fb(std::move(device), found.value().fb_id, failure_lines::silent);
    if (capture.failed()) {
        return std::nullopt;
    }
    return attempt{std::move(capture.value()), found.value()};
}

}  // namespace

bool read_rows_checking(const mapped_fb& capture, const scanout& found, frame_copy& frame,
                        after_change then) {
    const std::uint32_t row_bytes = frame.pitch();
    screen_watch watch(capture, found);
    bool stayed = watch.check();  // what happened between discovery and the first row
    for (std::uint32_t y = 0; y < capture.height; ++y) {
        if (!stayed && then == after_change::stop) {
            return false;
        }
        std::memcpy(frame.row(y), capture.pixels + std::uint64_t{y} * capture.pitch, row_bytes);
        if ((y + 1) % rows_between_checks == 0 || y + 1 == capture.height) {
            stayed = watch.check();
        }
    }
    return stayed;
}

frame_view captured_frame::view() const {
    if (copy) {
        return {copy.width(), copy.height(), copy.pitch(), copy.pixel_format(), copy.pixels()};
    }
    return {capture.width, capture.height, capture.pitch, capture.pixel_format, capture.pixels};
}

void captured_frame::release() {
    release_mapped_fb(std::move(capture));
    copy = {};
}

captured_frame read_frame(mapped_fb first, const scanout& found) {
    const int saved_errno = errno;
    frame_copy frame = frame_copy::allocate(first.width, first.height, first.pixel_format);
    if (!frame) {
        errno = saved_errno;
        return {{}, std::move(first)};
    }
    std::optional<mapped_fb> capture(std::move(first));
    scanout on_screen = found;
    // Whether every row of the copy holds a read of the screen: then a read
    // that sees a change can stop there, and the next attempt starts while
    // most of a frame period is left, instead of after rows already known to
    // be in doubt. The first read of a copy, and the last attempt's, read on:
    // a later attempt that fails, or none, leaves their rows to be written.
    bool copy_filled = false;
    for (int attempts = 1;; ++attempts) {
        const after_change then =
            copy_filled && attempts < most_attempts ? after_change::stop : after_change::read_on;
        const bool whole = read_rows_checking(*capture, on_screen, frame, then);
        copy_filled = true;
        unique_fd device = release_keeping_device(std::move(*capture));
        capture.reset();
        if (whole || attempts == most_attempts) {
            break;
        }
        std::optional<attempt> next = capture_again(std::move(device));
        if (!next) {
            break;
        }
        if (!same_geometry(frame, next->capture)) {
            // One frame's memory at a time: the old copy goes first.
            frame = {};
            copy_filled = false;
            frame = frame_copy::allocate(next->capture.width, next->capture.height,
                                         next->capture.pixel_format);
            if (!frame) {
                // As without memory on the first attempt: written from this
                // attempt's mapping.
                errno = saved_errno;
                return {{}, std::move(next->capture)};
            }
        }
        capture.emplace(std::move(next->capture));
        on_screen = next->found;
    }
    errno = saved_errno;
    return {std::move(frame), {}};
}
