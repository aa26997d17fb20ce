#include "capture/frame_copy.hpp"

#include <sys/mman.h>
#include <unistd.h>

#include "pixel_formats.hpp"

namespace {

// A fresh allocation this large is mapped on demand, one page fault per page.
// Huge pages, where the kernel gives them, spare the copy and the PNG writer
// most address translations of a large frame. The kernel then maps the pages
// in one call where it can (Linux 5.14 on), which costs a fraction of the
// faults; elsewhere a write to each page maps it. volatile, so that the
// writes are not dropped as overwritten later.
void map_every_page(std::uint8_t* bytes, std::uint64_t size) {
    const auto page = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
    const auto start = reinterpret_cast<std::uintptr_t>(bytes) / page * page;
    const auto end = (reinterpret_cast<std::uintptr_t>(bytes) + size + page - 1) / page * page;
    ::madvise(reinterpret_cast<void*>(start), end - start, MADV_HUGEPAGE);  // best effort
    if (::madvise(reinterpret_cast<void*>(start), end - start, MADV_POPULATE_WRITE) == 0) {
        return;
    }
    volatile std::uint8_t* const touched = bytes;
    for (std::uint64_t at = 0; at < size; at += page) {
        touched[at] = 0;
    }
    touched[size - 1] = 0;  // the last page, where the stride missed it
}

}  // namespace

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
    map_every_page(frame.bytes_.get(), size == 0 ? 1 : size);
    frame.width_ = width;
    frame.height_ = height;
    frame.pixel_format_ = pixel_format;
    frame.pitch_ = row_bytes;
    return frame;
}
