// The writer's PNGs are byte for byte what the loaded libpng writes at its
// defaults from the same pixels, whether the program picks the row filters or
// libpng does: every test picture in every size class, and random small
// images.

#include <gtest/gtest.h>
#include <png.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "output/png_writers.hpp"
#include "reference_png.hpp"
#include "temp_dir.hpp"
#include "test_pictures.hpp"

namespace {

using bytes = std::vector<std::uint8_t>;

// Under qemu-user every instruction is emulated: at 3840x2160 only the
// desktop and the photo.
constexpr bool emulated = sizeof SCANOUTSNAP_EMULATOR > 1;

constexpr row_filter_picker both_pickers[] = {row_filter_picker::program,
                                              row_filter_picker::libpng};

const char* name_of(row_filter_picker picker) {
    return picker == row_filter_picker::program ? "program" : "libpng";
}

enum class source_format { xrgb8888, rgb565 };

class PngIdentity : public ::testing::Test {
  protected:
    // Writes the pixels from a framebuffer of the format (rows padded by
    // padding bytes) with each picker, and compares each file with libpng's.
    // The pixels are those an RGB565 framebuffer gives back, for that format.
    void expect_identical(const bytes& picture, std::uint32_t width, std::uint32_t height,
                          source_format format, std::uint32_t padding, const std::string& what) {
        bytes rgb = picture;
        bytes source;
        row_converter convert = convert_xrgb8888_row;
        if (format == source_format::xrgb8888) {
            source = as_xrgb8888(rgb, width, width * 4 + padding);
        } else {
            rgb565_frame frame = as_rgb565(rgb, width, width * 2 + padding);
            source = std::move(frame.source);
            rgb = std::move(frame.rgb);
            convert = convert_rgb565_row;
        }
        const std::string expected = encode_with_libpng_defaults(rgb, width, height);
        ASSERT_FALSE(expected.empty());
        const std::uint32_t pitch = std::uint32_t(source.size() / height);
        for (const row_filter_picker picker : both_pickers) {
            ASSERT_EQ(write_png_rgb24(path_.c_str(), width, height, pitch, source.data(), convert,
                                      picker),
                      0);
            const std::string written = read_file(path_);
            // Only the first difference: a whole file would flood the log.
            std::size_t at = 0;
            while (at < written.size() && at < expected.size() && written[at] == expected[at]) {
                ++at;
            }
            ASSERT_TRUE(at == written.size() && at == expected.size())
                << what << " " << width << "x" << height
                << (format == source_format::rgb565 ? " RGB565" : " XRGB8888")
                << ", filters picked by " << name_of(picker) << ": " << written.size()
                << " bytes against libpng " << png_get_libpng_ver(nullptr) << "'s "
                << expected.size() << ", first difference at " << at;
        }
    }
    void expect_identical(picture_kind kind, std::uint32_t width, std::uint32_t height,
                          source_format format = source_format::xrgb8888) {
        expect_identical(make_picture(kind, width, height), width, height, format, 0,
                         name_of(kind));
    }

    temp_dir dir_;
    std::string path_ = dir_ / "shot.png";
};

// One pixel, one column, one row (one row has only libpng's own choice), and
// every width from 2 to 67 pixels: every length of the chooser's byte loop
// after its vector blocks, in both formats and with padded rows.
TEST_F(PngIdentity, EverySmallSizeClassOfEveryPicture) {
    for (const picture_kind kind : every_picture_kind()) {
        expect_identical(kind, 1, 1);
        expect_identical(kind, 1, 67);
        expect_identical(kind, 1, 40, source_format::rgb565);
        expect_identical(kind, 67, 1);
        expect_identical(kind, 1920, 1);
        for (std::uint32_t width = 2; width <= 67; ++width) {
            const auto format = width % 2 == 0 ? source_format::xrgb8888 : source_format::rgb565;
            expect_identical(make_picture(kind, width, 9), width, 9, format, width % 3 * 4,
                             name_of(kind));
        }
    }
}

TEST_F(PngIdentity, FullHdOfEveryPicture) {
    for (const picture_kind kind : every_picture_kind()) {
        expect_identical(kind, 1920, 1080);
    }
    expect_identical(picture_kind::desktop, 1920, 1080, source_format::rgb565);
    expect_identical(picture_kind::photo, 1920, 1080, source_format::rgb565);
}

TEST_F(PngIdentity, Uhd4kOfEveryPicture) {
    for (const picture_kind kind : every_picture_kind()) {
        if (!emulated || kind == picture_kind::desktop || kind == picture_kind::photo) {
            expect_identical(kind, 3840, 2160);
        }
    }
}

// Random sizes up to 67 × 24 with pixels that repeat from the left or from
// above, or take a few values, or any: many equal sums, in both formats.
TEST_F(PngIdentity, RandomSmallImagesFromFixedSeeds) {
    for (std::uint32_t seed = 1; seed <= 400; ++seed) {
        std::mt19937 random(seed);
        const std::uint32_t width = 1 + random() % 67;
        const std::uint32_t height = 1 + random() % 24;
        const unsigned range = std::vector<unsigned>{2, 4, 16, 256}[random() % 4];
        const unsigned repeats = random() % 4;  // of 4: how often a pixel is its neighbour
        bytes rgb(std::size_t{width} * height * 3);
        for (std::size_t i = 0; i < rgb.size(); ++i) {
            const std::size_t above = i >= width * 3u ? i - width * 3u : i;
            const std::size_t left = i >= 3 ? i - 3 : i;
            const unsigned roll = random() % 8;
            rgb[i] = roll < repeats       ? rgb[left]
                     : roll < 2 * repeats ? rgb[above]
                                          : std::uint8_t(random() % range);
        }
        const auto format = seed % 3 == 0 ? source_format::rgb565 : source_format::xrgb8888;
        expect_identical(rgb, width, height, format, seed % 2 * 4, "seed " + std::to_string(seed));
        if (HasFatalFailure()) {
            return;
        }
    }
}

// The known range is 1.6.24 to 1.6.58, both ends included: Debian 12's 1.6.39
// and Debian 13's 1.6.48 inside it.
TEST(RowFilterPicker, TheProgramPicksOnlyForLibpngReleasesWithAKnownChoice) {
    for (const std::uint32_t known : {10624u, 10639u, 10648u, 10658u}) {
        EXPECT_EQ(row_filter_picker_for(known), row_filter_picker::program) << known;
    }
    EXPECT_EQ(row_filter_picker_for(10623), row_filter_picker::libpng);
    EXPECT_EQ(row_filter_picker_for(10659), row_filter_picker::libpng);
    EXPECT_EQ(row_filter_picker_for(10700), row_filter_picker::libpng);
    EXPECT_EQ(row_filter_picker_for(10244), row_filter_picker::libpng);
    EXPECT_EQ(row_filter_picker_for(0), row_filter_picker::libpng);
    // The identity tests above prove the program's choice against the loaded
    // libpng, which must then be one the program picks for.
    EXPECT_EQ(row_filter_picker_for(png_access_version_number()), row_filter_picker::program)
        << "libpng " << png_access_version_number();
}

}  // namespace
