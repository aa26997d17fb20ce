#pragma once

#include <sys/types.h>

#include <cstddef>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "fake_kms.hpp"

namespace fake_kms {

// The one mapping of the exported buffer: the reservation is the mapped pages
// plus one inaccessible page after them, so a read past the end faults.
struct mapping_record {
    void* start = nullptr;
    std::size_t length = 0;
    std::size_t reserved = 0;
};

struct state {
    bool loaded = false;
    script s;
    std::vector<std::string> events;
    std::set<const void*> live;                       // libdrm records handed out and not yet freed
    std::map<std::uint32_t, std::size_t> crtc_reads;  // by CRTC id
    std::map<std::uint32_t, std::size_t> plane_reads;  // by plane id
    std::size_t meminfo_reads = 0;
    int device_fd = -1;  // learnt from the first drmGetCap call
    int dmabuf_fd = -1;
    mapping_record mapping;
    int log_fd = -1;
    uid_t euid_at_load = 0;
    // The fake's clock: the real one's reading when the script was loaded,
    // advanced only by scripted reads.
    std::uint64_t clock_ns = 0;

    void log(const std::string& event);
};

state& the_state();

// The real monotonic clock, in nanoseconds.
std::uint64_t real_monotonic_ns();

// The state, with the script loaded from the environment on first use.
state& ensure_loaded();

}  // namespace fake_kms
