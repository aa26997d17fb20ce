#pragma once

#include "capture/unique_fd.hpp"
#include "outcome.hpp"

// Opens the DRM device read-write, makes sure its driver can export buffers
// through PRIME and switches on universal planes, so that primary and cursor
// planes are listed too.
outcome<unique_fd> open_drm_device(const char* device_path);
