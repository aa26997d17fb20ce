#include "capture/discovery.hpp"

#include <xf86drmMode.h>

#include <array>
#include <cerrno>
#include <cstring>

#include "capture/drm_records.hpp"

namespace {

struct crtc_reading {
    std::uint32_t crtc_id = 0;
    std::uint32_t fb_id = 0;
    std::uint64_t frame_period_ns = slowest_frame_period_ns;
};

// A CRTC that cannot be read counts as showing nothing, and so does its
// mode. The kernel reports a mode's refresh rate rounded up, so the period
// taken from it is at most the real one.
crtc_reading read_crtc(int device, std::uint32_t crtc_id) {
    const crtc_record crtc(drmModeGetCrtc(device, crtc_id));
    crtc_reading reading{crtc_id};
    if (crtc) {
        reading.fb_id = crtc->buffer_id;
        if (crtc->mode_valid != 0 && crtc->mode.vrefresh != 0) {
            reading.frame_period_ns = 1'000'000'000 / crtc->mode.vrefresh;
        }
    }
    return reading;
}

// The CRTCs as the scan read them, for the period of a plane found on one.
// The kernel has at most 32 CRTCs (their set is a 32-bit mask).
struct crtc_scan {
    std::array<crtc_reading, 32> readings;
    std::uint32_t count = 0;

    std::uint64_t frame_period_of(std::uint32_t crtc_id) const {
        for (std::uint32_t i = 0; i < count; ++i) {
            if (readings[i].crtc_id == crtc_id) {
                return readings[i].frame_period_ns;
            }
        }
        return slowest_frame_period_ns;
    }
};

scanout first_crtc_framebuffer(int device, const drmModeRes& resources, crtc_scan& scan) {
    for (int i = 0; i < resources.count_crtcs; ++i) {
        const crtc_reading reading = read_crtc(device, resources.crtcs[i]);
        if (reading.fb_id != 0) {
            return {reading.fb_id, scanout_place::crtc, reading.crtc_id, reading.frame_period_ns};
        }
        if (scan.count < scan.readings.size()) {
            scan.readings[scan.count++] = reading;
        }
    }
    return {};
}

struct plane_reading {
    std::uint32_t crtc_id = 0;
    std::uint32_t fb_id = 0;
};

// A plane that cannot be read, or that is not attached to a CRTC, shows nothing.
plane_reading read_plane(int device, std::uint32_t plane_id) {
    const plane_record plane(drmModeGetPlane(device, plane_id));
    if (!plane || plane->crtc_id == 0) {
        return {};
    }
    return {plane->crtc_id, plane->fb_id};
}

scanout first_plane_framebuffer(int device, const crtc_scan& scan) {
    const plane_resources planes(drmModeGetPlaneResources(device));
    if (!planes) {
        return {};
    }
    for (std::uint32_t i = 0; i < planes->count_planes; ++i) {
        const plane_reading reading = read_plane(device, planes->planes[i]);
        if (reading.fb_id != 0) {
            return {reading.fb_id, scanout_place::plane, planes->planes[i],
                    scan.frame_period_of(reading.crtc_id)};
        }
    }
    return {};
}

}  // namespace

outcome<scanout> find_active_fb(const unique_fd& device, const char* device_path,
                                failure_lines lines) {
    scanout found;
    {
        const mode_resources resources(drmModeGetResources(device.get()));
        if (!resources) {
            if (lines == failure_lines::printed) {
                report("drmModeGetResources: %s", std::strerror(errno));
            }
            return exit_status::no_mode_resources;
        }
        crtc_scan scan;
        found = first_crtc_framebuffer(device.get(), *resources, scan);
        if (found.fb_id == 0) {
            found = first_plane_framebuffer(device.get(), scan);
        }
    }  // the mode resources are freed here, after the plane resources

    if (found.fb_id == 0) {
        if (lines == failure_lines::printed) {
            report("no active framebuffer found on %s (no CRTC/plane with fb)", device_path);
        }
        return exit_status::no_active_framebuffer;
    }
    return found;
}

bool still_on_screen(const unique_fd& device, const scanout& found) {
    const int saved_errno = errno;
    const std::uint32_t shown = found.place == scanout_place::crtc
                                    ? read_crtc(device.get(), found.place_id).fb_id
                                    : read_plane(device.get(), found.place_id).fb_id;
    errno = saved_errno;
    return shown == found.fb_id;
}
