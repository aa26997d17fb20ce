#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <filesystem>

#include "decoded_png.hpp"
#include "output/png_writers.hpp"
#include "pixels.hpp"
#include "stderr_capture.hpp"
#include "temp_dir.hpp"

namespace {

using rgb = std::vector<std::uint8_t>;

class PngWriter : public ::testing::Test {
  protected:
    using writer = int (*)(const char*, std::uint32_t, std::uint32_t, std::uint32_t,
                           const std::uint8_t*);

    // Writes the words as rows of width pixels, padded to pitch, and decodes the file.
    std::optional<decoded_png> write(writer write_png, std::uint32_t word_size,
                                     const std::vector<std::uint32_t>& words, std::uint32_t width,
                                     std::uint32_t pitch) {
        const auto bytes = framebuffer_bytes(words, width, word_size, pitch);
        const auto height = std::uint32_t(words.size() / width);
        EXPECT_EQ(write_png(path_.c_str(), width, height, pitch, bytes.data()), 0);
        return read_png(path_);
    }
    std::optional<decoded_png> write_xrgb(const std::vector<std::uint32_t>& words,
                                          std::uint32_t width, std::uint32_t pitch) {
        return write(write_png_rgb24_xrgb, 4, words, width, pitch);
    }
    std::optional<decoded_png> write_rgb565(const std::vector<std::uint32_t>& words,
                                            std::uint32_t width, std::uint32_t pitch) {
        return write(write_png_rgb24_rgb565, 2, words, width, pitch);
    }

    temp_dir dir_;
    std::string path_ = dir_ / "shot.png";
};

TEST_F(PngWriter, Xrgb8888BecomesRedGreenBlue) {
    const auto image = write_xrgb({0x00FF8040, 0xFF000000, 0x00123456, 0x00FFFFFF}, 2, 8);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->pixel(0, 0), (rgb{255, 128, 64}));
    EXPECT_EQ(image->pixel(1, 0), (rgb{0, 0, 0}));
    EXPECT_EQ(image->pixel(0, 1), (rgb{0x12, 0x34, 0x56}));
    EXPECT_EQ(image->pixel(1, 1), (rgb{255, 255, 255}));
}

TEST_F(PngWriter, Argb8888DropsAlpha) {
    const auto image = write_xrgb({0x80FF0000, 0x0000FF00, 0xFF0000FF}, 3, 12);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->rgb, (rgb{255, 0, 0, 0, 255, 0, 0, 0, 255}));
}

TEST_F(PngWriter, Rgb565ScalesEachChannelWithTruncatingDivision) {
    const auto image =
        write_rgb565({0x0000, 0xFFFF, 0xF800, 0x07E0, 0x001F, 0x8410, 0x0821}, 7, 14);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->rgb, (rgb{0, 0, 0, 255, 255, 255, 255, 0, 0, 0, 255,
                               0, 0, 0, 255, 131, 129, 131, 8, 4, 8}));
}

TEST_F(PngWriter, Rgb565EveryChannelValueMatchesTheFormula) {
    // Red and blue run through 0..31, green through 0..63, across 64 pixels.
    std::vector<std::uint32_t> words;
    for (std::uint32_t i = 0; i < 64; ++i) {
        words.push_back((i % 32) << 11 | i << 5 | (31 - i % 32));
    }
    const auto image = write_rgb565(words, 64, 128);
    ASSERT_TRUE(image);
    for (std::uint32_t i = 0; i < 64; ++i) {
        EXPECT_EQ(image->pixel(i, 0),
                  (rgb{std::uint8_t(i % 32 * 255 / 31), std::uint8_t(i * 255 / 63),
                       std::uint8_t((31 - i % 32) * 255 / 31)}))
            << "pixel " << i;
    }
}

TEST_F(PngWriter, PitchPaddingNeverReachesTheImage) {
    // Three rows of 5 pixels, each row padded to 7 words with 0xA5 filler.
    std::vector<std::uint32_t> words;
    for (std::uint32_t i = 0; i < 15; ++i) {
        words.push_back(i * 0x00010203);
    }
    const auto image = write_xrgb(words, 5, 28);
    ASSERT_TRUE(image);
    ASSERT_EQ(image->width, 5u);
    ASSERT_EQ(image->height, 3u);
    for (std::uint32_t i = 0; i < 15; ++i) {
        EXPECT_EQ(image->pixel(i % 5, i / 5),
                  (rgb{std::uint8_t(i), std::uint8_t(2 * i), std::uint8_t(3 * i)}));
    }
    const auto image565 = write_rgb565({0x8410, 0x0821, 0xF800, 0x001F}, 2, 6);
    ASSERT_TRUE(image565);
    EXPECT_EQ(image565->rgb, (rgb{131, 129, 131, 8, 4, 8, 255, 0, 0, 0, 0, 255}));
}

TEST_F(PngWriter, HeaderIsEightBitRgbNotInterlacedWithoutAncillaryChunks) {
    const auto image = write_xrgb(std::vector<std::uint32_t>(6, 0x00102030), 3, 12);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->width, 3u);
    EXPECT_EQ(image->height, 2u);
    EXPECT_EQ(image->bit_depth, 8);
    EXPECT_EQ(image->color_type, 2);
    EXPECT_EQ(image->interlace, 0);
    EXPECT_EQ(image->ancillary_chunks, 0);
}

TEST_F(PngWriter, ZeroWidthIsRefusedByLibpngAndLeavesAnEmptyFile) {
    const std::uint8_t pixel[4] = {};
    stderr_capture err;
    EXPECT_EQ(write_png_rgb24_xrgb(path_.c_str(), 0, 1, 4, pixel), -1);
    EXPECT_EQ(err.text(),
              "libpng warning: Image width is zero in IHDR\n"
              "libpng error: Invalid IHDR data\n");
    EXPECT_EQ(std::filesystem::file_size(path_), 0u);
}

TEST_F(PngWriter, WidthAboveOneMillionIsRefused) {
    const std::uint8_t pixel[4] = {};
    stderr_capture err;
    EXPECT_EQ(write_png_rgb24_rgb565(path_.c_str(), 1000001, 1, 2000002, pixel), -1);
    EXPECT_NE(err.text().find("libpng error: Invalid IHDR data"), std::string::npos);
}

TEST_F(PngWriter, MissingDirectoryFailsWithItsErrorAndCreatesNothing) {
    const std::uint8_t pixel[4] = {};
    const std::string path = dir_ / "missing/shot.png";
    EXPECT_EQ(write_png_rgb24_xrgb(path.c_str(), 1, 1, 4, pixel), -1);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_FALSE(std::filesystem::exists(dir_ / "missing"));
}

TEST_F(PngWriter, ExistingFileIsOverwrittenInPlace) {
    write_file(path_, std::string(100000, 'x'));
    ::chmod(path_.c_str(), 0640);
    struct stat before {};
    ::stat(path_.c_str(), &before);
    const auto image = write_xrgb({0x00FF8040}, 1, 4);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->rgb, (rgb{255, 128, 64}));
    struct stat after {};
    ::stat(path_.c_str(), &after);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(after.st_mode & 07777, 0640u);
    EXPECT_LT(after.st_size, 1000);
}

TEST_F(PngWriter, ErrorThatOnlyShowsWhenFlushedIsAFailure) {
    // The whole 4 × 4 image fits in the stream's buffer, so only the flush sees the full disk.
    const auto bytes = framebuffer_bytes(std::vector<std::uint32_t>(16, 0x00FF0000), 4, 4, 16);
    errno = 0;
    EXPECT_EQ(write_png_rgb24_xrgb("/dev/full", 4, 4, 16, bytes.data()), -1);
    EXPECT_EQ(errno, ENOSPC);
}

}  // namespace
