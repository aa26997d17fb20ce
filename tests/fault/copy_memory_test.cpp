// The frame's copy gives way to the memory the rest of the system needs: it
// is made only while MemAvailable leaves room beyond it, and given up rather
// than forced page by page when its pages cannot be had. Without it the frame
// is written from the mapping: the same picture, one attempt, unchecked.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>

#include "decoded_png.hpp"
#include "fault_run.hpp"

namespace {

// Whether the frame was read into a copy: its checks ask the CRTC right after
// the CPU access begins, where a frame written from the mapping has nothing.
bool copied(const tool_result& r) {
    const auto start =
        std::find(r.events.begin(), r.events.end(), "ioctl(DMA_BUF_IOCTL_SYNC, START|READ)");
    return start != r.events.end() && start + 1 != r.events.end() &&
           *(start + 1) == "drmModeGetCrtc(31)";
}

class FrameCopyMemory : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_EQ(scene_.run(whole_).status, 0); }

    // A run with more of the fake's script; the PNG must be the whole frame.
    tool_result run(const std::string& script_lines) {
        const tool_result r = scene_.run(shot_, {}, {}, script_lines);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(read_file(shot_), read_file(whole_));
        return r;
    }

    fault_scene scene_{3, 2};  // a 24-byte copy
    temp_dir out_;
    std::string whole_ = out_ / "whole.png";
    std::string shot_ = out_ / "shot.png";
};

TEST_F(FrameCopyMemory, MadeOnlyWhileAnEighthOfTheMemoryAndAtLeast64MiBStayAvailable) {
    struct memory_case {
        const char* meminfo;  // total and available, in kB
        bool copy;
    };
    const memory_case cases[] = {
        {"meminfo 524288 65537\n", true},  // 512 MiB: 64 MiB must stay, and 1 kB is left over
        {"meminfo 524288 65536\n", false},
        {"meminfo 4194304 524289\n", true},  // 4 GiB: 512 MiB must stay
        {"meminfo 4194304 524288\n", false},
        {"meminfo 262144 65537\n", true},  // 256 MiB: still 64 MiB
        {"meminfo 262144 65536\n", false},
        {"meminfo 262144 0\n", false},
    };
    for (const memory_case& c : cases) {
        SCOPED_TRACE(c.meminfo);
        EXPECT_EQ(copied(run(c.meminfo)), c.copy);
    }
}

TEST_F(FrameCopyMemory, PopulationRefusedGivesUpTheCopyUnlessTheKernelLacksTheCall) {
    EXPECT_FALSE(copied(run("populate_error 12\n")));  // ENOMEM
    EXPECT_FALSE(copied(run("populate_error 14\n")));  // EFAULT
    // EINVAL: a kernel before 5.14, whose pages a write to each maps.
    EXPECT_TRUE(copied(run("populate_error 22\n")));
}

// For want of memory, the copy is given up without a page of it touched:
// the run's peak resident memory stays below the frame's size plus the
// mapping's, which a copy whose pages were forced and the mapping reach
// together. 32 MiB of frame in a memfd, which the fake maps as it is.
TEST(FrameCopyPeak, PopulationFailingForWantOfMemoryTouchesNoPageOfTheCopy) {
    constexpr std::uint32_t width = 4096;
    constexpr std::uint32_t height = 2048;
    constexpr std::uint64_t frame_bytes = std::uint64_t{width} * height * 4;
    auto word = [](std::uint32_t x, std::uint32_t y) { return x | y << 12; };

    // Inherited by the tool, above the standard streams, which the child
    // replaces (with standard input closed the memfd could be descriptor 0).
    const int created = ::memfd_create("frame", 0);
    const int buffer = ::fcntl(created, F_DUPFD, 3);
    ::close(created);
    ASSERT_NE(buffer, -1);
    std::vector<std::uint32_t> row(width);
    for (std::uint32_t y = 0; y < height; ++y) {
        for (std::uint32_t x = 0; x < width; ++x) {
            row[x] = word(x, y);
        }
        ASSERT_EQ(::pwrite(buffer, row.data(), width * 4, off_t{y} * width * 4), width * 4);
    }
    const temp_dir dir;
    write_file(dir / "card0", "");
    const std::string shot = dir / "shot.png";
    const tool_result r =
        run_tool({.args = {"-d", dir / "card0", "-o", shot},
                  .cwd = dir.path().string(),
                  .script = "crtc 31 45\nfb id=45 width=4096 height=2048 pitch=16384 format=XR24\n"
                            "buffer_fd " +
                            std::to_string(buffer) + "\npopulate_error 12\n"});
    ::close(buffer);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_LT(std::uint64_t(r.peak_rss_kib) * 1024, 2 * frame_bytes)
        << "peak " << r.peak_rss_kib << " KiB";

    const std::optional<decoded_png> image = read_png(shot);
    ASSERT_TRUE(image);
    ASSERT_EQ(image->rgb.size(), std::size_t{width} * height * 3);
    std::size_t wrong = 0;
    for (std::uint32_t y = 0; y < height; ++y) {
        for (std::uint32_t x = 0; x < width; ++x) {
            const std::uint32_t w = word(x, y);
            const std::uint8_t* p = &image->rgb[(std::size_t{y} * width + x) * 3];
            wrong += p[0] != std::uint8_t(w >> 16) || p[1] != std::uint8_t(w >> 8) ||
                     p[2] != std::uint8_t(w);
        }
    }
    EXPECT_EQ(wrong, 0u);
}

}  // namespace
