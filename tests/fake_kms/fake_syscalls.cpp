// mmap, munmap, close and ioctl: the exported buffer's and the device's are
// answered and recorded here; every other descriptor goes to the C library.
// open and fstat present the device node's stand-in and watch opens for
// reading and writing; madvise, clock_gettime and /proc/meminfo answer as
// the script says. These may run before the C library has set up the
// environment (a sanitizer's start-up maps memory), so they never load the
// script, except to log a wrong open or to answer /proc/meminfo, which only
// the program itself does.

#include <dlfcn.h>
#include <fcntl.h>
#include <linux/dma-buf.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
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

constexpr unsigned int drm_major = 226;

auto* real_clock_gettime() {
    static auto* real = next_definition<int(clockid_t, struct timespec*)>("clock_gettime");
    return real;
}

// The DRM minor an empty regular file named cardN or renderDN stands for.
std::optional<unsigned int> stand_in_minor(mode_t mode, off_t size, const char* path) {
    if (!S_ISREG(mode) || size != 0) {
        return std::nullopt;
    }
    const char* slash = std::strrchr(path, '/');
    const char* name = slash != nullptr ? slash + 1 : path;
    for (const char* prefix : {"card", "renderD"}) {
        const std::size_t length = std::strlen(prefix);
        const char* digits = name + length;
        if (std::strncmp(name, prefix, length) == 0 && *digits != '\0' &&
            std::strspn(digits, "0123456789") == std::strlen(digits)) {
            return static_cast<unsigned int>(std::strtoul(digits, nullptr, 10));
        }
    }
    return std::nullopt;
}

// fstat's answer for a descriptor of a stand-in: a character device.
template <typename Stat>
void present_stand_in(int fd, Stat& file) {
    if (!S_ISREG(file.st_mode) || file.st_size != 0) {
        return;
    }
    char own_name[32];
    char path[PATH_MAX];
    std::snprintf(own_name, sizeof own_name, "/proc/self/fd/%d", fd);
    const int saved_errno = errno;
    const ssize_t length = ::readlink(own_name, path, sizeof path - 1);
    errno = saved_errno;
    if (length <= 0) {
        return;
    }
    path[length] = '\0';
    if (const std::optional<unsigned int> minor =
            stand_in_minor(file.st_mode, file.st_size, path)) {
        file.st_mode = S_IFCHR | (file.st_mode & 07777);
        file.st_rdev = makedev(drm_major, *minor);
    }
}

std::string open_flags(int flags) {
    std::string text = "O_RDWR";
    text += (flags & O_NOCTTY) != 0 ? "|O_NOCTTY" : "";
    text += (flags & O_CLOEXEC) != 0 ? "|O_CLOEXEC" : "";
    return text;
}

// An open for reading and writing is logged unless it opens a DRM device
// (or its stand-in) with O_NOCTTY and O_CLOEXEC. Asked before the open,
// so that an attempt that fails is seen too.
void watch_read_write_open(int directory, const char* path, int flags) {
    if ((flags & O_ACCMODE) != O_RDWR || path == nullptr) {
        return;
    }
    const int saved_errno = errno;
    struct stat file {};
    char resolved[PATH_MAX];
    const bool found = ::fstatat(directory, path, &file, 0) == 0;
    const char* name = ::realpath(path, resolved) != nullptr ? resolved : path;
    errno = saved_errno;
    if (!found) {
        return;  // nothing there to open
    }
    const bool drm = (S_ISCHR(file.st_mode) && ::major(file.st_rdev) == drm_major) ||
                     stand_in_minor(file.st_mode, file.st_size, name);
    if (!drm || (flags & (O_NOCTTY | O_CLOEXEC)) != (O_NOCTTY | O_CLOEXEC)) {
        fake_kms::ensure_loaded().log("open(" + std::string(path) + ", " + open_flags(flags) + ")");
    }
}

// /proc/meminfo as scripted, or -1 to read the real one.
int scripted_meminfo() {
    if (environ == nullptr) {
        return -1;
    }
    state& st = fake_kms::ensure_loaded();
    if (st.s.memory.empty()) {
        return -1;
    }
    const fake_kms::meminfo& m = st.s.memory[std::min(st.meminfo_reads++, st.s.memory.size() - 1)];
    const std::string text = "MemTotal:       " + std::to_string(m.total_kb) +
                             " kB\nMemFree:        " + std::to_string(m.available_kb) +
                             " kB\nMemAvailable:   " + std::to_string(m.available_kb) + " kB\n";
    const int fd = ::memfd_create("fake-meminfo", MFD_CLOEXEC);
    if (fd == -1 || ::write(fd, text.data(), text.size()) != ssize_t(text.size()) ||
        ::lseek(fd, 0, SEEK_SET) != 0) {
        std::perror("fake-kms: meminfo");
        std::abort();
    }
    return fd;
}

using open_function = int(int, const char*, int, mode_t);

int checked_open(int directory, const char* path, int flags, mode_t mode) {
    if (path != nullptr && std::strcmp(path, "/proc/meminfo") == 0) {
        if (const int fd = scripted_meminfo(); fd != -1) {
            return fd;
        }
    }
    watch_read_write_open(directory, path, flags);
    static auto* real_openat = next_definition<open_function>("openat");
    return real_openat(directory, path, flags, mode);
}

mode_t mode_argument(int flags, std::va_list args) {
    return (flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE ? mode_t(va_arg(args, int))
                                                                      : 0;
}

}  // namespace

std::uint64_t fake_kms::real_monotonic_ns() {
    timespec now{};
    real_clock_gettime()(CLOCK_MONOTONIC, &now);
    return std::uint64_t(now.tv_sec) * 1'000'000'000 + std::uint64_t(now.tv_nsec);
}

extern "C" {

int open(const char* path, int flags, ...) {
    std::va_list args;
    va_start(args, flags);
    const mode_t mode = mode_argument(flags, args);
    va_end(args);
    return checked_open(AT_FDCWD, path, flags, mode);
}

int open64(const char* path, int flags, ...) {
    std::va_list args;
    va_start(args, flags);
    const mode_t mode = mode_argument(flags, args);
    va_end(args);
    return checked_open(AT_FDCWD, path, flags, mode);
}

int openat(int directory, const char* path, int flags, ...) {
    std::va_list args;
    va_start(args, flags);
    const mode_t mode = mode_argument(flags, args);
    va_end(args);
    return checked_open(directory, path, flags, mode);
}

int openat64(int directory, const char* path, int flags, ...) {
    std::va_list args;
    va_start(args, flags);
    const mode_t mode = mode_argument(flags, args);
    va_end(args);
    return checked_open(directory, path, flags, mode);
}

int fstat(int fd, struct stat* file) noexcept {
    static auto* real_fstat = next_definition<int(int, struct stat*)>("fstat");
    const int result = real_fstat(fd, file);
    if (result == 0) {
        present_stand_in(fd, *file);
    }
    return result;
}

int fstat64(int fd, struct stat64* file) noexcept {
    static auto* real_fstat64 = next_definition<int(int, struct stat64*)>("fstat64");
    const int result = real_fstat64(fd, file);
    if (result == 0) {
        present_stand_in(fd, *file);
    }
    return result;
}

int madvise(void* address, size_t length, int advice) noexcept {
    const state& st = fake_kms::the_state();
    if (advice == MADV_POPULATE_WRITE && st.loaded && st.s.populate_errno != 0) {
        errno = st.s.populate_errno;
        return -1;
    }
    static auto* real_madvise = next_definition<int(void*, size_t, int)>("madvise");
    return real_madvise(address, length, advice);
}

// The fake's clock, standing still but for the scripted reads.
int clock_gettime(clockid_t clock, struct timespec* now) noexcept {
    const state& st = fake_kms::the_state();
    if (clock == CLOCK_MONOTONIC && st.loaded) {
        now->tv_sec = time_t(st.clock_ns / 1'000'000'000);
        now->tv_nsec = long(st.clock_ns % 1'000'000'000);
        return 0;
    }
    return real_clock_gettime()(clock, now);
}

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
