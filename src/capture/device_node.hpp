#pragma once

#include "capture/unique_fd.hpp"

// What opening the device path for reading and writing gives, found out
// without opening for that anything but a DRM character device: opening alone
// arms a watchdog, blocks on a serial line's carrier or makes a terminal the
// controlling one.
struct device_node {
    unique_fd device;  // open read-write when the path names a DRM device that opened
    // Otherwise the error opening it read-write gave or would give; 0 when a
    // file that is not a DRM device would have opened.
    int open_error = 0;
};

// Looks at the path first (O_PATH, which runs no driver code), then reopens
// that very file for reading and writing, without becoming its controlling
// terminal, if it is a DRM character device. A file that is not one is
// asked only what opening it would have failed with: a directory with
// EISDIR, a file without permission for reading and writing with access()'s
// error, a socket with ENXIO. errno changes.
device_node open_device_node(const char* path);
