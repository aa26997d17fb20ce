// libdrm's entry points, answered from the script. Every record handed out is
// remembered, so that a double free or a free of a foreign pointer aborts.

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>
#include <xf86drm.h>
#include <xf86drmMode.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#include "fake_kms_state.hpp"

using fake_kms::ensure_loaded;
using fake_kms::state;

namespace {

template <typename Record>
Record* hand_out(state& st) {
    auto* record = static_cast<Record*>(std::calloc(1, sizeof(Record)));
    st.live.insert(record);
    return record;
}

void take_back(state& st, const void* record, const std::string& event) {
    if (record == nullptr) {
        return;
    }
    if (st.live.erase(record) != 1) {
        std::fprintf(stderr, "fake-kms: %s of a record that is not live\n", event.c_str());
        std::abort();
    }
    st.log(event);
}

template <typename T>
T* fail_with(int error) {
    errno = error;
    return nullptr;
}

// The framebuffer id a CRTC or plane reports at this read, counted per
// object; nullopt when the script makes this read fail.
std::optional<std::uint32_t> id_at_read(std::map<std::uint32_t, std::size_t>& reads,
                                        std::uint32_t object, std::uint32_t first,
                                        const std::vector<std::uint32_t>& later) {
    const std::size_t n = reads[object]++;
    if (n == 0 || later.empty()) {
        return first;
    }
    const std::uint32_t id = later[std::min(n - 1, later.size() - 1)];
    return id == fake_kms::unreadable ? std::nullopt : std::optional<std::uint32_t>(id);
}

// A read of a CRTC or plane that the script makes take time: the fake's
// clock moves on by that much.
void take_time(state& st, const std::vector<std::uint32_t>& read_ms, std::size_t read) {
    if (read < read_ms.size()) {
        st.clock_ns += std::uint64_t{read_ms[read]} * 1'000'000;
    }
}

const fake_kms::framebuffer* find_framebuffer(const state& st, std::uint32_t fb_id) {
    if (st.s.fb && st.s.fb->id == fb_id) {
        return &*st.s.fb;
    }
    for (const fake_kms::other_framebuffer& other : st.s.other_fbs) {
        if (other.fb.id == fb_id) {
            return &other.fb;
        }
    }
    return nullptr;
}

// A memfd with the buffer object's bytes; the fake's mmap keeps a mapping
// within its size, as a dma-buf does.
int buffer_object(const std::vector<std::uint8_t>& bytes) {
    const int fd = ::memfd_create("fake-dmabuf", MFD_CLOEXEC);
    if (fd == -1 || ::ftruncate(fd, off_t(bytes.size())) != 0 ||
        ::pwrite(fd, bytes.data(), bytes.size(), 0) != ssize_t(bytes.size())) {
        std::perror("fake-kms: memfd");
        std::abort();
    }
    return fd;
}

// The exported buffer object of the framebuffer with that handle, or -1 with
// errno set.
int export_handle(const state& st, std::uint32_t handle) {
    if (st.s.export_errno != 0) {
        errno = st.s.export_errno;
        return -1;
    }
    if (st.s.fb && st.s.fb->handle == handle) {
        if (st.s.fb->export_errno != 0) {
            errno = st.s.fb->export_errno;
            return -1;
        }
        if (st.s.buffer_fd == -1) {
            return buffer_object(st.s.buffer);
        }
        const int fd = ::fcntl(st.s.buffer_fd, F_DUPFD_CLOEXEC, 0);
        if (fd == -1) {
            std::perror("fake-kms: buffer_fd");
            std::abort();
        }
        return fd;
    }
    for (const fake_kms::other_framebuffer& other : st.s.other_fbs) {
        if (other.fb.handle == handle) {
            if (other.fb.export_errno != 0) {
                errno = other.fb.export_errno;
                return -1;
            }
            return buffer_object(other.buffer);
        }
    }
    errno = ENOENT;
    return -1;
}

}  // namespace

extern "C" {

int drmDropMaster(int fd) {
    state& st = ensure_loaded();
    st.device_fd = fd;
    st.log("drmDropMaster");
    return 0;
}

int drmGetCap(int fd, uint64_t capability, uint64_t* value) {
    state& st = ensure_loaded();
    st.device_fd = fd;
    st.log(capability == DRM_CAP_PRIME ? "drmGetCap(DRM_CAP_PRIME)"
                                       : "drmGetCap(" + std::to_string(capability) + ")");
    if (st.s.cap_errno != 0) {
        errno = st.s.cap_errno;
        return -1;
    }
    *value = st.s.prime_cap;
    return 0;
}

int drmSetClientCap(int, uint64_t capability, uint64_t value) {
    state& st = ensure_loaded();
    st.log((capability == DRM_CLIENT_CAP_UNIVERSAL_PLANES ? "drmSetClientCap(UNIVERSAL_PLANES, "
                                                          : "drmSetClientCap(?, ") +
           std::to_string(value) + ")");
    return 0;
}

drmModeResPtr drmModeGetResources(int) {
    state& st = ensure_loaded();
    st.log("drmModeGetResources");
    if (st.s.resources_errno != 0) {
        return fail_with<drmModeRes>(st.s.resources_errno);
    }
    auto* resources = hand_out<drmModeRes>(st);
    resources->count_crtcs = int(st.s.crtcs.size());
    resources->crtcs = static_cast<uint32_t*>(std::calloc(st.s.crtcs.size() + 1, sizeof(uint32_t)));
    for (std::size_t i = 0; i < st.s.crtcs.size(); ++i) {
        resources->crtcs[i] = st.s.crtcs[i].id;
    }
    return resources;
}

void drmModeFreeResources(drmModeResPtr resources) {
    take_back(ensure_loaded(), resources, "drmModeFreeResources");
    if (resources != nullptr) {
        std::free(resources->crtcs);
        std::free(resources);
    }
}

drmModeCrtcPtr drmModeGetCrtc(int, uint32_t crtc_id) {
    state& st = ensure_loaded();
    st.log("drmModeGetCrtc(" + std::to_string(crtc_id) + ")");
    for (const fake_kms::crtc& c : st.s.crtcs) {
        if (c.id == crtc_id && c.readable) {
            take_time(st, c.read_ms, st.crtc_reads[c.id]);
            const std::optional<std::uint32_t> buffer_id =
                id_at_read(st.crtc_reads, c.id, c.buffer_id, c.later_buffer_ids);
            if (!buffer_id) {
                break;
            }
            auto* crtc = hand_out<drmModeCrtc>(st);
            crtc->crtc_id = c.id;
            crtc->buffer_id = *buffer_id;
            crtc->mode_valid = c.refresh != 0 ? 1 : 0;
            crtc->mode.vrefresh = c.refresh;
            return crtc;
        }
    }
    return fail_with<drmModeCrtc>(ENOENT);
}

void drmModeFreeCrtc(drmModeCrtcPtr crtc) {
    if (crtc != nullptr) {
        take_back(ensure_loaded(), crtc, "drmModeFreeCrtc(" + std::to_string(crtc->crtc_id) + ")");
    }
    std::free(crtc);
}

drmModePlaneResPtr drmModeGetPlaneResources(int) {
    state& st = ensure_loaded();
    st.log("drmModeGetPlaneResources");
    if (st.s.plane_resources_errno != 0) {
        return fail_with<drmModePlaneRes>(st.s.plane_resources_errno);
    }
    auto* planes = hand_out<drmModePlaneRes>(st);
    planes->count_planes = uint32_t(st.s.planes.size());
    planes->planes = static_cast<uint32_t*>(std::calloc(st.s.planes.size() + 1, sizeof(uint32_t)));
    for (std::size_t i = 0; i < st.s.planes.size(); ++i) {
        planes->planes[i] = st.s.planes[i].id;
    }
    return planes;
}

void drmModeFreePlaneResources(drmModePlaneResPtr planes) {
    take_back(ensure_loaded(), planes, "drmModeFreePlaneResources");
    if (planes != nullptr) {
        std::free(planes->planes);
        std::free(planes);
    }
}

drmModePlanePtr drmModeGetPlane(int, uint32_t plane_id) {
    state& st = ensure_loaded();
    st.log("drmModeGetPlane(" + std::to_string(plane_id) + ")");
    for (const fake_kms::plane& p : st.s.planes) {
        if (p.id == plane_id && p.readable) {
            take_time(st, p.read_ms, st.plane_reads[p.id]);
            const std::optional<std::uint32_t> fb_id =
                id_at_read(st.plane_reads, p.id, p.fb_id, p.later_fb_ids);
            if (!fb_id) {
                break;
            }
            auto* plane = hand_out<drmModePlane>(st);
            plane->plane_id = p.id;
            plane->crtc_id = p.crtc_id;
            plane->fb_id = *fb_id;
            return plane;
        }
    }
    return fail_with<drmModePlane>(ENOENT);
}

void drmModeFreePlane(drmModePlanePtr plane) {
    if (plane != nullptr) {
        take_back(ensure_loaded(), plane,
                  "drmModeFreePlane(" + std::to_string(plane->plane_id) + ")");
    }
    std::free(plane);
}

drmModeFB2Ptr drmModeGetFB2(int, uint32_t fb_id) {
    state& st = ensure_loaded();
    st.log("drmModeGetFB2(" + std::to_string(fb_id) + ")");
    const fake_kms::framebuffer* const found = find_framebuffer(st, fb_id);
    if (found == nullptr) {
        return fail_with<drmModeFB2>(ENOENT);
    }
    const fake_kms::framebuffer& f = *found;
    auto* fb = hand_out<drmModeFB2>(st);
    fb->fb_id = f.id;
    fb->width = f.width;
    fb->height = f.height;
    fb->pixel_format = f.pixel_format;
    fb->modifier = f.modifier;
    fb->handles[0] = f.handle;
    fb->pitches[0] = f.pitch;
    fb->offsets[0] = f.offset;
    return fb;
}

void drmModeFreeFB2(drmModeFB2Ptr fb) {
    if (fb != nullptr) {
        take_back(ensure_loaded(), fb, "drmModeFreeFB2(" + std::to_string(fb->fb_id) + ")");
    }
    std::free(fb);
}

int drmPrimeHandleToFD(int, uint32_t handle, uint32_t flags, int* prime_fd) {
    state& st = ensure_loaded();
    char event[96];
    std::snprintf(event, sizeof event, "drmPrimeHandleToFD(handle=%u, flags=%s)", handle,
                  flags == DRM_CLOEXEC ? "DRM_CLOEXEC" : std::to_string(flags).c_str());
    st.log(event);
    const int fd = export_handle(st, handle);
    if (fd == -1) {
        return -1;
    }
    st.dmabuf_fd = fd;
    *prime_fd = fd;
    return 0;
}

}  // extern "C"
