#pragma once

#include <cstdint>
#include <utility>

#include "capture/unique_fd.hpp"

// Sole owner of an exported dma-buf's descriptor and of a read-only shared
// mapping of it. While the mapping exists the CPU is announced to the
// exporter as a reader, so that caches are made coherent before the pixels
// are read; the announcement is best effort. Owning the descriptor, it can
// end the announcement only on the descriptor it was made on, whatever order
// its owners are given back in.
class dmabuf_mapping {
  public:
    dmabuf_mapping() = default;
    dmabuf_mapping(const dmabuf_mapping&) = delete;
    dmabuf_mapping& operator=(const dmabuf_mapping&) = delete;
    dmabuf_mapping(dmabuf_mapping&& other) noexcept
        : dmabuf_(std::move(other.dmabuf_)),
          start_(std::exchange(other.start_, nullptr)),
          length_(std::exchange(other.length_, 0)) {}
    dmabuf_mapping& operator=(dmabuf_mapping&& other) noexcept;
    ~dmabuf_mapping() { reset(); }

    // Takes the descriptor and maps length bytes from offset 0. On failure
    // nothing is mapped (the result is false), errno is mmap's, and the
    // descriptor is still held, to be closed with the result.
    static dmabuf_mapping map(unique_fd dmabuf, std::uint64_t length);

    explicit operator bool() const { return start_ != nullptr; }
    const std::uint8_t* start() const { return static_cast<const std::uint8_t*>(start_); }
    std::uint64_t length() const { return length_; }

    // Ends the CPU access, unmaps and closes the descriptor, in that order.
    // errno changes no more than munmap and close change it.
    void reset();

  private:
    unique_fd dmabuf_;
    void* start_ = nullptr;
    std::uint64_t length_ = 0;
};
