#include "capture/discovery.hpp"

#include <xf86drmMode.h>

#include <cerrno>
#include <cstring>

#include "capture/drm_records.hpp"

namespace {

// A CRTC that cannot be read counts as showing nothing.
std::uint32_t crtc_framebuffer(int device, std::uint32_t crtc_id) {
    const crtc_record crtc(drmModeGetCrtc(device, crtc_id));
    return crtc ? crtc->buffer_id : 0;
}

scanout first_crtc_framebuffer(int device, const drmModeRes& resources) {
    for (int i = 0; i < resources.count_crtcs; ++i) {
        if (const std::uint32_t fb_id = crtc_framebuffer(device, resources.crtcs[i])) {
            return {fb_id, scanout_place::crtc, resources.crtcs[i]};
        }
    }
    return {};
}

// A plane that cannot be read, or that is not attached to a CRTC, shows nothing.
std::uint32_t plane_framebuffer(int device, std::uint32_t plane_id) {
    const plane_record plane(drmModeGetPlane(device, plane_id));
    return plane && plane->crtc_id != 0 ? plane->fb_id : 0;
}

scanout first_plane_framebuffer(int device) {
    const plane_resources planes(drmModeGetPlaneResources(device));
    if (!planes) {
        return {};
    }
    for (std::uint32_t i = 0; i < planes->count_planes; ++i) {
        if (const std::uint32_t fb_id = plane_framebuffer(device, planes->planes[i])) {
            return {fb_id, scanout_place::plane, planes->planes[i]};
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
        found = first_crtc_framebuffer(device.get(), *resources);
        if (found.fb_id == 0) {
            found = first_plane_framebuffer(device.get());
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
                                    ? crtc_framebuffer(device.get(), found.place_id)
                                    : plane_framebuffer(device.get(), found.place_id);
    errno = saved_errno;
    return shown == found.fb_id;
}
