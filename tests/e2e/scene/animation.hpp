#pragma once

// The end-to-end suite's animation, shared by the scene helper, which draws
// it, and the checker, which tells its frames apart.

#include <cstdint>

// Row y of frame k, one XRGB8888 word for the whole row: red and green are
// k's low and high byte, so every row says which frame it belongs to and two
// frames fewer than 65536 apart differ in every pixel; blue is the row's own
// number (its low byte). The X byte changes with k; a capture drops it.
// One word a row keeps the drawing quick under emulation.
inline std::uint32_t animation_word(std::uint32_t k, std::uint32_t y) {
    return (k * 7 & 0xFF) << 24 | (k & 0xFF) << 16 | (k >> 8 & 0xFF) << 8 | (y & 0xFF);
}

// The frame whose pixels have that red and green.
inline std::uint32_t animation_frame_of(std::uint32_t red, std::uint32_t green) {
    return green << 8 | red;
}
