#include "capture/discovery.hpp"

#include <xf86drmMode.h>

#include <cerrno>
#include <cstring>

#include "capture/drm_records.hpp"
#include "diagnostics.hpp"

namespace {

// A CRTC that cannot be read counts as showing nothing.
std::uint32_t crtc_framebuffer(int device, std::uint32_t crtc_id) {
    const crtc_record crtc(drmModeGetCrtc(device, crtc_id));
    return crtc ? crtc->buffer_id : 0;
}

std::uint32_t first_crtc_framebuffer(int device, const drmModeRes& resources) {
    for (int i = 0; i < resources.count_crtcs; ++i) {
        if (const std::uint32_t fb_id = crtc_framebuffer(device, resources.crtcs[i])) {
            return fb_id;
        }
    }
    return 0;
}

// A plane that cannot be read, or that is not attached to a CRTC, shows nothing.
std::uint32_t plane_framebuffer(int device, std::uint32_t plane_id) {
    const plane_record plane(drmModeGetPlane(device, plane_id));
    return plane && plane->crtc_id != 0 ? plane->fb_id : 0;
}

std::uint32_t first_plane_framebuffer(int device) {
    const plane_resources planes(drmModeGetPlaneResources(device));
    if (!planes) {
        return 0;
    }
    for (std::uint32_t i = 0; i < planes->count_planes; ++i) {
        if (const std::uint32_t fb_id = plane_framebuffer(device, planes->planes[i])) {
            return fb_id;
        }
    }
    return 0;
}

}  // namespace

outcome<std::uint32_t> find_active_fb(const unique_fd& device, const char* device_path) {
    std::uint32_t fb_id = 0;
    {
        const mode_resources resources(drmModeGetResources(device.get()));
        if (!resources) {
            report("drmModeGetResources: %s", std::strerror(errno));
            return exit_status::no_mode_resources;
        }
        fb_id = first_crtc_framebuffer(device.get(), *resources);
        if (fb_id == 0) {
            fb_id = first_plane_framebuffer(device.get());
        }
    }  // the mode resources are freed here, after the plane resources

    if (fb_id == 0) {
        report("no active framebuffer found on %s (no CRTC/plane with fb)", device_path);
        return exit_status::no_active_framebuffer;
    }
    return fb_id;
}
