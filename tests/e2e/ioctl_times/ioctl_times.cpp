// scanoutsnap-e2e-ioctl-times: preloaded into the tool in the guest, it
// notes when the tool asks the kernel for a framebuffer's description
// (GETFB2: one per attempt at the capture), for a CRTC or a plane (discovery,
// and the checks during and after the read) and for the dma-buf's CPU access
// (SYNC, start and end), and writes them, one "NAME NANOSECONDS" line each,
// to the file named by E2E_IOCTL_TIMES when the tool exits. It changes
// nothing the tool sees: every call goes on to the C library's ioctl.
//
// With E2E_PAUSE_DIR set it also holds the tool, device open, at its first
// GETRESOURCES (the start of discovery): it creates PAUSE_DIR/holding and
// waits, up to 30 s, until PAUSE_DIR/go exists, so that another process can
// act on the device meanwhile.
//
// The file is opened when the tool starts, as the tool's user then (root),
// so that it can be written after the tool has become the sudo caller.

#include <dlfcn.h>
#include <fcntl.h>
#include <linux/dma-buf.h>
#include <unistd.h>
#include <xf86drm.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace {

struct event {
    const char* name;
    long long ns;
};

event events[4096];
int count = 0;
int out = -1;

const char* name_of(unsigned long request, const void* argument) {
    switch (request) {
        case DRM_IOCTL_MODE_GETFB2:
            return "GETFB2";
        case DRM_IOCTL_MODE_GETCRTC:
            return "GETCRTC";
        case DRM_IOCTL_MODE_GETPLANE:
            return "GETPLANE";
        case DMA_BUF_IOCTL_SYNC:
            return (static_cast<const dma_buf_sync*>(argument)->flags & DMA_BUF_SYNC_END) != 0
                       ? "SYNC_END"
                       : "SYNC_START";
        default:
            return nullptr;
    }
}

void pause_at_discovery() {
    static bool paused = false;
    const char* dir = std::getenv("E2E_PAUSE_DIR");
    if (paused || dir == nullptr) {
        return;
    }
    paused = true;
    char path[4096];
    std::snprintf(path, sizeof path, "%s/holding", dir);
    close(open(path, O_WRONLY | O_CREAT | O_CLOEXEC, 0644));
    std::snprintf(path, sizeof path, "%s/go", dir);
    for (int i = 0; i < 3000 && access(path, F_OK) != 0; ++i) {
        usleep(10000);
    }
}

long long now_ns() {
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1000000000LL + t.tv_nsec;
}

__attribute__((constructor)) void open_output() {
    if (const char* path = std::getenv("E2E_IOCTL_TIMES")) {
        out = open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    }
}

__attribute__((destructor)) void write_output() {
    for (int i = 0; i < count && out != -1; ++i) {
        char line[64];
        const int n = std::snprintf(line, sizeof line, "%s %lld\n", events[i].name, events[i].ns);
        if (write(out, line, static_cast<size_t>(n)) != n) {
            break;
        }
    }
}

}  // namespace

extern "C" int ioctl(int fd, unsigned long request, ...) {
    va_list args;
    va_start(args, request);
    void* argument = va_arg(args, void*);
    va_end(args);
    static auto* next =
        reinterpret_cast<int (*)(int, unsigned long, void*)>(dlsym(RTLD_NEXT, "ioctl"));
    const char* name = name_of(request, argument);
    if (request == DRM_IOCTL_MODE_GETRESOURCES) {
        pause_at_discovery();
    }
    const int result = next(fd, request, argument);
    if (name != nullptr && count < 4096) {
        events[count++] = {name, now_ns()};
    }
    return result;
}
