#pragma once

#include <unistd.h>

#include <string>
#include <vector>

// The fake's events of the tool's opening of the device: root gives up DRM
// master first, then the capability calls.
inline std::vector<std::string> device_setup_events() {
    std::vector<std::string> setup;
    if (::geteuid() == 0) {
        setup.push_back("drmDropMaster");
    }
    setup.push_back("drmGetCap(DRM_CAP_PRIME)");
    setup.push_back("drmSetClientCap(UNIVERSAL_PLANES, 1)");
    return setup;
}

// The events after the device's opening.
inline std::vector<std::string> events_after_setup(const std::vector<std::string>& all) {
    const std::size_t setup = device_setup_events().size();
    return std::vector<std::string>(all.begin() + long(std::min(setup, all.size())), all.end());
}
