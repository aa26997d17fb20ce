#include "capture/frame_copy.hpp"

#include <unistd.h>

#include "pixel_formats.hpp"

frame_copy frame_copy::allocate(std::uint32_t width, std::uint32_t height,
                                std::uint32_t pixel_format) {
    // A framebuffer's pitch holds its visible bytes in 32 bits, so this does too.
    const std::uint32_t row_bytes = width * find_captured_format(pixel_format)->bytes_per_pixel;
    const std::uint64_t size = std::uint64_t{row_bytes} * height;
    frame_copy frame;
    frame.bytes_.reset(static_cast<std::uint8_t*>(std::malloc(size == 0 ? 1 : size)));
    if (!frame.bytes_) {
        return frame;
    }
    // A fresh allocation this large is mapped on demand; a write to each page
    // maps it now. volatile, so that the writes are not dropped as
    // overwritten later.
    volatile std::uint8_t* const bytes = frame.bytes_.get();
    const std::uint64_t page = static_cast<std::uint64_t>(::sysconf(_SC_PAGESIZE));
    for (std::uint64_t at = 0; at < size; at += page) {
        bytes[at] = 0;
    }
    bytes[size == 0 ? 0 : size - 1] = 0;  // the last page, where the stride missed it
    frame.width_ = width;
    frame.height_ = height;
    frame.pixel_format_ = pixel_format;
    frame.pitch_ = row_bytes;
    return frame;
}
