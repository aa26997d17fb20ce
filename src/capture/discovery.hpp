#pragma once

#include <cstdint>

#include "capture/unique_fd.hpp"
#include "outcome.hpp"

// Finds the id of a framebuffer on screen: the first CRTC, in the kernel's
// order, that shows one; failing that, the first plane attached to a CRTC
// that holds one. No libdrm record outlives the call. The device stays with
// the caller, who closes it after a failure has been reported.
outcome<std::uint32_t> find_active_fb(const unique_fd& device, const char* device_path);
