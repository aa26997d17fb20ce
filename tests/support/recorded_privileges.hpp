#pragma once

#include <cstdint>
#include <utility>
#include <vector>

// In-process stand-in for the identity switch, which could not be undone:
// it records the ids it was asked for, also among the fake kernel interface's
// events ("become UID:GID"), and fails with failure_errno if set.
namespace recorded_privileges {
inline std::vector<std::pair<std::uint32_t, std::uint32_t>> requests;
inline int failure_errno = 0;
}  // namespace recorded_privileges
