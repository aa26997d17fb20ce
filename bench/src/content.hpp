#pragma once

// The benchmark's pictures: generated deterministically, so that every run
// and every machine times the same pixels.

#include <cstdint>
#include <string>
#include <vector>

#include "frame_conversion.hpp"

enum class content_kind { desktop, photo, black };

std::string name_of(content_kind kind);
std::string name_of(pixel_format format);
// The fourcc the fake kernel interface's script takes.
std::string fourcc_of(pixel_format format);

struct frame {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    pixel_format format = pixel_format::xrgb8888;
    // The framebuffer's bytes, rows of width pixels with no padding.
    std::vector<std::uint8_t> source;
    // The rows of red, green and blue the capture must produce, converted by
    // convert_to_rgb from the source.
    std::vector<std::uint8_t> rgb;

    std::uint32_t pitch() const { return width * bytes_per_pixel(format); }
};

frame make_frame(content_kind kind, pixel_format format, std::uint32_t width, std::uint32_t height);
