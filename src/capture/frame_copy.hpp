#pragma once

#include <cstdint>
#include <cstdlib>
#include <memory>

// A frame read out of a mapping: the visible bytes of each row, the rows one
// after another without padding, in the framebuffer's own pixel format.
// Move-only: one owner at a time.
class frame_copy {
  public:
    frame_copy() = default;

    // Room for a frame of that size and format, every page of it mapped, so
    // that no page fault falls into the read. Empty when the system has no
    // memory to spare for it (see memory_to_spare), or its pages cannot be
    // had; errno may change.
    static frame_copy allocate(std::uint32_t width, std::uint32_t height,
                               std::uint32_t pixel_format);

    explicit operator bool() const { return bytes_ != nullptr; }
    std::uint32_t width() const { return width_; }
    std::uint32_t height() const { return height_; }
    std::uint32_t pixel_format() const { return pixel_format_; }
    std::uint32_t pitch() const { return pitch_; }  // bytes from one row to the next
    const std::uint8_t* pixels() const { return bytes_.get(); }
    std::uint8_t* row(std::uint32_t y) { return bytes_.get() + std::uint64_t{y} * pitch_; }

  private:
    struct free_bytes {
        void operator()(std::uint8_t* bytes) const { std::free(bytes); }
    };

    std::unique_ptr<std::uint8_t[], free_bytes> bytes_;
    std::uint32_t width_ = 0;
    std::uint32_t height_ = 0;
    std::uint32_t pixel_format_ = 0;
    std::uint32_t pitch_ = 0;
};
