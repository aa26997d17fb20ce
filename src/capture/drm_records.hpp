#pragma once

#include <xf86drmMode.h>

#include <memory>

// Owners of libdrm records, each freed with its own libdrm function.
template <typename Record, void (*free_record)(Record*)>
struct drm_record_deleter {
    void operator()(Record* record) const { free_record(record); }
};

template <typename Record, void (*free_record)(Record*)>
using drm_record = std::unique_ptr<Record, drm_record_deleter<Record, free_record>>;

using mode_resources = drm_record<drmModeRes, drmModeFreeResources>;
using crtc_record = drm_record<drmModeCrtc, drmModeFreeCrtc>;
using plane_resources = drm_record<drmModePlaneRes, drmModeFreePlaneResources>;
using plane_record = drm_record<drmModePlane, drmModeFreePlane>;
using fb2_record = drm_record<drmModeFB2, drmModeFreeFB2>;
