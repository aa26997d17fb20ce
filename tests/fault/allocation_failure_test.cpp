// Allocations that fail in the PNG stage: libpng's write and info structures
// and the two row buffers. Each ends with status 109 and the write line, and leaves
// exactly the file state that point of the writer has produced.

#include <gtest/gtest.h>

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

    // The row being written, then the one above it.
    for (const char* allocation : {"program:1", "program:2"}) {
        const tool_result r = scene_.run(shot_, failing(allocation));
        EXPECT_EQ(r.status, 109) << allocation;
        EXPECT_EQ(r.err, "scanoutsnap: write " + shot_ + ": Cannot allocate memory\n");
        // 8 bytes of signature and the 25-byte IHDR chunk, as in the whole file.
        EXPECT_EQ(read_file(shot_), read_file(whole).substr(0, 33)) << allocation;
        EXPECT_EQ(read_file(shot_).substr(12, 4), "IHDR");
    }
}

}  // namespace
