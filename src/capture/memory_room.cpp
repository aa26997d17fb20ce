#include "capture/memory_room.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <optional>

namespace {

constexpr std::uint64_t mib = 1024 * 1024;

// The value of one "Name:   N kB" line, in bytes.
std::optional<std::uint64_t> field_bytes(const char* text, const char* name) {
    const char* line = std::strstr(text, name);
    if (line == nullptr) {
        return std::nullopt;
    }
    char* end = nullptr;
    const std::uint64_t kib = std::strtoull(line + std::strlen(name), &end, 10);
    if (end == line + std::strlen(name)) {
        return std::nullopt;
    }
    return kib * 1024;
}

}  // namespace

bool memory_to_spare(std::uint64_t bytes) {
    // The first lines hold both fields; the file is far shorter than this.
    // A newline ahead of the text lets every field be found as "\nName:".
    char text[4096] = "\n";
    std::size_t used = 1;
    const int file = ::open("/proc/meminfo", O_RDONLY | O_CLOEXEC);
    if (file == -1) {
        return false;
    }
    for (ssize_t got;
         used < sizeof text - 1 && (got = ::read(file, text + used, sizeof text - 1 - used)) > 0;) {
        used += std::size_t(got);
    }
    ::close(file);
    text[used] = '\0';

    const std::optional<std::uint64_t> total = field_bytes(text, "\nMemTotal:");
    const std::optional<std::uint64_t> available = field_bytes(text, "\nMemAvailable:");
    if (!available) {
        return false;
    }
    // MemAvailable is what can be had without swapping, the page cache the
    // running programs are read from included. Taking nearly all of it makes
    // the kernel drop that cache and then wake the OOM killer, which picks the
    // largest process: on a kiosk the browser or the compositor. So an eighth
    // of the memory, and at least 64 MiB, must stay available beyond the copy:
    // far above the watermarks where the kernel starts reclaiming (a few
    // percent), and room for the display programs to allocate a few more
    // full-screen buffers meanwhile (a 4K frame is 33 MB). Without the copy
    // the frame is written from the mapping, as when there is no memory.
    const std::uint64_t margin = std::max(64 * mib, total.value_or(0) / 8);
    return *available >= margin && *available - margin >= bytes;
}
