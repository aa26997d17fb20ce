#include "capture/mapped_fb.hpp"

#include <fcntl.h>  // O_CLOEXEC, which DRM_CLOEXEC stands for
#include <xf86drm.h>

#include <cerrno>
#include <cstring>

#include "diagnostics.hpp"
#include "pixel_formats.hpp"

namespace {

// The image starts offsets[0] bytes into the buffer, so the mapping covers the
// offset too. An empty image maps nothing, which mmap refuses.
std::uint64_t mapping_length(const drmModeFB2& fb) {
    const std::uint64_t image_bytes = std::uint64_t{fb.height} * fb.pitches[0];
    return image_bytes == 0 ? 0 : fb.offsets[0] + image_bytes;
}

void report_export_failure() {
    report("drmPrimeHandleToFD: %s", std::strerror(errno));
    // errno is read again after the line: its write may have changed it.
    if (errno == ENOENT) {
        report(
            "ENOENT = GEM-Handle ungültig/zerstört oder Buffer gehört anderem Prozess "
            "(z.B. Compositor/Desktop).");
        report(
            "Workaround: Agent in derselben Session wie die Anzeige starten. "
            "Kernel: CONFIG_DMA_SHARED_BUFFER=y, CONFIG_DRM_VC4.");
    }
}

}  // namespace

outcome<mapped_fb> map_active_fb(unique_fd device, std::uint32_t fb_id, failure_lines lines) {
    const bool printed = lines == failure_lines::printed;
    // On every failure below, capture's destruction gives back what it holds
    // so far in reverse order: dma-buf (a mapping that failed still holds
    // it), description, device.
    mapped_fb capture;
    capture.device_fd = std::move(device);

    capture.fb.reset(drmModeGetFB2(capture.device_fd.get(), fb_id));
    if (!capture.fb) {
        if (printed) {
            report("drmModeGetFB2: %s", std::strerror(errno));
        }
        return exit_status::no_fb_description;
    }
    const drmModeFB2& fb = *capture.fb;
    if (fb.modifier != DRM_FORMAT_MOD_LINEAR) {
        if (printed) {
            report(
                "unsupported modifier 0x%llx (tiled/swizzled, e.g. BROADCOM_UIF); "
                "only linear supported",
                static_cast<unsigned long long>(fb.modifier));
        }
        return exit_status::unsupported_modifier;
    }
    if (find_captured_format(fb.pixel_format) == nullptr) {
        if (printed) {
            report("unsupported format 0x%x (XRGB8888/ARGB8888/RGB565)", fb.pixel_format);
        }
        return exit_status::unsupported_format;
    }
    capture.width = fb.width;
    capture.height = fb.height;
    capture.pitch = fb.pitches[0];
    capture.pixel_format = fb.pixel_format;

    int dmabuf_fd = -1;
    if (drmPrimeHandleToFD(capture.device_fd.get(), fb.handles[0], DRM_CLOEXEC, &dmabuf_fd) != 0) {
        if (printed) {
            report_export_failure();
        }
        return exit_status::export_failed;
    }
    capture.mapping = dmabuf_mapping::map(unique_fd(dmabuf_fd), mapping_length(fb));
    if (!capture.mapping) {
        if (printed) {
            report("mmap: %s", std::strerror(errno));
        }
        return exit_status::map_failed;
    }
    capture.pixels = capture.mapping.start() + fb.offsets[0];
    return capture;
}

unique_fd release_keeping_device(mapped_fb capture) {
    capture.pixels = nullptr;
    capture.mapping.reset();  // the mapping, then the dma-buf
    capture.fb.reset();
    return std::move(capture.device_fd);
}

void release_mapped_fb(mapped_fb capture) {
    release_keeping_device(std::move(capture)).reset();
}
