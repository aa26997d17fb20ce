// Who picks the row filters in the real executable: the program, from the
// second row on, with libpng's mask of one filter, where the loaded libpng is
// a release whose default choice it knows; libpng itself for any other. The
// PNG is libpng's default one either way. A preloaded probe reports another
// libpng version where asked and logs every png_set_filter call.

#include <gtest/gtest.h>
#include <png.h>

#include <set>

#include "reference_png.hpp"
#include "temp_dir.hpp"
#include "test_pictures.hpp"
#include "tool_process.hpp"

namespace {

class FilterChoice : public ::testing::Test {
  protected:
    // Runs the tool on the picture as an XRGB8888 framebuffer; version, if
    // not empty, is what libpng reports.
    tool_result run(picture_kind kind, std::uint32_t width, std::uint32_t height,
                    const std::string& version = "") {
        picture_ = make_picture(kind, width, height);
        write_file(buffer_, to_string(as_xrgb8888(picture_, width, width * 4)));
        write_file(card_, "");
        std::map<std::string, std::string> env = {{"LIBPNG_PROBE_LOG", log_}};
        if (!version.empty()) {
            env["LIBPNG_PROBE_VERSION"] = version;
        }
        std::filesystem::remove(log_);
        return run_tool({.args = {"-d", card_, "-o", shot_},
                         .env = env,
                         .cwd = dir_.path().string(),
                         .script = "crtc 31 45\nfb id=45 width=" + std::to_string(width) +
                                   " height=" + std::to_string(height) +
                                   " pitch=" + std::to_string(width * 4) +
                                   " format=XR24\nbuffer_file " + buffer_ + "\n",
                         .preloads = {LIBPNG_PROBE_PRELOAD}});
    }
    static std::string to_string(const std::vector<std::uint8_t>& bytes) {
        return {bytes.begin(), bytes.end()};
    }
    std::vector<std::string> set_filter_calls() { return lines_of(read_file(log_)); }
    void expect_libpng_default_png(std::uint32_t width, std::uint32_t height) {
        EXPECT_TRUE(read_file(shot_) == encode_with_libpng_defaults(picture_, width, height))
            << "the PNG differs from libpng's default one";
    }

    temp_dir dir_;
    std::string card_ = dir_ / "card0";
    std::string buffer_ = dir_ / "buffer";
    std::string shot_ = dir_ / "shot.png";
    std::string log_ = dir_ / "set_filter.log";
    std::vector<std::uint8_t> picture_;
};

// With the loaded libpng's own version, and with the probe answering each end
// of the known range (libpng's own code still writes the rows).
TEST_F(FilterChoice, ProgramGivesEveryRowAfterTheFirstOneFilterMask) {
    const std::set<std::string> masks = {"8", "16", "32", "64", "128"};
    for (const std::string version : {"", "10624", "10658"}) {
        const std::string release =
            version.empty() ? "libpng " + std::to_string(png_access_version_number()) : version;
        for (const picture_kind kind : every_picture_kind()) {
            const tool_result r = run(kind, 67, 35, version);
            ASSERT_EQ(r.status, 0) << name_of(kind) << ": " << r.err;
            const auto calls = set_filter_calls();
            EXPECT_EQ(calls.size(), 34u) << name_of(kind) << ", " << release;
            for (const std::string& call : calls) {
                EXPECT_EQ(masks.count(call), 1u)
                    << name_of(kind) << ": png_set_filter with " << call;
            }
            expect_libpng_default_png(67, 35);
        }
    }
}

TEST_F(FilterChoice, OneRowLeavesTheChoiceToLibpng) {
    ASSERT_EQ(run(picture_kind::desktop, 67, 1).status, 0);
    EXPECT_TRUE(set_filter_calls().empty());
    expect_libpng_default_png(67, 1);
}

TEST_F(FilterChoice, LibpngOfAnotherReleasePicksItself) {
    // 1.6.23, before libpng's choice took its present form; 1.6.59, newer
    // than any release the program's choice has been checked against; 1.7.0.
    for (const std::string version : {"10623", "10659", "10700"}) {
        for (const picture_kind kind : every_picture_kind()) {
            const tool_result r = run(kind, 67, 35, version);
            ASSERT_EQ(r.status, 0) << r.err;
            EXPECT_EQ(r.err, "");
            EXPECT_TRUE(set_filter_calls().empty()) << "libpng " << version;
            expect_libpng_default_png(67, 35);
        }
    }
    // And a release inside the range, at another size.
    ASSERT_EQ(run(picture_kind::photo, 200, 120, "10648").status, 0);
    EXPECT_EQ(set_filter_calls().size(), 119u);
    expect_libpng_default_png(200, 120);
}

}  // namespace
