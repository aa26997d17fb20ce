#pragma once

#include <cstdint>
#include <stdexcept>
#include <vector>

// Builds framebuffer contents: rows of little-endian words, each row padded to
// pitch bytes with a filler that must never reach an image. A pitch that cannot
// hold a row is refused, as the kernel refuses such a framebuffer; the rows are
// appended, so no write can land outside the buffer.
inline std::vector<std::uint8_t> framebuffer_bytes(const std::vector<std::uint32_t>& words,
                                                   std::uint32_t width, std::uint32_t word_size,
                                                   std::uint32_t pitch,
                                                   std::uint8_t filler = 0xA5) {
    if (width == 0 || pitch < width * word_size) {
        throw std::invalid_argument("framebuffer_bytes: the pitch cannot hold a row");
    }
    const std::uint32_t height = std::uint32_t(words.size() / width);
    std::vector<std::uint8_t> bytes;
    bytes.reserve(std::size_t{pitch} * height);
    for (std::uint32_t y = 0; y < height; ++y) {
        for (std::uint32_t x = 0; x < width; ++x) {
            const std::uint32_t word = words[std::size_t{y} * width + x];
            for (std::uint32_t b = 0; b < word_size; ++b) {
                bytes.push_back(std::uint8_t(word >> (8 * b)));
            }
        }
        bytes.insert(bytes.end(), pitch - width * word_size, filler);
    }
    return bytes;
}
