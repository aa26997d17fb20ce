// Allocations that fail: the frame's copy, which the run does without, and
// those of the PNG stage, libpng's write and info structures and the two row
// buffers. Each of the latter ends with status 109 and the write line, and
// leaves exactly the file state that point of the writer has produced.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "fault_run.hpp"

namespace {

std::map<std::string, std::string> failing(const std::string& allocation) {
    return {{"SCANOUTSNAP_FAIL_MALLOC", allocation}};
}

class AllocationFailure : public ::testing::Test {
  protected:
    fault_scene scene_{3, 2};
    temp_dir out_;
    std::string shot_ = out_ / "shot.png";
};

TEST_F(AllocationFailure, WithoutAFailureThePreloadedRunSucceeds) {
    const tool_result r = scene_.run(shot_);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_GT(std::filesystem::file_size(shot_), 33u);
}

TEST_F(AllocationFailure, WithoutMemoryForTheFrameItIsWrittenFromTheMappingUnchecked) {
    const std::string whole = out_ / "whole.png";
    ASSERT_EQ(scene_.run(whole).status, 0);

    const tool_result r = scene_.run(shot_, failing("program:1"));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(read_file(shot_), read_file(whole));
    // One attempt, no checks: the mapping is read while the PNG is written.
    const auto sync =
        std::find(r.events.begin(), r.events.end(), "ioctl(DMA_BUF_IOCTL_SYNC, START|READ)");
    ASSERT_NE(sync, r.events.end());
    EXPECT_EQ(*(sync + 1), "ioctl(DMA_BUF_IOCTL_SYNC, END|READ)");
    EXPECT_EQ(std::count(r.events.begin(), r.events.end(), "drmModeGetFB2(45)"), 1);
}

TEST_F(AllocationFailure, WriteStructureLeavesAnEmptyFile) {
    const tool_result r = scene_.run(shot_, failing("libpng:1"));
    EXPECT_EQ(r.status, 109);
    EXPECT_EQ(r.err,
              "libpng warning: Out of memory\n"
              "scanoutsnap: write " +
                  shot_ + ": Cannot allocate memory\n");
    ASSERT_TRUE(std::filesystem::exists(shot_));
    EXPECT_EQ(std::filesystem::file_size(shot_), 0u);
}

TEST_F(AllocationFailure, InfoStructureLeavesAnEmptyFile) {
    const tool_result r = scene_.run(shot_, failing("libpng:2"));
    EXPECT_EQ(r.status, 109);
    EXPECT_EQ(r.err, "scanoutsnap: write " + shot_ + ": Cannot allocate memory\n");
    ASSERT_TRUE(std::filesystem::exists(shot_));
    EXPECT_EQ(std::filesystem::file_size(shot_), 0u);
}

TEST_F(AllocationFailure, EitherRowBufferLeavesTheSignatureAndHeader) {
    const std::string whole = out_ / "whole.png";
    ASSERT_EQ(scene_.run(whole).status, 0);

    // The row being written, then the one above it (the frame's copy is first).
    for (const char* allocation : {"program:2", "program:3"}) {
        const tool_result r = scene_.run(shot_, failing(allocation));
        EXPECT_EQ(r.status, 109) << allocation;
        EXPECT_EQ(r.err, "scanoutsnap: write " + shot_ + ": Cannot allocate memory\n");
        // 8 bytes of signature and the 25-byte IHDR chunk, as in the whole file.
        EXPECT_EQ(read_file(shot_), read_file(whole).substr(0, 33)) << allocation;
        EXPECT_EQ(read_file(shot_).substr(12, 4), "IHDR");
    }
}

}  // namespace
