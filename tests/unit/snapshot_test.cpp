#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>

#include "capture/device.hpp"
#include "capture/frame_read.hpp"
#include "command_line.hpp"
#include "decoded_png.hpp"
#include "fake_kms.hpp"
#include "output/snapshot.hpp"
#include "pixels.hpp"
#include "recorded_privileges.hpp"
#include "stderr_capture.hpp"
#include "temp_dir.hpp"

namespace {

using rgb = std::vector<std::uint8_t>;

class Snapshot : public ::testing::Test {
  protected:
    void SetUp() override {
        write_file(card_, "");
        ::unsetenv("SUDO_UID");
        ::unsetenv("SUDO_GID");
        recorded_privileges::requests.clear();
        recorded_privileges::failure_errno = 0;
    }
    void TearDown() override {
        ::unsetenv("SUDO_UID");
        ::unsetenv("SUDO_GID");
        out_filename = "screenshot.png";
    }

    // Captures a 2 × 1 framebuffer from the fake and writes it to output.
    exit_status snapshot(std::uint32_t format, const std::vector<std::uint32_t>& words,
                         const std::string& output) {
        const std::uint32_t word_size = format == 0x36314752 ? 2 : 4;
        fake_kms::script s;
        s.crtcs = {{31, 45}};
        s.fb = fake_kms::framebuffer{45, 2, 1, 2 * word_size, 0, format, 0, 1};
        s.buffer = framebuffer_bytes(words, 2, word_size, 2 * word_size);
        fake_kms::load(s);
        out_filename = output.c_str();

        stderr_capture err;
        outcome<unique_fd> device = open_drm_device(card_.c_str());
        outcome<mapped_fb> capture = map_active_fb(std::move(device.value()), 45);
        EXPECT_FALSE(capture.failed());
        const exit_status status =
            write_snapshot(read_frame(std::move(capture.value()), {45, scanout_place::crtc, 31}));
        lines = err.text();
        EXPECT_EQ(fake_kms::live_records(), 0);
        EXPECT_FALSE(fake_kms::device_open());
        EXPECT_FALSE(fake_kms::mapping_live());
        return status;
    }

    temp_dir dir_;
    std::string card_ = dir_ / "card0";
    std::string shot_ = dir_ / "shot.png";
    std::string lines;
};

TEST_F(Snapshot, WriterFollowsThePixelFormat) {
    EXPECT_EQ(snapshot(0x36314752, {0x8410, 0x0821}, shot_), exit_status::success);
    EXPECT_EQ(read_png(shot_)->rgb, (rgb{131, 129, 131, 8, 4, 8}));
    EXPECT_EQ(snapshot(0x34325241, {0x80FF8040, 0x00000001}, shot_), exit_status::success);
    EXPECT_EQ(read_png(shot_)->rgb, (rgb{255, 128, 64, 0, 0, 1}));
    EXPECT_EQ(lines, "");
}

TEST_F(Snapshot, FailedWriteIsReportedAfterTheReleaseWithTheOpenError) {
    const std::string path = dir_ / "missing/shot.png";
    EXPECT_EQ(snapshot(0x34325258, {0, 0}, path), exit_status::write_failed);
    EXPECT_EQ(lines, "scanoutsnap: write " + path + ": No such file or directory\n");
}

TEST_F(Snapshot, FullDiskSeenOnlyAtTheFlushIsStatus109) {
    EXPECT_EQ(snapshot(0x34325258, {0, 0}, "/dev/full"), exit_status::write_failed);
    EXPECT_EQ(lines, "scanoutsnap: write /dev/full: No space left on device\n");
}

class SudoCaller : public Snapshot {
  protected:
    void SetUp() override {
        Snapshot::SetUp();
        if (::geteuid() != 0) {
            GTEST_SKIP() << "the identity switch is decided only for root";
        }
    }
};

TEST_F(SudoCaller, RootBecomesTheCallerAfterTheCaptureBeforeWriting) {
    ::setenv("SUDO_UID", "65534", 1);
    ::setenv("SUDO_GID", " +65533junk", 1);
    EXPECT_EQ(snapshot(0x34325258, {0, 0}, shot_), exit_status::success);
    EXPECT_EQ(recorded_privileges::requests,
              (std::vector<std::pair<std::uint32_t, std::uint32_t>>{{65534, 65533}}));
    // Every attempt at the capture, its checks included, ran as root, and the
    // caller holds nothing that root opened.
    const std::vector<std::string>& all = fake_kms::events();
    EXPECT_EQ(
        std::vector<std::string>(all.end() - 3, all.end()),
        (std::vector<std::string>{"drmModeFreeFB2(45)", "close(device)", "become 65534:65533"}));
}

TEST_F(SudoCaller, NoSwitchForRootUnsetOrMissingIds) {
    const std::vector<std::pair<const char*, const char*>> cases = {{"0", "100"},
                                                                    {"-1", "100"},
                                                                    {"4294967296", "100"},
                                                                    {"root", "100"},
                                                                    {"18446744073709551616", "0"},
                                                                    {"100", nullptr},
                                                                    {nullptr, "100"}};
    for (const auto& [uid, gid] : cases) {
        ::unsetenv("SUDO_UID");
        ::unsetenv("SUDO_GID");
        if (uid != nullptr)
            ::setenv("SUDO_UID", uid, 1);
        if (gid != nullptr)
            ::setenv("SUDO_GID", gid, 1);
        EXPECT_EQ(snapshot(0x34325258, {0, 0}, shot_), exit_status::success);
        EXPECT_TRUE(recorded_privileges::requests.empty()) << (uid ? uid : "(none)");
    }
}

TEST_F(SudoCaller, FailedSwitchReleasesReportsAndWritesNothing) {
    ::setenv("SUDO_UID", "65534", 1);
    ::setenv("SUDO_GID", "-1", 1);
    recorded_privileges::failure_errno = EPERM;
    EXPECT_EQ(snapshot(0x34325258, {0, 0}, shot_), exit_status::write_failed);
    EXPECT_EQ(lines, "scanoutsnap: drop privileges to 65534:4294967295: Operation not permitted\n");
    EXPECT_FALSE(std::filesystem::exists(shot_));
}

}  // namespace
