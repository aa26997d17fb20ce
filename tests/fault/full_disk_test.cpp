// A disk that fills up in the middle of the image: a small tmpfs of its own,
// mounted for the test (root only).

#include <gtest/gtest.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "fault_run.hpp"

namespace {

class FullDisk : public ::testing::Test {
  protected:
    void SetUp() override {
        if (::geteuid() != 0) {
            GTEST_SKIP() << "mounting a tmpfs needs root";
        }
        std::filesystem::create_directory(mount_point_);
        ASSERT_EQ(::mount("tmpfs", mount_point_.c_str(), "tmpfs", 0, "size=16k,mode=0755"), 0)
            << std::strerror(errno);
        mounted_ = true;
    }
    void TearDown() override {
        if (mounted_) {
            ::umount2(mount_point_.c_str(), MNT_DETACH);
        }
    }

    fault_scene scene_{128, 128};  // about 48 KiB of PNG, three times the disk
    temp_dir dir_;
    std::string mount_point_ = dir_ / "small";
    bool mounted_ = false;
};

TEST_F(FullDisk, WriteErrorInTheImageIs109AfterLibpngsErrorAndKeepsThePartWritten) {
    const std::string whole = dir_ / "whole.png";
    ASSERT_EQ(scene_.run(whole).status, 0);
    const std::string complete = read_file(whole);
    ASSERT_GT(complete.size(), 3 * 16384u);

    const std::string shot = mount_point_ + "/shot.png";
    const tool_result r = scene_.run(shot);
    EXPECT_EQ(r.status, 109);
    EXPECT_EQ(r.err,
              "libpng error: Write Error\n"
              "scanoutsnap: write " +
                  shot + ": No space left on device\n");
    const std::string part = read_file(shot);
    EXPECT_GT(part.size(), 33u) << "rows were written before the disk was full";
    EXPECT_LT(part.size(), complete.size());
    EXPECT_EQ(part, complete.substr(0, part.size())) << "the part written is the image's start";
}

}  // namespace
