#include "capture/dmabuf_mapping.hpp"

#include <linux/dma-buf.h>
#include <sys/ioctl.h>
#include <sys/mman.h>

#include <cerrno>
#include <cstddef>

static_assert(sizeof(std::size_t) >= sizeof(std::uint64_t),
              "mapping lengths are 64-bit; the tool is built for 64-bit systems");

namespace {

// A failed sync must not change what the run reports, so its errno is undone.
void sync_cpu_access(int dmabuf_fd, std::uint64_t flags) {
    const int saved_errno = errno;
    dma_buf_sync sync{};
    sync.flags = flags;
    ::ioctl(dmabuf_fd, DMA_BUF_IOCTL_SYNC, &sync);
    errno = saved_errno;
}

}  // namespace

dmabuf_mapping& dmabuf_mapping::operator=(dmabuf_mapping&& other) noexcept {
    if (this != &other) {
        reset();
        dmabuf_ = std::move(other.dmabuf_);
        start_ = std::exchange(other.start_, nullptr);
        length_ = std::exchange(other.length_, 0);
    }
    return *this;
}

dmabuf_mapping dmabuf_mapping::map(unique_fd dmabuf, std::uint64_t length) {
    dmabuf_mapping mapping;
    mapping.dmabuf_ = std::move(dmabuf);
    void* start = ::mmap(nullptr, length, PROT_READ, MAP_SHARED, mapping.dmabuf_.get(), 0);
    if (start == MAP_FAILED) {
        return mapping;
    }
    mapping.start_ = start;
    mapping.length_ = length;
    sync_cpu_access(mapping.dmabuf_.get(), DMA_BUF_SYNC_START | DMA_BUF_SYNC_READ);
    return mapping;
}

void dmabuf_mapping::reset() {
    if (start_ != nullptr) {
        sync_cpu_access(dmabuf_.get(), DMA_BUF_SYNC_END | DMA_BUF_SYNC_READ);
        ::munmap(std::exchange(start_, nullptr), std::exchange(length_, 0));
    }
    dmabuf_.reset();
}
