// mmap, munmap, close and ioctl: the exported buffer's and the device's are
// answered and recorded here; every other descriptor goes to the C library.
// These may run before the C library has set up the environment (a
// sanitizer's start-up maps memory), so they never load the script.

#include <dlfcn.h>
#include <linux/dma-buf.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "fake_kms_state.hpp"

using fake_kms::state;

namespace {

template <typename Function>
Function* next_definition(const char* name) {
    void* symbol = ::dlsym(RTLD_NEXT, name);
    if (symbol == nullptr) {
        std::fprintf(stderr, "fake-kms: no next definition of %s\n", name);
        std::abort();
    }
    return reinterpret_cast<Function*>(symbol);
}

std::size_t page_size() {
    return std::size_t(::sysconf(_SC_PAGESIZE));
}

std::size_t round_up_to_page(std::size_t length) {
    return (length + page_size() - 1) / page_size() * page_size();
}

std::string describe(int prot, int flags) {
    std::string text = prot == PROT_READ ? "PROT_READ" : "prot=" + std::to_string(prot);
    text += (flags & MAP_TYPE) == MAP_SHARED ? ", MAP_SHARED" : ", flags=" + std::to_string(flags);
    return text;
}

// Maps the buffer followed by an inaccessible page. A dma-buf refuses a length
// beyond its size (EINVAL), and so does this.
void* map_dmabuf(state& st, void* address, std::size_t length, int prot, int flags, int fd,
                 off_t offset) {
    st.log("mmap(length=" + std::to_string(length) + ", " + describe(prot, flags) +
           ", offset=" + std::to_string(offset) + ")");
    struct stat info {};
    ::fstat(fd, &info);
    if (length == 0 || address != nullptr || offset != 0 || length > std::size_t(info.st_size)) {
        errno = EINVAL;
        return MAP_FAILED;
    }
    static auto* real_mmap = next_definition<void*(void*, size_t, int, int, int, off_t)>("mmap");
    const std::size_t pages = round_up_to_page(length);
    const std::size_t reserved = pages + page_size();
    void* start = real_mmap(nullptr, reserved, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (start == MAP_FAILED ||
        real_mmap(start, pages, prot, flags | MAP_FIXED, fd, 0) == MAP_FAILED) {
        std::perror("fake-kms: mmap");
        std::abort();
    }
    st.mapping = {start, length, reserved};
    return start;
}

}  // namespace

extern "C" {

void* mmap(void* address, size_t length, int prot, int flags, int fd, off_t offset) noexcept {
    state& st = fake_kms::the_state();
    if (fd != -1 && fd == st.dmabuf_fd) {
        return map_dmabuf(st, address, length, prot, flags, fd, offset);
    }
    static auto* real_mmap = next_definition<void*(void*, size_t, int, int, int, off_t)>("mmap");
    return real_mmap(address, length, prot, flags, fd, offset);
}

int munmap(void* address, size_t length) noexcept {
    state& st = fake_kms::the_state();
    static auto* real_munmap = next_definition<int(void*, size_t)>("munmap");
    if (address != nullptr && address == st.mapping.start) {
        st.log("munmap(length=" + std::to_string(length) + ")");
        if (length != st.mapping.length) {
            std::fprintf(stderr, "fake-kms: munmap of %zu bytes of a %zu-byte mapping\n", length,
                         st.mapping.length);
            std::abort();
        }
        const std::size_t reserved = st.mapping.reserved;
        st.mapping = {};
        return real_munmap(address, reserved);
    }
    return real_munmap(address, length);
}

int close(int fd) {
    state& st = fake_kms::the_state();
    if (fd != -1 && fd == st.dmabuf_fd) {
        st.log("close(dmabuf)");
        st.dmabuf_fd = -1;
    } else if (fd != -1 && fd == st.device_fd) {
        st.log("close(device)");
        st.device_fd = -1;
    }
    static auto* real_close = next_definition<int(int)>("close");
    return real_close(fd);
}

int ioctl(int fd, unsigned long request, ...) noexcept {
    std::va_list args;
    va_start(args, request);
    void* argument = va_arg(args, void*);
    va_end(args);

    state& st = fake_kms::the_state();
    if (fd != -1 && fd == st.dmabuf_fd && request == DMA_BUF_IOCTL_SYNC) {
        const auto* sync = static_cast<const dma_buf_sync*>(argument);
        std::string event = "ioctl(DMA_BUF_IOCTL_SYNC, ";
        event += (sync->flags & DMA_BUF_SYNC_END) != 0 ? "END" : "START";
        event += (sync->flags & DMA_BUF_SYNC_RW) == DMA_BUF_SYNC_READ ? "|READ)" : "|?)";
        st.log(event);
        if (st.s.sync_errno != 0) {
            errno = st.s.sync_errno;
            return -1;
        }
        return 0;
    }
    static auto* real_ioctl = next_definition<int(int, unsigned long, void*)>("ioctl");
    return real_ioctl(fd, request, argument);
}

}  // extern "C"
