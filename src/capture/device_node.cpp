#include "capture/device_node.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace {

// The character major the kernel registers all DRM devices under: primary
// and render nodes alike.
constexpr unsigned int drm_major = 226;

bool is_drm_device(const struct stat& file) {
    return S_ISCHR(file.st_mode) && ::major(file.st_rdev) == drm_major;
}

bool same_file(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_rdev == b.st_rdev;
}

// What open(O_RDWR) of a file that is not a DRM device fails with, asked
// without opening it: the kernel refuses a directory for writing before it
// looks at permissions, access() checks the permissions open() checks, and
// a socket cannot be opened at all. 0 when it would open.
int read_write_open_error(const char* path, const struct stat& file) {
    if (S_ISDIR(file.st_mode)) {
        return EISDIR;
    }
    if (::access(path, R_OK | W_OK) != 0) {
        return errno;
    }
    return S_ISSOCK(file.st_mode) ? ENXIO : 0;
}

// Opens the file behind an O_PATH descriptor for reading and writing:
// through /proc/self/fd, which names that very file whatever has happened to
// the path since; where /proc is not mounted, through the path again, the
// caller checking that it is still the same file.
unique_fd reopen_read_write(int node, const char* path) {
    char own_name[32];
    std::snprintf(own_name, sizeof own_name, "/proc/self/fd/%d", node);
    unique_fd device(::open(own_name, O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (!device && errno == ENOENT && ::access("/proc/self/fd", F_OK) != 0) {
        device = unique_fd(::open(path, O_RDWR | O_NOCTTY | O_CLOEXEC));
    }
    return device;
}

}  // namespace

device_node open_device_node(const char* path) {
    const unique_fd node(::open(path, O_PATH | O_CLOEXEC));
    struct stat seen {};
    if (!node || ::fstat(node.get(), &seen) != 0) {
        return {unique_fd(), errno};
    }
    if (!is_drm_device(seen)) {
        return {unique_fd(), read_write_open_error(path, seen)};
    }
    unique_fd device = reopen_read_write(node.get(), path);
    if (!device) {
        return {unique_fd(), errno};
    }
    struct stat opened {};
    if (::fstat(device.get(), &opened) != 0 || !same_file(seen, opened)) {
        // Only through the path again: it names another file by now.
        return {unique_fd(), ESTALE};
    }
    return {std::move(device), 0};
}
