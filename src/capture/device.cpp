#include "capture/device.hpp"

#include <fcntl.h>
#include <xf86drm.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

#include "diagnostics.hpp"

outcome<unique_fd> open_drm_device(const char* device_path) {
    unique_fd device(::open(device_path, O_RDWR | O_CLOEXEC));
    if (!device) {
        report("open %s: %s", device_path, std::strerror(errno));
        return exit_status::device_unusable;
    }

    std::uint64_t prime = 0;
    if (drmGetCap(device.get(), DRM_CAP_PRIME, &prime) != 0) {
        report("drmGetCap(DRM_CAP_PRIME) fehlgeschlagen: %s (Treiber unterstützt PRIME nicht)",
               std::strerror(errno));
        return exit_status::device_unusable;
    }
    if ((prime & DRM_PRIME_CAP_EXPORT) == 0) {
        report(
            "PRIME-Export nicht unterstützt (DRM_PRIME_CAP_EXPORT). "
            "Kernel CONFIG_DMA_SHARED_BUFFER=y prüfen.");
        return exit_status::device_unusable;
    }

    // Without it the plane list lacks primary and cursor planes; drivers that
    // refuse it still list their overlay planes, so the run goes on either way.
    drmSetClientCap(device.get(), DRM_CLIENT_CAP_UNIVERSAL_PLANES, 1);
    return device;
}
