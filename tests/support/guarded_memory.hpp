#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <vector>

// Bytes placed right before an inaccessible page, so that code reading past
// their end faults; the start may be moved to any alignment.
class guarded_memory {
  public:
    explicit guarded_memory(std::size_t capacity) {
        const std::size_t page = std::size_t(::sysconf(_SC_PAGESIZE));
        data_pages_ = (capacity + 64 + page - 1) / page * page;
        length_ = data_pages_ + page;
        void* start =
            ::mmap(nullptr, length_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (start == MAP_FAILED ||
            ::mprotect(static_cast<std::uint8_t*>(start) + data_pages_, page, PROT_NONE) != 0) {
            throw std::runtime_error("cannot map a guarded buffer");
        }
        start_ = static_cast<std::uint8_t*>(start);
    }
    ~guarded_memory() { ::munmap(start_, length_); }
    guarded_memory(const guarded_memory&) = delete;
    guarded_memory& operator=(const guarded_memory&) = delete;

    // Copies the bytes to the highest address with the given alignment modulo
    // 16 that still fits before the guard page (the very end, for one of them).
    const std::uint8_t* place(const std::uint8_t* bytes, std::size_t size, std::size_t alignment) {
        const auto end = reinterpret_cast<std::uintptr_t>(start_ + data_pages_);
        std::uintptr_t at = (end - size) / 16 * 16 + alignment;
        if (at + size > end) {
            at -= 16;
        }
        auto* placed = reinterpret_cast<std::uint8_t*>(at);
        std::memcpy(placed, bytes, size);
        return placed;
    }
    const std::uint8_t* place(const std::vector<std::uint8_t>& bytes, std::size_t alignment) {
        return place(bytes.data(), bytes.size(), alignment);
    }

  private:
    std::uint8_t* start_ = nullptr;
    std::size_t data_pages_ = 0;
    std::size_t length_ = 0;
};
