#include "recorded_privileges.hpp"

#include <cerrno>
#include <string>

#include "fake_kms.hpp"
#include "output/privileges.hpp"

int drop_privileges_to(std::uint32_t uid, std::uint32_t gid) {
    recorded_privileges::requests.emplace_back(uid, gid);
    fake_kms::note("become " + std::to_string(uid) + ":" + std::to_string(gid));
    if (recorded_privileges::failure_errno != 0) {
        errno = recorded_privileges::failure_errno;
        return -1;
    }
    return 0;
}
