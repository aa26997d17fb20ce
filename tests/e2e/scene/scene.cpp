// scanoutsnap-e2e-scene: the end-to-end suite's own DRM helper, run inside the
// QEMU guest next to the real scanoutsnap binary. It never shares code with the
// tool, so that what it reports is an independent view of the device.
//
//   scene dump [-d DEV] OUT
//       Reader: finds the framebuffer on screen by the same rule the tool
//       follows (first CRTC with a framebuffer, else first plane with a CRTC and
//       a framebuffer), maps its GEM handle through the driver's dumb-buffer
//       mmap (not through PRIME, unlike the tool; PRIME only as a fallback) and
//       writes its visible pixels to OUT as a dump (format below).
//
//   scene hold [-d DEV] [-p PERIOD_US] [-r] LAYOUT READYFILE EXPECTDIR
//       Becomes DRM master, creates dumb buffers with known content, adds them
//       as framebuffers and puts them on screen as LAYOUT says. Writes what it
//       put on screen to EXPECTDIR/expect.dump (the picture the tool must
//       capture) and, where there is one, EXPECTDIR/other.dump (a picture that
//       is on screen too but must not be captured). Then writes READYFILE:
//       "ok\n", or "refused STEP: ERROR\n" when the driver refused the
//       configuration (and exits with status 3). After "ok" it keeps the
//       device open, holding master, until SIGTERM or SIGINT.
//       Layouts: xrgb-pitch, two-outputs, second-only, cursor-argb,
//       rgb565-table, rgb888, off (every CRTC switched off by SETCRTC, no
//       framebuffer anywhere, no dump), the load scenes flips and replace,
//       and the animation.
//
//       -r: as a display server does when its VT is switched away and back,
//       gives up master right after opening the device (DROP_MASTER), writes
//       EXPECTDIR/dropped, waits up to 30 s for EXPECTDIR/regain to appear,
//       then takes master back with SET_MASTER (refused with EBUSY while
//       another process is master) and goes on with the layout.
//
//       Load scenes keep changing the screen after "ok", at irregular intervals
//       of a few milliseconds, until SIGTERM; both show only the two pictures
//       whose dumps they write to EXPECTDIR/a.dump and EXPECTDIR/b.dump.
//         flips:   two framebuffers (A and B), put on screen in turn; neither
//                  buffer is drawn into after the setup.
//         replace: a fresh dumb buffer with A or B (in turn) is drawn, added as
//                  a framebuffer and put on screen; then the framebuffer that
//                  was on screen before is removed and its buffer destroyed.
//       EXPECTDIR/count holds the number of changes made so far (replaced
//       atomically after each change) and EXPECTDIR/method how a framebuffer
//       is put on screen: "page-flip" (the page flip ioctl, waiting for its
//       event) or "setcrtc" when the driver refuses page flips. A change that
//       fails ends the helper with status 4 and a line on standard error.
//
//       animation: as a compositor shows a video, with two buffers: frame k
//       (animation.hpp: every row says which frame it is) is drawn into
//       buffer k % 2; every PERIOD_US microseconds (default 16667) frame k+1
//       goes on screen by page flip, waiting for its event, and at once the
//       buffer that has just left the screen is redrawn with frame k+2. A flip
//       that comes late moves the schedule on, it never catches up.
//       EXPECTDIR/count holds the number of the frame on screen, and
//       EXPECTDIR/method as above.
//
//   scene prime [-d DEV]
//       Prints what the driver says of PRIME (DRM_CAP_PRIME): "import",
//       "export", both, or "none", on one line.
//
//   scene planes [-d DEV]
//       Lists every plane: type, CRTC, framebuffer, and for one that shows a
//       framebuffer its size, pitch, format, modifier, source rectangle and
//       place on the CRTC.
//
//   scene runas UID GID PROGRAM [ARG...]
//       Drops all groups and becomes UID/GID for good, then executes PROGRAM.
//
// Dump format: the text line "SCNDUMP1 <fourcc as 8 hex digits> <width>
// <height>\n", then height rows of width * bytes-per-pixel bytes each, the
// framebuffer's own pixel words (little-endian), without row padding.

#include <drm_fourcc.h>
#include <xf86drm.h>
#include <xf86drmMode.h>

#include <fcntl.h>
#include <grp.h>
#include <linux/dma-buf.h>
#include <poll.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <cwchar>
#include <string>
#include <vector>

#include "animation.hpp"

// Linux 6.8 on hides the cursor plane of virtual machines' drivers from
// atomic clients that do not say they set its hotspot; older libdrm headers
// lack the name.
#ifndef DRM_CLIENT_CAP_CURSOR_PLANE_HOTSPOT
#define DRM_CLIENT_CAP_CURSOR_PLANE_HOTSPOT 6
#endif

namespace {

struct failure {
    std::string step;
    int err;
};

[[noreturn]] void die(const std::string& what) {
    std::fprintf(stderr, "scene: %s: %s\n", what.c_str(), std::strerror(errno));
    std::exit(2);
}

unsigned bytes_per_pixel(uint32_t fourcc) {
    switch (fourcc) {
        case DRM_FORMAT_XRGB8888:
        case DRM_FORMAT_ARGB8888:
        case DRM_FORMAT_XBGR8888:
            return 4;
        case DRM_FORMAT_RGB888:
            return 3;
        case DRM_FORMAT_RGB565:
            return 2;
        default:
            return 0;
    }
}

bool write_dump(const std::string& path, uint32_t fourcc, uint32_t width, uint32_t height,
                uint32_t pitch, const uint8_t* base) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) {
        return false;
    }
    const unsigned bpp = bytes_per_pixel(fourcc);
    std::fprintf(f, "SCNDUMP1 %08x %u %u\n", fourcc, width, height);
    for (uint32_t y = 0; y < height; ++y) {
        std::fwrite(base + static_cast<uint64_t>(y) * pitch, 1, static_cast<size_t>(width) * bpp,
                    f);
    }
    const bool ok = std::ferror(f) == 0;
    return (std::fclose(f) == 0) && ok;
}

// ---------------------------------------------------------------- dumb buffers

struct dumb {
    uint32_t handle = 0;
    uint32_t width = 0;  // visible width of the framebuffer
    uint32_t height = 0;
    uint32_t pitch = 0;
    uint64_t size = 0;
    uint32_t fourcc = 0;
    uint32_t fb_id = 0;
    uint8_t* map = nullptr;
};

// Creates a dumb buffer alloc_width pixels wide (>= width, so the pitch can be
// made larger than width * bpp) and maps it.
bool make_dumb(int fd, dumb& d, uint32_t width, uint32_t alloc_width, uint32_t height,
               uint32_t fourcc, failure& fail) {
    drm_mode_create_dumb create{};
    create.width = alloc_width;
    create.height = height;
    create.bpp = bytes_per_pixel(fourcc) * 8;
    if (drmIoctl(fd, DRM_IOCTL_MODE_CREATE_DUMB, &create) != 0) {
        fail = {"CREATE_DUMB", errno};
        return false;
    }
    d.handle = create.handle;
    d.width = width;
    d.height = height;
    d.pitch = create.pitch;
    d.size = create.size;
    d.fourcc = fourcc;
    drm_mode_map_dumb map{};
    map.handle = d.handle;
    if (drmIoctl(fd, DRM_IOCTL_MODE_MAP_DUMB, &map) != 0) {
        fail = {"MAP_DUMB", errno};
        return false;
    }
    void* p = mmap(nullptr, d.size, PROT_READ | PROT_WRITE, MAP_SHARED, fd,
                   static_cast<off_t>(map.offset));
    if (p == MAP_FAILED) {
        fail = {"mmap dumb", errno};
        return false;
    }
    d.map = static_cast<uint8_t*>(p);
    std::memset(d.map, 0, d.size);
    return true;
}

bool add_fb(int fd, dumb& d, failure& fail) {
    uint32_t handles[4] = {d.handle, 0, 0, 0};
    uint32_t pitches[4] = {d.pitch, 0, 0, 0};
    uint32_t offsets[4] = {0, 0, 0, 0};
    if (drmModeAddFB2(fd, d.width, d.height, d.fourcc, handles, pitches, offsets, &d.fb_id, 0) !=
        0) {
        fail = {"ADDFB2", errno};
        return false;
    }
    return true;
}

void put32(dumb& d, uint32_t x, uint32_t y, uint32_t v) {
    uint8_t* p = d.map + static_cast<uint64_t>(y) * d.pitch + x * 4u;
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v >> 16);
    p[3] = static_cast<uint8_t>(v >> 24);
}

void put16(dumb& d, uint32_t x, uint32_t y, uint16_t v) {
    uint8_t* p = d.map + static_cast<uint64_t>(y) * d.pitch + x * 2u;
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

// Fills the bytes beyond the visible width of every row with a pattern that
// must never reach the image.
void fill_padding(dumb& d) {
    const uint32_t used = d.width * bytes_per_pixel(d.fourcc);
    for (uint32_t y = 0; y < d.height; ++y) {
        uint8_t* row = d.map + static_cast<uint64_t>(y) * d.pitch;
        for (uint32_t b = used; b < d.pitch; ++b) {
            row[b] = static_cast<uint8_t>(0xA5 ^ (b * 7 + y));
        }
    }
}

// Picture A: every pixel distinct in its neighbourhood, all three channels in
// use, and a non-zero X byte that must be dropped.
void paint_a(dumb& d) {
    for (uint32_t y = 0; y < d.height; ++y) {
        for (uint32_t x = 0; x < d.width; ++x) {
            const uint32_t r = x & 0xFF;
            const uint32_t g = y & 0xFF;
            const uint32_t b = ((x >> 8) << 6) ^ ((y >> 8) << 4) ^ ((x + 3 * y) & 0x0F) ^ 0x80;
            const uint32_t xb = (x * 5 + y * 11 + 1) & 0xFF;
            put32(d, x, y, (xb << 24) | (r << 16) | (g << 8) | b);
        }
    }
}

// Picture B: a different picture of the same kind (the other output).
void paint_b(dumb& d) {
    for (uint32_t y = 0; y < d.height; ++y) {
        for (uint32_t x = 0; x < d.width; ++x) {
            const uint32_t r = 0xFF - (y & 0xFF);
            const uint32_t g = (x * 3) & 0xFF;
            const uint32_t b = ((x / 32 + y / 32) & 1) ? 0x20 : 0xE0;
            put32(d, x, y, (0x5Au << 24) | (r << 16) | (g << 8) | b);
        }
    }
}

bool write_expect(const std::string& dir, const char* name, const dumb& d) {
    return write_dump(dir + "/" + name, d.fourcc, d.width, d.height, d.pitch, d.map);
}

// ---------------------------------------------------------------- outputs

struct output {
    uint32_t crtc_id = 0;
    unsigned crtc_index = 0;
    uint32_t connector_id = 0;
    bool connected = false;
    drmModeModeInfo mode{};
    bool has_mode = false;
};

// The connector for CRTC index i: a connected one if any, else any connector
// whose encoders can drive it.
output find_output(int fd, drmModeRes* res, unsigned index) {
    output out;
    out.crtc_index = index;
    out.crtc_id = res->crtcs[index];
    for (int c = 0; c < res->count_connectors; ++c) {
        drmModeConnector* conn = drmModeGetConnector(fd, res->connectors[c]);
        if (conn == nullptr) {
            continue;
        }
        bool can = false;
        for (int e = 0; e < conn->count_encoders && !can; ++e) {
            drmModeEncoder* enc = drmModeGetEncoder(fd, conn->encoders[e]);
            if (enc != nullptr) {
                can = (enc->possible_crtcs & (1u << index)) != 0;
                drmModeFreeEncoder(enc);
            }
        }
        const bool connected = conn->connection == DRM_MODE_CONNECTED;
        if (can && (out.connector_id == 0 || (connected && !out.connected))) {
            out.connector_id = conn->connector_id;
            out.connected = connected;
            out.has_mode = false;
            // Prefer a small mode: fewer pixels to fill and convert under TCG.
            for (int m = 0; m < conn->count_modes; ++m) {
                if (conn->modes[m].hdisplay == 640 && conn->modes[m].vdisplay == 480) {
                    out.mode = conn->modes[m];
                    out.has_mode = true;
                    break;
                }
            }
            if (!out.has_mode && conn->count_modes > 0) {
                out.mode = conn->modes[0];
                out.has_mode = true;
            }
        }
        drmModeFreeConnector(conn);
    }
    return out;
}

bool disable_all_crtcs(int fd, drmModeRes* res, failure& fail) {
    for (int i = 0; i < res->count_crtcs; ++i) {
        if (drmModeSetCrtc(fd, res->crtcs[i], 0, 0, 0, nullptr, 0, nullptr) != 0) {
            fail = {"SETCRTC disable crtc " + std::to_string(i), errno};
            return false;
        }
    }
    return true;
}

void log_output(const output& o, const dumb& d, const char* how) {
    std::fprintf(stderr,
                 "scene: crtc %u (id %u) via %s: connector %u (%s), mode %ux%u, fb %u %ux%u "
                 "pitch %u format 0x%08x\n",
                 o.crtc_index, o.crtc_id, how, o.connector_id,
                 o.connected ? "connected" : "disconnected", o.mode.hdisplay, o.mode.vdisplay,
                 d.fb_id, d.width, d.height, d.pitch, d.fourcc);
}

bool set_crtc(int fd, const output& o, const dumb& d, failure& fail) {
    log_output(o, d, "SETCRTC");
    uint32_t conn = o.connector_id;
    drmModeModeInfo mode = o.mode;
    if (drmModeSetCrtc(fd, o.crtc_id, d.fb_id, 0, 0, &conn, 1, &mode) != 0) {
        fail = {"SETCRTC crtc " + std::to_string(o.crtc_index), errno};
        return false;
    }
    return true;
}

uint32_t prop_id(int fd, uint32_t obj, uint32_t type, const char* name) {
    drmModeObjectProperties* props = drmModeObjectGetProperties(fd, obj, type);
    uint32_t id = 0;
    if (props == nullptr) {
        return 0;
    }
    for (uint32_t i = 0; i < props->count_props && id == 0; ++i) {
        drmModePropertyRes* p = drmModeGetProperty(fd, props->props[i]);
        if (p != nullptr) {
            if (std::strcmp(p->name, name) == 0) {
                id = p->prop_id;
            }
            drmModeFreeProperty(p);
        }
    }
    drmModeFreeObjectProperties(props);
    return id;
}

uint64_t prop_value(int fd, uint32_t obj, uint32_t type, const char* name) {
    drmModeObjectProperties* props = drmModeObjectGetProperties(fd, obj, type);
    uint64_t value = UINT64_MAX;
    if (props == nullptr) {
        return value;
    }
    for (uint32_t i = 0; i < props->count_props; ++i) {
        drmModePropertyRes* p = drmModeGetProperty(fd, props->props[i]);
        if (p != nullptr) {
            if (std::strcmp(p->name, name) == 0) {
                value = props->prop_values[i];
            }
            drmModeFreeProperty(p);
        }
    }
    drmModeFreeObjectProperties(props);
    return value;
}

// Plane of the given type (DRM_PLANE_TYPE_*) that can be used on CRTC index i.
uint32_t find_plane(int fd, unsigned index, uint64_t type) {
    drmModePlaneRes* pres = drmModeGetPlaneResources(fd);
    uint32_t found = 0;
    if (pres == nullptr) {
        return 0;
    }
    for (uint32_t i = 0; i < pres->count_planes && found == 0; ++i) {
        drmModePlane* pl = drmModeGetPlane(fd, pres->planes[i]);
        if (pl == nullptr) {
            continue;
        }
        if ((pl->possible_crtcs & (1u << index)) != 0 &&
            prop_value(fd, pl->plane_id, DRM_MODE_OBJECT_PLANE, "type") == type) {
            found = pl->plane_id;
        }
        drmModeFreePlane(pl);
    }
    drmModeFreePlaneResources(pres);
    return found;
}

// ---------------------------------------------------------------- layouts

// The output of CRTC 0, which every single-output layout lights.
bool first_output(int fd, drmModeRes* res, output& o, failure& fail) {
    o = find_output(fd, res, 0);
    if (o.connector_id == 0 || !o.has_mode) {
        fail = {"no connector with a mode for crtc 0", ENODEV};
        return false;
    }
    return true;
}

bool layout_xrgb_pitch(int fd, drmModeRes* res, const std::string& dir, failure& fail) {
    output o;
    if (!first_output(fd, res, o, fail)) {
        return false;
    }
    static dumb d;  // static: stays mapped while the scene holds
    // 13 extra pixels per row: pitch = (width + 13) * 4, not a power of two.
    if (!make_dumb(fd, d, o.mode.hdisplay, o.mode.hdisplay + 13u, o.mode.vdisplay,
                   DRM_FORMAT_XRGB8888, fail)) {
        return false;
    }
    if (d.pitch <= d.width * 4u) {
        fail = {"driver gave no padded pitch (" + std::to_string(d.pitch) + ")", EINVAL};
        return false;
    }
    paint_a(d);
    fill_padding(d);
    if (!add_fb(fd, d, fail) || !disable_all_crtcs(fd, res, fail) || !set_crtc(fd, o, d, fail)) {
        return false;
    }
    return write_expect(dir, "expect.dump", d);
}

bool layout_outputs(int fd, drmModeRes* res, const std::string& dir, bool light_first,
                    failure& fail) {
    if (res->count_crtcs < 2) {
        fail = {"only " + std::to_string(res->count_crtcs) + " CRTC", ENODEV};
        return false;
    }
    output o0 = find_output(fd, res, 0);
    output o1 = find_output(fd, res, 1);
    if (o0.connector_id == 0 || !o0.has_mode || o1.connector_id == 0) {
        fail = {"no connectors for crtc 0 and 1", ENODEV};
        return false;
    }
    if (!o1.has_mode) {  // a disconnected output lists no modes: reuse output 0's
        o1.mode = o0.mode;
        o1.has_mode = true;
    }
    static dumb a;
    static dumb b;
    if (!make_dumb(fd, a, o0.mode.hdisplay, o0.mode.hdisplay, o0.mode.vdisplay, DRM_FORMAT_XRGB8888,
                   fail) ||
        !make_dumb(fd, b, o1.mode.hdisplay, o1.mode.hdisplay, o1.mode.vdisplay, DRM_FORMAT_XRGB8888,
                   fail)) {
        return false;
    }
    paint_a(a);
    paint_b(b);
    if (!add_fb(fd, a, fail) || !add_fb(fd, b, fail) || !disable_all_crtcs(fd, res, fail)) {
        return false;
    }
    // The second output is lit first, so that the order of setting does not
    // decide which one is captured.
    if (!set_crtc(fd, o1, b, fail)) {
        return false;
    }
    if (light_first) {
        if (!set_crtc(fd, o0, a, fail)) {
            return false;
        }
        return write_expect(dir, "expect.dump", a) && write_expect(dir, "other.dump", b);
    }
    return write_expect(dir, "expect.dump", b);
}

// CRTC 0 active with its primary plane off and the cursor plane showing a
// 64x64 ARGB8888 framebuffer (atomic API).
bool layout_cursor_argb(int fd, drmModeRes* res, const std::string& dir, failure& fail) {
    if (drmSetClientCap(fd, DRM_CLIENT_CAP_ATOMIC, 1) != 0) {
        fail = {"DRM_CLIENT_CAP_ATOMIC", errno};
        return false;
    }
    // Kernels before 6.8 do not know it and show the cursor plane anyway.
    drmSetClientCap(fd, DRM_CLIENT_CAP_CURSOR_PLANE_HOTSPOT, 1);
    output o;
    if (!first_output(fd, res, o, fail)) {
        return false;
    }
    const uint32_t primary = find_plane(fd, 0, DRM_PLANE_TYPE_PRIMARY);
    const uint32_t cursor = find_plane(fd, 0, DRM_PLANE_TYPE_CURSOR);
    if (primary == 0 || cursor == 0) {
        fail = {"no primary or no cursor plane for crtc 0", ENODEV};
        return false;
    }
    static dumb d;
    if (!make_dumb(fd, d, 64, 64, 64, DRM_FORMAT_ARGB8888, fail)) {
        return false;
    }
    // Four flat quadrants (so the PNG stays small and plain) under an alpha
    // byte that varies from pixel to pixel and must be dropped.
    for (uint32_t y = 0; y < 64; ++y) {
        for (uint32_t x = 0; x < 64; ++x) {
            static const uint32_t quad[4] = {0xFF8040, 0x20C0FF, 0x000000, 0xFFFFFF};
            const uint32_t rgb = quad[(y / 32) * 2 + x / 32];
            const uint32_t alpha = (x * 4 + y) & 0xFF;
            put32(d, x, y, (alpha << 24) | rgb);
        }
    }
    if (!add_fb(fd, d, fail)) {
        return false;
    }
    uint32_t blob = 0;
    if (drmModeCreatePropertyBlob(fd, &o.mode, sizeof o.mode, &blob) != 0) {
        fail = {"CREATEPROPBLOB", errno};
        return false;
    }
    drmModeAtomicReq* req = drmModeAtomicAlloc();
    auto add = [&](uint32_t obj, uint32_t type, const char* name, uint64_t value) {
        const uint32_t id = prop_id(fd, obj, type, name);
        if (id == 0 || drmModeAtomicAddProperty(req, obj, id, value) < 0) {
            fail = {std::string("atomic property ") + name, ENOENT};
            return false;
        }
        return true;
    };
    // Every other CRTC off, so that no CRTC at all reports a framebuffer.
    bool ok = true;
    for (int i = 0; i < res->count_crtcs && ok; ++i) {
        if (i == 0) {
            continue;
        }
        ok = add(res->crtcs[i], DRM_MODE_OBJECT_CRTC, "ACTIVE", 0) &&
             add(res->crtcs[i], DRM_MODE_OBJECT_CRTC, "MODE_ID", 0);
        for (unsigned t : {DRM_PLANE_TYPE_PRIMARY, DRM_PLANE_TYPE_CURSOR}) {
            const uint32_t pl = find_plane(fd, static_cast<unsigned>(i), t);
            if (ok && pl != 0) {
                ok = add(pl, DRM_MODE_OBJECT_PLANE, "FB_ID", 0) &&
                     add(pl, DRM_MODE_OBJECT_PLANE, "CRTC_ID", 0);
            }
        }
    }
    for (int c = 0; c < res->count_connectors && ok; ++c) {
        ok = add(res->connectors[c], DRM_MODE_OBJECT_CONNECTOR, "CRTC_ID",
                 res->connectors[c] == o.connector_id ? o.crtc_id : 0);
    }
    const uint32_t crtc_type = DRM_MODE_OBJECT_CRTC;
    const uint32_t plane_type = DRM_MODE_OBJECT_PLANE;
    ok = ok && add(o.crtc_id, crtc_type, "MODE_ID", blob) &&
         add(o.crtc_id, crtc_type, "ACTIVE", 1) && add(primary, plane_type, "FB_ID", 0) &&
         add(primary, plane_type, "CRTC_ID", 0) && add(cursor, plane_type, "FB_ID", d.fb_id) &&
         add(cursor, plane_type, "CRTC_ID", o.crtc_id) && add(cursor, plane_type, "SRC_X", 0) &&
         add(cursor, plane_type, "SRC_Y", 0) && add(cursor, plane_type, "SRC_W", 64u << 16) &&
         add(cursor, plane_type, "SRC_H", 64u << 16) && add(cursor, plane_type, "CRTC_X", 16) &&
         add(cursor, plane_type, "CRTC_Y", 16) && add(cursor, plane_type, "CRTC_W", 64) &&
         add(cursor, plane_type, "CRTC_H", 64);
    log_output(o, d, "atomic commit, primary plane off, cursor plane at 16,16");
    if (ok && drmModeAtomicCommit(fd, req, DRM_MODE_ATOMIC_ALLOW_MODESET, nullptr) != 0) {
        fail = {"ATOMIC commit (primary off, cursor on)", errno};
        ok = false;
    }
    drmModeAtomicFree(req);
    return ok && write_expect(dir, "expect.dump", d);
}

// RGB565: seven cells with the values of the conversion table in the top rows,
// then every 16-bit value in order.
const uint16_t table565[7] = {0x0000, 0xFFFF, 0xF800, 0x07E0, 0x001F, 0x8410, 0x0821};

bool layout_rgb565_table(int fd, drmModeRes* res, const std::string& dir, failure& fail) {
    output o;
    if (!first_output(fd, res, o, fail)) {
        return false;
    }
    static dumb d;
    if (!make_dumb(fd, d, o.mode.hdisplay, o.mode.hdisplay, o.mode.vdisplay, DRM_FORMAT_RGB565,
                   fail)) {
        return false;
    }
    if (static_cast<uint64_t>(d.width) * (d.height - 16u) < 65536u) {
        fail = {"mode too small for all 65536 values", EINVAL};
        return false;
    }
    for (uint32_t y = 0; y < d.height; ++y) {
        for (uint32_t x = 0; x < d.width; ++x) {
            uint16_t v;
            if (y < 16) {
                v = (x / 16 < 7) ? table565[x / 16] : static_cast<uint16_t>(0x8410);
            } else {
                v = static_cast<uint16_t>((y - 16) * d.width + x);
            }
            put16(d, x, y, v);
        }
    }
    fill_padding(d);
    if (!add_fb(fd, d, fail) || !disable_all_crtcs(fd, res, fail) || !set_crtc(fd, o, d, fail)) {
        return false;
    }
    return write_expect(dir, "expect.dump", d);
}

bool layout_rgb888(int fd, drmModeRes* res, const std::string& dir, failure& fail) {
    output o;
    if (!first_output(fd, res, o, fail)) {
        return false;
    }
    static dumb d;
    if (!make_dumb(fd, d, o.mode.hdisplay, o.mode.hdisplay, o.mode.vdisplay, DRM_FORMAT_RGB888,
                   fail)) {
        return false;
    }
    for (uint32_t y = 0; y < d.height; ++y) {
        uint8_t* row = d.map + static_cast<uint64_t>(y) * d.pitch;
        for (uint32_t x = 0; x < d.width * 3u; ++x) {
            row[x] = static_cast<uint8_t>(x + y);
        }
    }
    if (!add_fb(fd, d, fail) || !disable_all_crtcs(fd, res, fail) || !set_crtc(fd, o, d, fail)) {
        return false;
    }
    return write_expect(dir, "expect.dump", d);
}

// off: every CRTC switched off by a mode-set, as a display server does when
// it powers its outputs down; nothing to dump.
bool layout_off(int fd, drmModeRes* res, failure& fail) {
    return disable_all_crtcs(fd, res, fail);
}

// ---------------------------------------------------------------- load scenes

// A scene that keeps changing the screen: the two pictures, the frame on
// screen and how the next one gets there.
struct load_scene {
    bool replace = false;  // replace: a fresh buffer per change; else flips
    long period_us = 0;    // the animation's, when it is one
    int fd = -1;
    output out;
    std::string dir;
    bool page_flip = true;        // false once the driver refused the ioctl
    dumb frames[2];               // frames[0] shows A, frames[1] shows B
    std::vector<uint8_t> art[2];  // replace: A and B as drawn, padding included
    unsigned shown = 0;           // index of the frame on screen
    uint64_t changes = 0;
};

void on_flip_done(int, unsigned, unsigned, unsigned, void* done) {
    *static_cast<bool*>(done) = true;
}

bool wait_for_flip(int fd, bool& done, failure& fail) {
    drmEventContext events{};
    events.version = 2;
    events.page_flip_handler = on_flip_done;
    while (!done) {
        pollfd p{fd, POLLIN, 0};
        const int n = poll(&p, 1, 5000);
        if (n <= 0) {
            fail = {"waiting for the page flip event", n == 0 ? ETIMEDOUT : errno};
            return false;
        }
        if (drmHandleEvent(fd, &events) != 0) {
            fail = {"reading the page flip event", errno};
            return false;
        }
    }
    return true;
}

// Puts d on screen and returns once it is there. The first refusal of the page
// flip ioctl switches the scene to SETCRTC for good.
bool show(load_scene& s, const dumb& d, failure& fail) {
    if (s.page_flip) {
        bool done = false;
        if (drmModePageFlip(s.fd, s.out.crtc_id, d.fb_id, DRM_MODE_PAGE_FLIP_EVENT, &done) == 0) {
            return wait_for_flip(s.fd, done, fail);
        }
        if (s.changes != 0) {
            fail = {"PAGE_FLIP", errno};
            return false;
        }
        std::fprintf(stderr, "scene: the driver refused PAGE_FLIP (%s): SETCRTC instead\n",
                     std::strerror(errno));
        s.page_flip = false;
    }
    uint32_t conn = s.out.connector_id;
    drmModeModeInfo mode = s.out.mode;
    if (drmModeSetCrtc(s.fd, s.out.crtc_id, d.fb_id, 0, 0, &conn, 1, &mode) != 0) {
        fail = {"SETCRTC", errno};
        return false;
    }
    return true;
}

bool destroy_frame(int fd, dumb& d, failure& fail) {
    if (drmModeRmFB(fd, d.fb_id) != 0) {
        fail = {"RMFB " + std::to_string(d.fb_id), errno};
        return false;
    }
    munmap(d.map, d.size);
    drm_mode_destroy_dumb destroy{};
    destroy.handle = d.handle;
    if (drmIoctl(fd, DRM_IOCTL_MODE_DESTROY_DUMB, &destroy) != 0) {
        fail = {"DESTROY_DUMB", errno};
        return false;
    }
    d = dumb{};
    return true;
}

// The new count replaces the old file in one step, so a reader never sees a
// half-written number.
bool write_count(const load_scene& s) {
    const std::string path = s.dir + "/count";
    FILE* f = std::fopen((path + ".new").c_str(), "w");
    if (f == nullptr) {
        return false;
    }
    std::fprintf(f, "%llu\n", static_cast<unsigned long long>(s.changes));
    return std::fclose(f) == 0 && std::rename((path + ".new").c_str(), path.c_str()) == 0;
}

bool write_text(const std::string& path, const std::string& text) {
    FILE* f = std::fopen(path.c_str(), "w");
    if (f == nullptr) {
        return false;
    }
    std::fputs(text.c_str(), f);
    return std::fclose(f) == 0;
}

// flips: the other of the two framebuffers goes on screen.
bool flip_step(load_scene& s, failure& fail) {
    const unsigned next = 1 - s.shown;
    if (!show(s, s.frames[next], fail)) {
        return false;
    }
    s.shown = next;
    return true;
}

// replace: a fresh buffer with the other picture, completely drawn before it
// becomes a framebuffer; then the old framebuffer and its buffer go.
bool replace_step(load_scene& s, failure& fail) {
    const unsigned next = 1 - s.shown;
    dumb& fresh = s.frames[next];
    if (!make_dumb(s.fd, fresh, s.out.mode.hdisplay, s.out.mode.hdisplay, s.out.mode.vdisplay,
                   DRM_FORMAT_XRGB8888, fail)) {
        return false;
    }
    if (fresh.size != s.art[next].size()) {
        fail = {"a fresh buffer of another size (" + std::to_string(fresh.size) + ")", EINVAL};
        return false;
    }
    std::memcpy(fresh.map, s.art[next].data(), fresh.size);
    if (!add_fb(s.fd, fresh, fail) || !show(s, fresh, fail) ||
        !destroy_frame(s.fd, s.frames[s.shown], fail)) {
        return false;
    }
    s.shown = next;
    return true;
}

// Both pictures as framebuffers and dumps, A on screen. For replace, B's
// framebuffer goes again at once: its picture is kept to draw fresh buffers.
bool layout_load(int fd, drmModeRes* res, const std::string& dir, load_scene& s, failure& fail) {
    if (!first_output(fd, res, s.out, fail)) {
        return false;
    }
    s.fd = fd;
    s.dir = dir;
    for (dumb& d : s.frames) {
        if (!make_dumb(fd, d, s.out.mode.hdisplay, s.out.mode.hdisplay, s.out.mode.vdisplay,
                       DRM_FORMAT_XRGB8888, fail) ||
            !add_fb(fd, d, fail)) {
            return false;
        }
    }
    paint_a(s.frames[0]);
    paint_b(s.frames[1]);
    if (!write_expect(dir, "a.dump", s.frames[0]) || !write_expect(dir, "b.dump", s.frames[1])) {
        return false;
    }
    if (!disable_all_crtcs(fd, res, fail) || !set_crtc(fd, s.out, s.frames[0], fail)) {
        return false;
    }
    if (s.replace) {
        for (unsigned i = 0; i < 2; ++i) {
            s.art[i].assign(s.frames[i].map, s.frames[i].map + s.frames[i].size);
        }
        if (!destroy_frame(fd, s.frames[1], fail)) {
            return false;
        }
    }
    return write_count(s);
}

// Counts a change of the screen: how it was made after the first, the count
// after each.
void count_change(load_scene& s) {
    ++s.changes;
    if (s.changes == 1 &&
        !write_text(s.dir + "/method", s.page_flip ? "page-flip\n" : "setcrtc\n")) {
        die("write " + s.dir + "/method");
    }
    if (!write_count(s)) {
        die("write " + s.dir + "/count");
    }
}

// Changes the screen at irregular intervals of 2 to 12 ms until SIGTERM or
// SIGINT (blocked, in set) arrives. Irregular, so that the changes cannot keep
// step with a caller that samples the screen at a steady pace.
int run_load(load_scene& s, const sigset_t& set) {
    uint32_t rng = 0x2545F491u;
    for (;;) {
        rng ^= rng << 13;
        rng ^= rng >> 17;
        rng ^= rng << 5;
        const long ms = 2 + static_cast<long>(rng % 11);
        const timespec pause{0, ms * 1000000L};
        if (sigtimedwait(&set, nullptr, &pause) >= 0) {
            break;
        }
        if (errno != EAGAIN && errno != EINTR) {
            die("sigtimedwait");
        }
        failure fail{"", 0};
        const bool ok = s.replace ? replace_step(s, fail) : flip_step(s, fail);
        if (!ok) {
            std::fprintf(stderr, "scene: change %llu failed: %s: %s\n",
                         static_cast<unsigned long long>(s.changes + 1), fail.step.c_str(),
                         std::strerror(fail.err));
            return 4;
        }
        count_change(s);
    }
    std::fprintf(stderr, "scene: %llu changes by %s\n", static_cast<unsigned long long>(s.changes),
                 s.page_flip ? "page flip" : "SETCRTC");
    return 0;
}

// ---------------------------------------------------------------- animation

// Frame k into d (a little-endian XRGB8888 buffer, as wchar_t 32 bits wide).
void draw_frame(dumb& d, uint32_t k) {
    static_assert(sizeof(wchar_t) == sizeof(uint32_t));
    for (uint32_t y = 0; y < d.height; ++y) {
        auto* row = reinterpret_cast<wchar_t*>(d.map + static_cast<uint64_t>(y) * d.pitch);
        std::wmemset(row, static_cast<wchar_t>(animation_word(k, y)), d.width);
    }
}

// Frame 0 on screen in buffer 0, frame 1 drawn into buffer 1.
bool layout_animation(int fd, drmModeRes* res, const std::string& dir, load_scene& s,
                      failure& fail) {
    if (!first_output(fd, res, s.out, fail)) {
        return false;
    }
    s.fd = fd;
    s.dir = dir;
    for (uint32_t k = 0; k < 2; ++k) {
        dumb& d = s.frames[k];
        if (!make_dumb(fd, d, s.out.mode.hdisplay, s.out.mode.hdisplay, s.out.mode.vdisplay,
                       DRM_FORMAT_XRGB8888, fail) ||
            !add_fb(fd, d, fail)) {
            return false;
        }
        draw_frame(d, k);
    }
    return disable_all_crtcs(fd, res, fail) && set_crtc(fd, s.out, s.frames[0], fail) &&
           write_count(s);
}

timespec plus_us(timespec t, long us) {
    t.tv_nsec += us * 1000L;
    t.tv_sec += t.tv_nsec / 1000000000L;
    t.tv_nsec %= 1000000000L;
    return t;
}

// Microseconds from a to b.
long us_between(const timespec& a, const timespec& b) {
    return (b.tv_sec - a.tv_sec) * 1000000L + (b.tv_nsec - a.tv_nsec) / 1000L;
}

// Flips to the next frame every period until SIGTERM or SIGINT (blocked, in
// set) arrives, redrawing the buffer that has just left the screen at once.
// Like a compositor, it runs ahead of other programs (real-time priority,
// where it may have it): the tool under test must not slow the animation.
int run_animation(load_scene& s, const sigset_t& set) {
    const sched_param priority{10};
    if (sched_setscheduler(0, SCHED_FIFO, &priority) != 0) {
        std::fprintf(stderr, "scene: no real-time priority: %s\n", std::strerror(errno));
    }
    timespec next;
    clock_gettime(CLOCK_MONOTONIC, &next);
    for (;;) {
        next = plus_us(next, s.period_us);
        timespec now;
        clock_gettime(CLOCK_MONOTONIC, &now);
        const long wait_us = us_between(now, next);
        if (wait_us <= 0) {
            next = now;  // late: this flip goes now, the next a period later
        }
        const timespec pause{wait_us > 0 ? wait_us / 1000000L : 0,
                             wait_us > 0 ? wait_us % 1000000L * 1000L : 0};
        if (sigtimedwait(&set, nullptr, &pause) >= 0) {
            break;
        }
        if (errno != EAGAIN && errno != EINTR) {
            die("sigtimedwait");
        }
        const uint64_t shown = s.changes;
        failure fail{"", 0};
        if (!show(s, s.frames[(shown + 1) % 2], fail)) {
            std::fprintf(stderr, "scene: flip to frame %llu failed: %s: %s\n",
                         static_cast<unsigned long long>(shown + 1), fail.step.c_str(),
                         std::strerror(fail.err));
            return 4;
        }
        count_change(s);
        draw_frame(s.frames[shown % 2], static_cast<uint32_t>(shown + 2));
    }
    std::fprintf(stderr, "scene: animation reached frame %llu, a flip every %ld us\n",
                 static_cast<unsigned long long>(s.changes), s.period_us);
    return 0;
}

// -r: master given up at once, and taken back once EXPECTDIR/regain exists.
void hand_master_over(int fd, const std::string& dir) {
    if (drmDropMaster(fd) != 0) {
        die("DROP_MASTER");
    }
    if (!write_text(dir + "/dropped", "")) {
        die("write " + dir + "/dropped");
    }
    const std::string regain = dir + "/regain";
    for (int i = 0; i < 3000 && access(regain.c_str(), F_OK) != 0; ++i) {
        usleep(10000);
    }
}

int cmd_hold(const std::string& dev, long period_us, bool regain_master, const std::string& layout,
             const std::string& ready, const std::string& dir) {
    // Block the signals that end the hold before anything else, so that one
    // sent early is not lost.
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    sigprocmask(SIG_BLOCK, &set, nullptr);

    const int fd = open(dev.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        die("open " + dev);
    }
    failure fail{"", 0};
    bool ok = true;
    static load_scene load;  // static: its buffers stay mapped while the scene runs
    bool loading = false;
    if (regain_master) {
        hand_master_over(fd, dir);
    }
    if (drmIsMaster(fd) == 0 && drmSetMaster(fd) != 0) {
        fail = {"SET_MASTER", errno};
        ok = false;
    }
    drmSetClientCap(fd, DRM_CLIENT_CAP_UNIVERSAL_PLANES, 1);
    drmModeRes* res = ok ? drmModeGetResources(fd) : nullptr;
    if (ok && res == nullptr) {
        fail = {"GETRESOURCES", errno};
        ok = false;
    }
    if (ok) {
        if (layout == "xrgb-pitch") {
            ok = layout_xrgb_pitch(fd, res, dir, fail);
        } else if (layout == "two-outputs") {
            ok = layout_outputs(fd, res, dir, true, fail);
        } else if (layout == "second-only") {
            ok = layout_outputs(fd, res, dir, false, fail);
        } else if (layout == "cursor-argb") {
            ok = layout_cursor_argb(fd, res, dir, fail);
        } else if (layout == "rgb565-table") {
            ok = layout_rgb565_table(fd, res, dir, fail);
        } else if (layout == "rgb888") {
            ok = layout_rgb888(fd, res, dir, fail);
        } else if (layout == "off") {
            ok = layout_off(fd, res, fail);
        } else if (layout == "flips" || layout == "replace") {
            load.replace = layout == "replace";
            loading = true;
            ok = layout_load(fd, res, dir, load, fail);
        } else if (layout == "animation") {
            load.period_us = period_us;
            loading = true;
            ok = layout_animation(fd, res, dir, load, fail);
        } else {
            std::fprintf(stderr, "scene: unknown layout %s\n", layout.c_str());
            return 2;
        }
        if (!ok && fail.step.empty()) {
            fail = {"writing the expected dump to " + dir, errno};
        }
    }
    FILE* f = std::fopen(ready.c_str(), "w");
    if (f == nullptr) {
        die("open " + ready);
    }
    if (ok) {
        std::fputs("ok\n", f);
    } else {
        std::fprintf(f, "refused %s: %s\n", fail.step.c_str(), std::strerror(fail.err));
    }
    std::fclose(f);
    if (!ok) {
        return 3;
    }
    int status = 0;
    if (loading) {
        status = load.period_us != 0 ? run_animation(load, set) : run_load(load, set);
    } else {
        int sig = 0;
        sigwait(&set, &sig);
    }
    drmModeFreeResources(res);
    close(fd);
    return status;
}

// ---------------------------------------------------------------- reader

int cmd_dump(const std::string& dev, const std::string& out) {
    const int fd = open(dev.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        die("open " + dev);
    }
    drmSetClientCap(fd, DRM_CLIENT_CAP_UNIVERSAL_PLANES, 1);
    drmModeRes* res = drmModeGetResources(fd);
    if (res == nullptr) {
        die("drmModeGetResources");
    }
    uint32_t fb_id = 0;
    for (int i = 0; i < res->count_crtcs && fb_id == 0; ++i) {
        drmModeCrtc* c = drmModeGetCrtc(fd, res->crtcs[i]);
        if (c != nullptr) {
            fb_id = c->buffer_id;
            drmModeFreeCrtc(c);
        }
    }
    drmModeFreeResources(res);
    if (fb_id == 0) {
        drmModePlaneRes* pres = drmModeGetPlaneResources(fd);
        for (uint32_t i = 0; pres != nullptr && i < pres->count_planes && fb_id == 0; ++i) {
            drmModePlane* p = drmModeGetPlane(fd, pres->planes[i]);
            if (p != nullptr) {
                if (p->crtc_id != 0 && p->fb_id != 0) {
                    fb_id = p->fb_id;
                }
                drmModeFreePlane(p);
            }
        }
        if (pres != nullptr) {
            drmModeFreePlaneResources(pres);
        }
    }
    if (fb_id == 0) {
        std::fprintf(stderr, "scene: dump: nothing on screen\n");
        return 2;
    }
    drmModeFB2* fb = drmModeGetFB2(fd, fb_id);
    if (fb == nullptr) {
        die("drmModeGetFB2");
    }
    if (fb->handles[0] == 0) {
        std::fprintf(stderr, "scene: dump: no buffer handle (not master, not privileged)\n");
        return 2;
    }
    const uint64_t length =
        static_cast<uint64_t>(fb->offsets[0]) + static_cast<uint64_t>(fb->pitches[0]) * fb->height;
    const uint8_t* base = nullptr;
    const char* how = "dumb";
    int dmabuf = -1;
    drm_mode_map_dumb map{};
    map.handle = fb->handles[0];
    void* p = MAP_FAILED;
    if (drmIoctl(fd, DRM_IOCTL_MODE_MAP_DUMB, &map) == 0) {
        p = mmap(nullptr, length, PROT_READ, MAP_SHARED, fd, static_cast<off_t>(map.offset));
    }
    if (p == MAP_FAILED) {
        how = "prime";
        if (drmPrimeHandleToFD(fd, fb->handles[0], DRM_CLOEXEC, &dmabuf) != 0) {
            die("drmPrimeHandleToFD");
        }
        p = mmap(nullptr, length, PROT_READ, MAP_SHARED, dmabuf, 0);
        if (p == MAP_FAILED) {
            die("mmap dma-buf");
        }
        dma_buf_sync sync{DMA_BUF_SYNC_START | DMA_BUF_SYNC_READ};
        ioctl(dmabuf, DMA_BUF_IOCTL_SYNC, &sync);
    }
    base = static_cast<const uint8_t*>(p) + fb->offsets[0];
    if (bytes_per_pixel(fb->pixel_format) == 0) {
        std::fprintf(stderr, "scene: dump: format 0x%08x not known\n", fb->pixel_format);
        return 2;
    }
    if (!write_dump(out, fb->pixel_format, fb->width, fb->height, fb->pitches[0], base)) {
        die("write " + out);
    }
    std::fprintf(stderr, "scene: dump: fb %u %ux%u pitch %u format 0x%08x modifier 0x%llx via %s\n",
                 fb_id, fb->width, fb->height, fb->pitches[0], fb->pixel_format,
                 static_cast<unsigned long long>(fb->modifier), how);
    if (dmabuf >= 0) {
        dma_buf_sync sync{DMA_BUF_SYNC_END | DMA_BUF_SYNC_READ};
        ioctl(dmabuf, DMA_BUF_IOCTL_SYNC, &sync);
    }
    munmap(p, length);
    if (dmabuf >= 0) {
        close(dmabuf);
    }
    drmModeFreeFB2(fb);
    close(fd);
    return 0;
}

int cmd_prime(const std::string& dev) {
    const int fd = open(dev.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        die("open " + dev);
    }
    uint64_t cap = 0;
    if (drmGetCap(fd, DRM_CAP_PRIME, &cap) != 0) {
        die("drmGetCap(DRM_CAP_PRIME)");
    }
    const bool import = (cap & DRM_PRIME_CAP_IMPORT) != 0;
    const bool exports = (cap & DRM_PRIME_CAP_EXPORT) != 0;
    std::printf("%s\n", import && exports ? "import export"
                        : import          ? "import"
                        : exports         ? "export"
                                          : "none");
    close(fd);
    return 0;
}

// One line per plane on standard output: its type, CRTC and framebuffer, and
// for a plane that shows one, the framebuffer's size, pitch, format and
// modifier and where the plane puts it. Atomic, for the planes' positions.
int cmd_planes(const std::string& dev) {
    const int fd = open(dev.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        die("open " + dev);
    }
    drmSetClientCap(fd, DRM_CLIENT_CAP_UNIVERSAL_PLANES, 1);
    if (drmSetClientCap(fd, DRM_CLIENT_CAP_ATOMIC, 1) != 0) {
        die("DRM_CLIENT_CAP_ATOMIC");
    }
    // Kernels before 6.8 do not know it and show the cursor plane anyway.
    drmSetClientCap(fd, DRM_CLIENT_CAP_CURSOR_PLANE_HOTSPOT, 1);
    drmModePlaneRes* pres = drmModeGetPlaneResources(fd);
    if (pres == nullptr) {
        die("drmModeGetPlaneResources");
    }
    for (uint32_t i = 0; i < pres->count_planes; ++i) {
        drmModePlane* pl = drmModeGetPlane(fd, pres->planes[i]);
        if (pl == nullptr) {
            continue;
        }
        const auto prop = [&](const char* name) {
            return prop_value(fd, pl->plane_id, DRM_MODE_OBJECT_PLANE, name);
        };
        const uint64_t type = prop("type");
        const char* type_name = type == DRM_PLANE_TYPE_PRIMARY  ? "primary"
                                : type == DRM_PLANE_TYPE_CURSOR ? "cursor"
                                                                : "overlay";
        std::printf("plane %u %s crtc %u fb %u", pl->plane_id, type_name, pl->crtc_id, pl->fb_id);
        drmModeFB2* fb = pl->fb_id != 0 ? drmModeGetFB2(fd, pl->fb_id) : nullptr;
        if (fb != nullptr) {
            std::printf(
                " %ux%u pitch %u format 0x%08x modifier 0x%llx src %llu,%llu %llux%llu"
                " at %lld,%lld %llux%llu",
                fb->width, fb->height, fb->pitches[0], fb->pixel_format,
                static_cast<unsigned long long>(fb->modifier),
                static_cast<unsigned long long>(prop("SRC_X") >> 16),
                static_cast<unsigned long long>(prop("SRC_Y") >> 16),
                static_cast<unsigned long long>(prop("SRC_W") >> 16),
                static_cast<unsigned long long>(prop("SRC_H") >> 16),
                static_cast<long long>(static_cast<int64_t>(prop("CRTC_X"))),
                static_cast<long long>(static_cast<int64_t>(prop("CRTC_Y"))),
                static_cast<unsigned long long>(prop("CRTC_W")),
                static_cast<unsigned long long>(prop("CRTC_H")));
            drmModeFreeFB2(fb);
        }
        std::printf("\n");
        drmModeFreePlane(pl);
    }
    drmModeFreePlaneResources(pres);
    close(fd);
    return 0;
}

int cmd_runas(char** argv) {
    const auto uid = static_cast<uid_t>(std::strtoul(argv[0], nullptr, 10));
    const auto gid = static_cast<gid_t>(std::strtoul(argv[1], nullptr, 10));
    if (setgroups(0, nullptr) != 0 || setgid(gid) != 0 || setuid(uid) != 0) {
        die("runas");
    }
    execv(argv[2], argv + 2);
    die(std::string("exec ") + argv[2]);
}

int usage() {
    std::fputs(
        "usage: scene dump [-d DEV] OUT\n"
        "       scene hold [-d DEV] [-p PERIOD_US] [-r] LAYOUT READYFILE EXPECTDIR\n"
        "       scene prime [-d DEV]\n"
        "       scene planes [-d DEV]\n"
        "       scene runas UID GID PROGRAM [ARG...]\n",
        stderr);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        return usage();
    }
    const std::string cmd = argv[1];
    std::vector<std::string> args(argv + 2, argv + argc);
    std::string dev = "/dev/dri/card0";
    if (cmd == "runas") {
        return argc >= 5 ? cmd_runas(argv + 2) : usage();
    }
    if (args.size() >= 2 && args[0] == "-d") {
        dev = args[1];
        args.erase(args.begin(), args.begin() + 2);
    }
    long period_us = 16667;
    if (cmd == "hold" && args.size() >= 2 && args[0] == "-p") {
        period_us = std::strtol(args[1].c_str(), nullptr, 10);
        args.erase(args.begin(), args.begin() + 2);
    }
    if (cmd == "planes" && args.empty()) {
        return cmd_planes(dev);
    }
    if (cmd == "dump" && args.size() == 1) {
        return cmd_dump(dev, args[0]);
    }
    if (cmd == "prime" && args.empty()) {
        return cmd_prime(dev);
    }
    const bool regain_master = cmd == "hold" && !args.empty() && args[0] == "-r";
    if (regain_master) {
        args.erase(args.begin());
    }
    if (cmd == "hold" && args.size() == 3) {
        return cmd_hold(dev, period_us, regain_master, args[0], args[1], args[2]);
    }
    return usage();
}
