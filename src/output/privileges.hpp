#pragma once

#include <cstdint>

// Becomes the given user for good: supplementary groups, group, then user.
// A gid of unset_id stands for the user's own group. Returns 0, with errno as
// it was before; or -1 with the failing step's errno (EPERM when root could
// still be regained afterwards, EINVAL when the group has to come from a user
// the system does not know).
int drop_privileges_to(std::uint32_t uid, std::uint32_t gid);
