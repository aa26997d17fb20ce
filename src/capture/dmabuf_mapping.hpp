#pragma once

#include <cstdint>
#include <utility>

// Sole owner of a read-only shared mapping of an exported dma-buf. While it
// exists the CPU is announced to the exporter as a reader, so that caches are
// made coherent before the pixels are read; the announcement is best effort.
class dmabuf_mapping {
  public:
    dmabuf_mapping() = default;
    dmabuf_mapping(const dmabuf_mapping&) = delete;
    dmabuf_mapping& operator=(const dmabuf_mapping&) = delete;
    dmabuf_mapping(dmabuf_mapping&& other) noexcept
        : start_(std::exchange(other.start_, nullptr)),
          length_(std::exchange(other.length_, 0)),
          dmabuf_fd_(std::exchange(other.dmabuf_fd_, -1)) {}
    dmabuf_mapping& operator=(dmabuf_mapping&& other) noexcept;
    ~dmabuf_mapping() { reset(); }

    // Maps length bytes from offset 0. On failure the result is empty and
    // errno is mmap's.
    static dmabuf_mapping map(int dmabuf_fd, std::uint64_t length);

    explicit operator bool() const { return start_ != nullptr; }
    const std::uint8_t* start() const { return static_cast<const std::uint8_t*>(start_); }
    std::uint64_t length() const { return length_; }

    // Ends the CPU access and unmaps. errno changes no more than munmap changes it.
    void reset();

  private:
    dmabuf_mapping(void* start, std::uint64_t length, int dmabuf_fd)
        : start_(start), length_(length), dmabuf_fd_(dmabuf_fd) {}

    void* start_ = nullptr;
    std::uint64_t length_ = 0;
    int dmabuf_fd_ = -1;  // not owned: needed only to end the CPU access
};
