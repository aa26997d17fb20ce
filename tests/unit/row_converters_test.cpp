#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "guarded_memory.hpp"
#include "output/row_conversion/row_converters.hpp"
#include "vector_paths.hpp"

namespace {

constexpr std::size_t margin = 16;
constexpr std::uint8_t canary = 0xA5;

// Converts the row into a buffer with canaries on both sides, checks that they
// are untouched and returns the width × 3 bytes in between.
std::vector<std::uint8_t> convert(row_converter converter, const std::uint8_t* source,
                                  std::uint32_t width) {
    std::vector<std::uint8_t> buffer(margin + std::size_t{width} * 3 + margin, canary);
    converter(source, buffer.data() + margin, width);
    for (std::size_t i = 0; i < margin; ++i) {
        EXPECT_EQ(buffer[i], canary) << "written " << margin - i << " bytes before the row";
        EXPECT_EQ(buffer[buffer.size() - margin + i], canary)
            << "written " << i + 1 << " bytes after the row";
    }
    return {buffer.begin() + margin, buffer.end() - margin};
}

std::vector<std::uint8_t> little_endian(const std::vector<std::uint32_t>& words,
                                        std::size_t word_size) {
    std::vector<std::uint8_t> bytes;
    for (const std::uint32_t word : words) {
        for (std::size_t b = 0; b < word_size; ++b) {
            bytes.push_back(std::uint8_t(word >> (8 * b)));
        }
    }
    return bytes;
}

// What each pixel must become, one at a time and without any shortcut.
std::vector<std::uint8_t> expected_from_xrgb(const std::vector<std::uint32_t>& words) {
    std::vector<std::uint8_t> rgb;
    for (const std::uint32_t word : words) {
        rgb.push_back(std::uint8_t(word >> 16));
        rgb.push_back(std::uint8_t(word >> 8));
        rgb.push_back(std::uint8_t(word));
    }
    return rgb;
}

std::vector<std::uint8_t> expected_from_rgb565(const std::vector<std::uint32_t>& words) {
    std::vector<std::uint8_t> rgb;
    for (const std::uint32_t word : words) {
        rgb.push_back(std::uint8_t((word >> 11 & 31) * 255 / 31));
        rgb.push_back(std::uint8_t((word >> 5 & 63) * 255 / 63));
        rgb.push_back(std::uint8_t((word & 31) * 255 / 31));
    }
    return rgb;
}

std::vector<std::uint32_t> random_words(std::mt19937& random, std::size_t count,
                                        std::uint32_t mask) {
    std::vector<std::uint32_t> words(count);
    for (std::uint32_t& word : words) {
        word = random() & mask;
    }
    return words;
}

struct format {
    row_converter converter;
    std::size_t word_size;
    std::uint32_t mask;
    std::vector<std::uint8_t> (*expected)(const std::vector<std::uint32_t>&);
};
const format rgb565{convert_rgb565_row, 2, 0xFFFF, expected_from_rgb565};

// XRGB8888 rows on every vector path: SSE2 and SSSE3 on x86-64.
#if defined(__x86_64__)
const vector_path xrgb8888_paths[] = {x86_vectors::sse2, x86_vectors::ssse3};
template <x86_vectors set>
void convert_xrgb8888_row_on(const std::uint8_t* source, std::uint8_t* rgb, std::uint32_t width) {
    convert_xrgb8888_row_with(set, source, rgb, width);
}
format xrgb8888_on(vector_path path) {
    return {path == x86_vectors::ssse3 ? convert_xrgb8888_row_on<x86_vectors::ssse3>
                                       : convert_xrgb8888_row_on<x86_vectors::sse2>,
            4, 0xFFFFFFFF, expected_from_xrgb};
}
#else
const vector_path xrgb8888_paths[] = {vector_path::native};
format xrgb8888_on(vector_path) {
    return {convert_xrgb8888_row, 4, 0xFFFFFFFF, expected_from_xrgb};
}
#endif

class Xrgb8888Row : public VectorPathTest {
  protected:
    const format xrgb8888 = xrgb8888_on(GetParam());
};

// Random rows of every width from 1 to 67 pixels (so every length of a vector
// loop's remainder, before and after whole steps), at every source alignment.
void check_short_rows(const format& f) {
    std::mt19937 random(20240606);
    guarded_memory memory(67 * f.word_size);
    for (std::uint32_t width = 1; width <= 67; ++width) {
        for (std::size_t alignment = 0; alignment < 16; ++alignment) {
            const auto words = random_words(random, width, f.mask);
            const std::uint8_t* row = memory.place(little_endian(words, f.word_size), alignment);
            ASSERT_EQ(convert(f.converter, row, width), f.expected(words))
                << "width " << width << ", source address " << alignment << " mod 16";
        }
    }
}

void check_long_row(const format& f) {
    std::mt19937 random(7);
    const std::uint32_t width = 3840 + 13;
    const auto words = random_words(random, width, f.mask);
    guarded_memory memory(width * f.word_size);
    const std::uint8_t* row = memory.place(little_endian(words, f.word_size), 3);
    EXPECT_EQ(convert(f.converter, row, width), f.expected(words));
}

TEST_P(Xrgb8888Row, EveryShortWidthAtEveryAlignmentDropsTheTopByte) {
    check_short_rows(xrgb8888);
}

TEST_P(Xrgb8888Row, LongRowOfRandomWords) {
    check_long_row(xrgb8888);
}

TEST_P(Xrgb8888Row, KnownPixels) {
    guarded_memory memory(64);
    const std::vector<std::uint32_t> words = {0x00FF8040, 0xFF000000, 0x80123456, 0x00FFFFFF};
    const std::uint8_t* row = memory.place(little_endian(words, 4), 0);
    EXPECT_EQ(convert(xrgb8888.converter, row, 4),
              (std::vector<std::uint8_t>{255, 128, 64, 0, 0, 0, 0x12, 0x34, 0x56, 255, 255, 255}));
}

INSTANTIATE_TEST_SUITE_P(Paths, Xrgb8888Row, ::testing::ValuesIn(xrgb8888_paths), path_name);

TEST(Rgb565Row, EveryValueInEveryVectorLaneScalesWithTruncatingDivision) {
    std::vector<std::uint32_t> words(65536);
    guarded_memory memory(words.size() * 2);
    // Shifting the row by up to 15 pixels puts each value in every lane of a
    // 16-pixel step, and in the scalar remainder.
    for (std::uint32_t shift = 0; shift < 16; ++shift) {
        for (std::uint32_t i = 0; i < words.size(); ++i) {
            words[i] = (i + shift) & 0xFFFF;
        }
        const std::uint8_t* row = memory.place(little_endian(words, 2), shift);
        ASSERT_EQ(convert(convert_rgb565_row, row, std::uint32_t(words.size())),
                  expected_from_rgb565(words))
            << "row shifted by " << shift;
    }
}

TEST(Rgb565Row, KnownPixels) {
    guarded_memory memory(64);
    const std::vector<std::uint32_t> words = {0x8410, 0x0821, 0xFFFF, 0x0000, 0xF800, 0x07E0};
    const std::uint8_t* row = memory.place(little_endian(words, 2), 1);
    EXPECT_EQ(convert(convert_rgb565_row, row, 6),
              (std::vector<std::uint8_t>{131, 129, 131, 8, 4, 8, 255, 255, 255, 0, 0, 0, 255, 0, 0,
                                         0, 255, 0}));
}

TEST(Rgb565Row, EveryShortWidthAtEveryAlignment) {
    check_short_rows(rgb565);
}

TEST(Rgb565Row, LongRowOfRandomWords) {
    check_long_row(rgb565);
}

}  // namespace
