#include <gtest/gtest.h>

#include "capture/device.hpp"
#include "capture/discovery.hpp"
#include "device_setup.hpp"
#include "fake_kms.hpp"
#include "stderr_capture.hpp"
#include "temp_dir.hpp"

namespace {

using events = std::vector<std::string>;

class Discovery : public ::testing::Test {
  protected:
    void SetUp() override { write_file(card_, ""); }

    // The id find_active_fb returns, with where it was found in last_found,
    // or 0 with its status in last_status.
    std::uint32_t discover(const fake_kms::script& s) {
        fake_kms::load(s);
        stderr_capture err;
        outcome<unique_fd> device = open_drm_device(card_.c_str());
        EXPECT_FALSE(device.failed());
        outcome<scanout> found = find_active_fb(device.value(), card_.c_str());
        lines = err.text();
        EXPECT_EQ(fake_kms::live_records(), 0) << "every record is freed before discovery ends";
        if (found.failed()) {
            last_status = found.status();
            return 0;
        }
        last_found = found.value();
        return found.value().fb_id;
    }

    // The events after the device's opening.
    static events scan_events() { return events_after_setup(fake_kms::events()); }

    temp_dir dir_;
    std::string card_ = dir_ / "card0";
    std::string lines;
    exit_status last_status = exit_status::success;
    scanout last_found;
};

TEST_F(Discovery, FirstLitCrtcWinsAndPlanesAreNotAsked) {
    fake_kms::script s;
    s.crtcs = {{31, 0}, {32, 45}, {33, 46}};
    s.planes = {{40, 31, 47}};
    EXPECT_EQ(discover(s), 45u);
    EXPECT_EQ(last_found.place, scanout_place::crtc);
    EXPECT_EQ(last_found.place_id, 32u);
    EXPECT_EQ(scan_events(),
              (events{"drmModeGetResources", "drmModeGetCrtc(31)", "drmModeFreeCrtc(31)",
                      "drmModeGetCrtc(32)", "drmModeFreeCrtc(32)", "drmModeFreeResources",
                      "close(device)"}));
    EXPECT_EQ(lines, "");
}

TEST_F(Discovery, UnreadableCrtcIsSkipped) {
    fake_kms::script s;
    s.crtcs = {{31, 0, false}, {32, 45}};
    EXPECT_EQ(discover(s), 45u);
}

TEST_F(Discovery, PlaneFallbackWhenEveryCrtcIsIdle) {
    fake_kms::script s;
    s.crtcs = {{31, 0}, {32, 0, false}};
    s.planes = {{40, 31, 0}, {41, 0, 50}, {42, 0, 0, false}, {43, 32, 51}, {44, 31, 52}};
    EXPECT_EQ(discover(s), 51u) << "a plane needs both a CRTC and a framebuffer";
    EXPECT_EQ(last_found.place, scanout_place::plane);
    EXPECT_EQ(last_found.place_id, 43u);
    const events tail(fake_kms::events().end() - 3, fake_kms::events().end());
    EXPECT_EQ(tail, (events{"drmModeFreePlaneResources", "drmModeFreeResources", "close(device)"}));
}

TEST_F(Discovery, NoCrtcsAtAllGoesStraightToThePlanes) {
    fake_kms::script s;
    s.planes = {{40, 31, 60}};
    EXPECT_EQ(discover(s), 60u);
    EXPECT_EQ(scan_events(),
              (events{"drmModeGetResources", "drmModeGetPlaneResources", "drmModeGetPlane(40)",
                      "drmModeFreePlane(40)", "drmModeFreePlaneResources", "drmModeFreeResources",
                      "close(device)"}));
}

TEST_F(Discovery, NothingOnScreenIsStatus103WithRecordsFreedBeforeTheLine) {
    fake_kms::script idle;
    idle.crtcs = {{31, 0}};
    idle.planes = {{40, 0, 45}};
    fake_kms::script no_planes;
    no_planes.crtcs = {{31, 0}};
    fake_kms::script unreadable_planes = no_planes;
    unreadable_planes.plane_resources_errno = EACCES;

    for (const fake_kms::script& s : {idle, no_planes, unreadable_planes}) {
        EXPECT_EQ(discover(s), 0u);
        EXPECT_EQ(last_status, exit_status::no_active_framebuffer);
        EXPECT_EQ(lines, "scanoutsnap: no active framebuffer found on " + card_ +
                             " (no CRTC/plane with fb)\n");
        const events tail(fake_kms::events().end() - 2, fake_kms::events().end());
        EXPECT_EQ(tail, (events{"drmModeFreeResources", "close(device)"}));
    }
}

}  // namespace
