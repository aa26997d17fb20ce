#pragma once

#include "capture/unique_fd.hpp"
#include "outcome.hpp"

// Opens the DRM device read-write (a path that names no DRM device is never
// opened so: it fails as such an open and capability query would), gives up
// DRM master when running as root, makes sure the driver can export buffers
// through PRIME and switches on universal planes, so that primary and cursor
// planes are listed too.
outcome<unique_fd> open_drm_device(const char* device_path);
