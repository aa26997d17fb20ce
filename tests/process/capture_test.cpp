// Successful runs of the real executable: the file it writes, where it
// writes it, and what it prints (nothing).

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "decoded_png.hpp"
#include "device_setup.hpp"
#include "pixels.hpp"
#include "temp_dir.hpp"
#include "tool_process.hpp"

namespace {

using rgb = std::vector<std::uint8_t>;
using lines = std::vector<std::string>;

class Capture : public ::testing::Test {
  protected:
    void SetUp() override { write_file(card_, ""); }

    // A lit CRTC showing a framebuffer of the given words and geometry.
    std::string script(const char* format, const std::vector<std::uint32_t>& words,
                       std::uint32_t width, std::uint32_t pitch, std::uint32_t offset = 0) {
        const std::uint32_t word_size = std::string(format) == "RG16" ? 2 : 4;
        const auto bytes = framebuffer_bytes(words, width, word_size, pitch);
        write_file(buffer_, std::string(offset, '\x5a') + std::string(bytes.begin(), bytes.end()));
        return "crtc 30 0\ncrtc 31 45\nfb id=45 width=" + std::to_string(width) +
               " height=" + std::to_string(words.size() / width) +
               " pitch=" + std::to_string(pitch) + " offset=" + std::to_string(offset) +
               " format=" + format + "\nbuffer_file " + buffer_ + "\n";
    }

    tool_result run(const std::string& s, std::vector<std::string> args = {}) {
        args.insert(args.begin(), {"-d", card_});
        tool_result r = run_tool({.args = args, .cwd = cwd_.path().string(), .script = s});
        EXPECT_EQ(r.out, "");
        return r;
    }

    temp_dir dir_;
    temp_dir cwd_;
    std::string card_ = dir_ / "card0";
    std::string buffer_ = dir_ / "buffer";
};

TEST_F(Capture, DefaultRunWritesScreenshotPngInTheWorkingDirectorySilently) {
    const tool_result r = run(
        script("XR24", {0x00FF8040, 0x00000000, 0x00FFFFFF, 0x00010203}, 2, 8), {"--screenshot"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    const auto image = read_png(cwd_ / "screenshot.png");
    ASSERT_TRUE(image);
    EXPECT_EQ(image->rgb, (rgb{255, 128, 64, 0, 0, 0, 255, 255, 255, 1, 2, 3}));
    lines expected = device_setup_events();
    expected.insert(
        expected.end(),
        {"drmModeGetResources", "drmModeGetCrtc(30)", "drmModeFreeCrtc(30)", "drmModeGetCrtc(31)",
         "drmModeFreeCrtc(31)", "drmModeFreeResources", "drmModeGetFB2(45)",
         "drmPrimeHandleToFD(handle=1, flags=DRM_CLOEXEC)",
         "mmap(length=16, PROT_READ, MAP_SHARED, offset=0)",
         "ioctl(DMA_BUF_IOCTL_SYNC, START|READ)", "drmModeGetCrtc(31)", "drmModeFreeCrtc(31)",
         "drmModeGetCrtc(31)", "drmModeFreeCrtc(31)", "ioctl(DMA_BUF_IOCTL_SYNC, END|READ)",
         "munmap(length=16)", "close(dmabuf)", "drmModeFreeFB2(45)", "close(device)"});
    EXPECT_EQ(r.events, expected);
}

// A compositor must be able to take the display while a capture runs: root
// gives up the DRM master the kernel may have made it, before anything else;
// another user keeps it, since it may need it for the buffer handles.
TEST_F(Capture, RootGivesUpDrmMasterAtOnceAnotherUserKeepsIt) {
    const std::string s = script("XR24", {0x00102030}, 1, 4);
    const tool_result own = run(s);
    EXPECT_EQ(own.status, 0);
    ASSERT_FALSE(own.events.empty());
    EXPECT_EQ(own.events.front() == "drmDropMaster", ::geteuid() == 0);
    if (::geteuid() != 0) {
        return;
    }
    for (const std::string& path : {dir_.path().string(), card_, buffer_}) {
        ::chmod(path.c_str(), path == card_ ? 0666 : 0755);  // for user 65534
    }
    ::chmod(cwd_.path().c_str(), 0777);
    const tool_result other = run_tool(
        {.args = {"-d", card_, "-o", "other.png"},
         .cwd = cwd_.path().string(),
         .script = s,
         .wrapper = {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"},
         .as_another_user = true});
    EXPECT_EQ(other.status, 0) << other.err;
    EXPECT_EQ(std::count(other.events.begin(), other.events.end(), "drmDropMaster"), 0);
    EXPECT_EQ(other.events.at(0), "drmGetCap(DRM_CAP_PRIME)");
}

TEST_F(Capture, OutputOptionNamesTheFileAndAnEmptyLastOneMeansTheDefault) {
    const std::string s = script("AR24", {0x80FF0000}, 1, 4);
    EXPECT_EQ(run(s, {"-o", "a.png", "--output=b.png"}).status, 0);
    EXPECT_TRUE(std::filesystem::exists(cwd_ / "b.png"));
    EXPECT_FALSE(std::filesystem::exists(cwd_ / "a.png"));

    EXPECT_EQ(run(s, {"-o", "c.png", "-o", ""}).status, 0);
    EXPECT_TRUE(std::filesystem::exists(cwd_ / "screenshot.png"));
    EXPECT_FALSE(std::filesystem::exists(cwd_ / "c.png"));
    EXPECT_EQ(read_png(cwd_ / "screenshot.png")->rgb, (rgb{255, 0, 0}));
}

TEST_F(Capture, ComplaintsAboutOptionsDoNotStopTheRun) {
    const tool_result r = run(script("XR24", {0x00102030}, 1, 4), {"-x", "-o", "x.png", "-o"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, std::string(SCANOUTSNAP_EXECUTABLE) + ": invalid option -- 'x'\n" +
                         SCANOUTSNAP_EXECUTABLE + ": option requires an argument -- 'o'\n");
    EXPECT_TRUE(std::filesystem::exists(cwd_ / "x.png"));
}

TEST_F(Capture, Rgb565AtAnOffsetWithPaddedRows) {
    const tool_result r =
        run(script("RG16", {0x8410, 0x0821, 0xF800, 0x07E0, 0x001F, 0xFFFF}, 3, 10, 32));
    EXPECT_EQ(r.status, 0);
    const auto image = read_png(cwd_ / "screenshot.png");
    ASSERT_TRUE(image);
    EXPECT_EQ(image->rgb,
              (rgb{131, 129, 131, 8, 4, 8, 255, 0, 0, 0, 255, 0, 0, 0, 255, 255, 255, 255}));
}

TEST_F(Capture, PlaneFallbackCapturesTheAttachedPlane) {
    write_file(buffer_, std::string("\x40\x80\xFF\x00", 4));
    const tool_result r =
        run("crtc 31 0\nplane 40 0 44\nplane 41 31 46\n"
            "fb id=46 width=1 height=1 pitch=4 format=XR24\nbuffer_file " +
            buffer_ + "\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(read_png(cwd_ / "screenshot.png")->rgb, (rgb{255, 128, 64}));
}

TEST_F(Capture, FullDiskAtTheLastFlushIs109NotSuccess) {
    const tool_result r =
        run(script("XR24", std::vector<std::uint32_t>(16, 0x00FF0000), 4, 16), {"-o", "/dev/full"});
    EXPECT_EQ(r.status, 109);
    EXPECT_EQ(r.err, "scanoutsnap: write /dev/full: No space left on device\n");
}

}  // namespace
