#pragma once

// In-process stand-in for chown: as root a real one would hand the fuzzer's
// output (or /dev/full) to whatever ids the input names. It records each call
// and fails with failure_errno if that is set.

#include <cstdint>
#include <string>
#include <vector>

namespace recorded_chown {

struct request {
    std::string path;
    std::uint32_t uid;
    std::uint32_t gid;
};

inline std::vector<request> requests;
inline int failure_errno = 0;

}  // namespace recorded_chown
