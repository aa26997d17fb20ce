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
        start_ = std::exchange(other.start_, nullptr);
        length_ = std::exchange(other.length_, 0);
        dmabuf_fd_ = std::exchange(other.dmabuf_fd_, -1);
    }
    return *this;
}

dmabuf_mapping dmabuf_mapping::map(int dmabuf_fd, std::uint64_t length) {
    void* start = ::mmap(nullptr, length, PROT_READ, MAP_SHARED, dmabuf_fd, 0);
    if (start == MAP_FAILED) {
        return {};
    }
    sync_cpu_access(dmabuf_fd, DMA_BUF_SYNC_START | DMA_BUF_SYNC_READ);
    return {start, length, dmabuf_fd};
}

void dmabuf_mapping::reset() {
    if (start_ == nullptr) {
        return;
    }
    sync_cpu_access(dmabuf_fd_, DMA_BUF_SYNC_END | DMA_BUF_SYNC_READ);
    ::munmap(std::exchange(start_, nullptr), std::exchange(length_, 0));
    dmabuf_fd_ = -1;
}
