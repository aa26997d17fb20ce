#include "capture/frame_copy.hpp"

#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>

#include "capture/memory_room.hpp"
#include "pixel_formats.hpp"

namespace {

// A fresh allocation this large is mapped on demand, one page fault per page.
// Huge pages, where the kernel gives them, spare the copy and the PNG writer
// most address translations of a large frame. The kernel then maps the pages
// in one call (Linux 5.14 on), which costs a fraction of the faults; a kernel
// without that call (EINVAL) gets a write to each page. Any other failure
// (ENOMEM above all) means the pages cannot be had without pressing on
// memory: false, and the copy is given up rather than forced page by page.
// volatile, so that the writes are not dropped as overwritten later.
bool map_every_page(std::uint8_t* bytes, std::uint64_t size) {
    const auto page = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
    const auto start = reinterpret_cast<std::uintptr_t>(bytes) / page * page;
    const auto end = (reinterpret_cast<std::uintptr_t>(bytes) + size + page - 1) / page * page;
    ::madvise(reinterpret_cast<void*>(start), end - start, MADV_HUGEPAGE);  // best effort
    if (::madvise(reinterpret_cast<void*>(start), end - start, MADV_POPULATE_WRITE) == 0) {
        return true;
    }
    if (errno != EINVAL) {
        return false;
    }
    volatile std::uint8_t* const touched = bytes;
    for (std::uint64_t at = 0; at < size; at += page) {
        touched[at] = 0;
    }
    touched[size - 1] = 0;  // the last page, where the stride missed it
    return true;
}

}  // namespace

frame_copy frame_copy::allocate(std::uint32_t width, std::uint32_t height,
                                std::uint32_t pixel_format) {
    // A framebuffer's pitch holds its visible bytes in 32 bits, so this does too.
    const std::uint32_t row_bytes = width * find_captured_format(pixel_format)->bytes_per_pixel;
    const std::uint64_t size = std::uint64_t{row_bytes} * height;
    const std::uint64_t allocated = size == 0 ? 1 : size;
    frame_copy frame;
    if (!memory_to_spare(allocated)) {
        return frame;
    }
    frame.bytes_.reset(static_cast<std::uint8_t*>(std::malloc(allocated)));
    if (!frame.bytes_ || !map_every_page(frame.bytes_.get(), allocated)) {
        frame.bytes_.reset();
        return frame;
    }
    frame.width_ = width;
    frame.height_ = height;
    frame.pixel_format_ = pixel_format;
    frame.pitch_ = row_bytes;
    return frame;
}
