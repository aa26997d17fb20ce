#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>

#include "capture/device.hpp"
#include "capture/mapped_fb.hpp"
#include "device_setup.hpp"
#include "fake_kms.hpp"
#include "stderr_capture.hpp"
#include "temp_dir.hpp"

namespace {

using events = std::vector<std::string>;

class Mapping : public ::testing::Test {
  protected:
    void SetUp() override { write_file(card_, ""); }

    outcome<mapped_fb> map(const fake_kms::script& s) {
        fake_kms::load(s);
        stderr_capture err;
        outcome<unique_fd> device = open_drm_device(card_.c_str());
        EXPECT_FALSE(device.failed());
        outcome<mapped_fb> capture = map_active_fb(std::move(device.value()), 45);
        lines = err.text();
        return capture;
    }

    static fake_kms::script xrgb(std::uint32_t width, std::uint32_t height, std::uint32_t pitch,
                                 std::uint32_t offset = 0) {
        fake_kms::script s;
        s.fb = fake_kms::framebuffer{45, width, height, pitch, offset, 0x34325258, 0, 7};
        s.buffer.resize(std::size_t{offset} + std::size_t{height} * pitch);
        for (std::size_t i = 0; i < s.buffer.size(); ++i) {
            s.buffer[i] = std::uint8_t(i);
        }
        return s;
    }

    static bool saw(const std::string& event) {
        const events& all = fake_kms::events();
        return std::find(all.begin(), all.end(), event) != all.end();
    }

    temp_dir dir_;
    std::string card_ = dir_ / "card0";
    std::string lines;
};

TEST_F(Mapping, ExportsWithCloseOnExecAndMapsReadOnlyInsideASyncBracket) {
    outcome<mapped_fb> capture = map(xrgb(4, 3, 16));
    ASSERT_FALSE(capture.failed());
    EXPECT_EQ(lines, "");
    EXPECT_EQ(events_after_setup(fake_kms::events()),
              (events{"drmModeGetFB2(45)", "drmPrimeHandleToFD(handle=7, flags=DRM_CLOEXEC)",
                      "mmap(length=48, PROT_READ, MAP_SHARED, offset=0)",
                      "ioctl(DMA_BUF_IOCTL_SYNC, START|READ)"}));
    const mapped_fb& fb = capture.value();
    EXPECT_EQ(fb.width, 4u);
    EXPECT_EQ(fb.height, 3u);
    EXPECT_EQ(fb.pitch, 16u);
    EXPECT_EQ(fb.pixel_format, 0x34325258u);
    EXPECT_EQ(fb.pixels, fb.mapping.start());
    EXPECT_EQ(fb.pixels[47], 47);
}

TEST_F(Mapping, ImageStartsAtTheFramebufferOffset) {
    outcome<mapped_fb> capture = map(xrgb(2, 2, 8, 100));
    ASSERT_FALSE(capture.failed());
    EXPECT_TRUE(saw("mmap(length=116, PROT_READ, MAP_SHARED, offset=0)"));
    EXPECT_EQ(capture.value().pixels - capture.value().mapping.start(), 100);
    EXPECT_EQ(capture.value().pixels[0], 100);
    EXPECT_EQ(capture.value().mapping.length(), 116u);
}

TEST_F(Mapping, EmptyImageMapsNothingWhateverTheOffset) {
    fake_kms::script s = xrgb(2, 0, 8, 4096);
    EXPECT_EQ(map(s).status(), exit_status::map_failed);
    EXPECT_TRUE(saw("mmap(length=0, PROT_READ, MAP_SHARED, offset=0)"));
    EXPECT_EQ(lines, "scanoutsnap: mmap: Invalid argument\n");
}

TEST_F(Mapping, LengthIsTheFull64BitProduct) {
    fake_kms::script s = xrgb(16384, 1, 65537);
    s.fb->height = 65536;  // 65536 × 65537 bytes: more than 32 bits hold
    EXPECT_EQ(map(s).status(), exit_status::map_failed);
    EXPECT_TRUE(saw("mmap(length=4295032832, PROT_READ, MAP_SHARED, offset=0)"));
}

TEST_F(Mapping, ReleaseGoesInFixedOrderAndLeavesErrnoAlone) {
    fake_kms::script s = xrgb(4, 4, 16);
    s.sync_errno = EIO;  // a failing sync changes nothing
    errno = EXDEV;
    outcome<mapped_fb> capture = map(s);
    ASSERT_FALSE(capture.failed());
    EXPECT_EQ(errno, EXDEV);
    const std::size_t before = fake_kms::events().size();

    release_mapped_fb(std::move(capture.value()));
    EXPECT_EQ(errno, EXDEV);
    EXPECT_EQ(events(fake_kms::events().begin() + long(before), fake_kms::events().end()),
              (events{"ioctl(DMA_BUF_IOCTL_SYNC, END|READ)", "munmap(length=64)", "close(dmabuf)",
                      "drmModeFreeFB2(45)", "close(device)"}));
    EXPECT_EQ(fake_kms::live_records(), 0);
    EXPECT_FALSE(fake_kms::mapping_live());
    EXPECT_FALSE(fake_kms::dmabuf_open());
    EXPECT_FALSE(fake_kms::device_open());
}

TEST_F(Mapping, DestroyingAnUnreleasedCaptureReleasesInTheSameOrder) {
    {
        outcome<mapped_fb> capture = map(xrgb(1, 1, 4));
        ASSERT_FALSE(capture.failed());
    }
    const events& all = fake_kms::events();
    EXPECT_EQ(events(all.end() - 5, all.end()),
              (events{"ioctl(DMA_BUF_IOCTL_SYNC, END|READ)", "munmap(length=4)", "close(dmabuf)",
                      "drmModeFreeFB2(45)", "close(device)"}));
}

}  // namespace
