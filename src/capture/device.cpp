#include "capture/device.hpp"

#include <unistd.h>
#include <xf86drm.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

#include "capture/device_node.hpp"
#include "diagnostics.hpp"

namespace {

void report_no_prime(int error) {
    report("drmGetCap(DRM_CAP_PRIME) fehlgeschlagen: %s (Treiber unterstützt PRIME nicht)",
           std::strerror(error));
}

}  // namespace

outcome<unique_fd> open_drm_device(const char* device_path) {
    device_node node = open_device_node(device_path);
    if (!node.device) {
        if (node.open_error != 0) {
            report("open %s: %s", device_path, std::strerror(node.open_error));
        } else {
            // Not a DRM device, but it would have opened: the capability
            // query on it is what failed then, as on every file that is not one.
            report_no_prime(ENOTTY);
        }
        return exit_status::device_unusable;
    }
    unique_fd device = std::move(node.device);

    // The kernel makes the first opener of a card its DRM master while no
    // other process is; the master alone may set modes, and a compositor
    // (re)starting meanwhile would fail to take the display. Root needs no
    // master for any call made here (it reads every framebuffer's handles
    // with CAP_SYS_ADMIN), so it gives it up at once; another user keeps
    // whatever the kernel gave it, which the handles may need. Fails
    // harmlessly, errno undone, where there was nothing to give up.
    if (::geteuid() == 0) {
        const int saved_errno = errno;
        drmDropMaster(device.get());
        errno = saved_errno;
    }

    std::uint64_t prime = 0;
    if (drmGetCap(device.get(), DRM_CAP_PRIME, &prime) != 0) {
        report_no_prime(errno);
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
