#include "capture/frame_read.hpp"

#include <cerrno>
#include <cstring>

namespace {

// Well under a frame period even on a slow board, and few enough checks to
// cost nothing beside the copy.
constexpr std::uint32_t rows_between_checks = 64;
constexpr int most_attempts = 5;

bool same_geometry(const frame_copy& frame, const mapped_fb& capture) {
    return frame.width() == capture.width && frame.height() == capture.height &&
           frame.pixel_format() == capture.pixel_format;
}

}  // namespace

bool read_rows_checking(const mapped_fb& capture, const scanout& found, frame_copy& frame) {
    const std::uint32_t row_bytes = frame.pitch();
    bool stayed = true;
    for (std::uint32_t y = 0; y < capture.height; ++y) {
        std::memcpy(frame.row(y), capture.pixels + std::uint64_t{y} * capture.pitch, row_bytes);
        if ((y + 1) % rows_between_checks == 0 || y + 1 == capture.height) {
            stayed = stayed && still_on_screen(capture.device_fd, found);
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

captured_frame read_frame(mapped_fb capture, const scanout& found) {
    const int saved_errno = errno;
    frame_copy frame = frame_copy::allocate(capture.width, capture.height, capture.pixel_format);
    if (!frame) {
        errno = saved_errno;
        return {{}, std::move(capture)};
    }
    scanout on_screen = found;
    for (int attempt = 1;; ++attempt) {
        const bool whole = read_rows_checking(capture, on_screen, frame);
        unique_fd device = release_keeping_device(std::move(capture));
        if (whole || attempt == most_attempts) {
            break;
        }
        outcome<scanout> again = find_active_fb(device, "", failure_lines::silent);
        if (again.failed()) {
            break;
        }
        outcome<mapped_fb> next =
            map_active_fb(std::move(device), again.value().fb_id, failure_lines::silent);
        if (next.failed()) {
            break;
        }
        if (!same_geometry(frame, next.value())) {
            frame_copy other = frame_copy::allocate(next.value().width, next.value().height,
                                                    next.value().pixel_format);
            if (!other) {
                break;
            }
            frame = std::move(other);
        }
        capture = std::move(next.value());
        on_screen = again.value();
    }
    errno = saved_errno;
    return {std::move(frame), {}};
}
