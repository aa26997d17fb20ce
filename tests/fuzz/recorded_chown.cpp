#include "recorded_chown.hpp"

#include <unistd.h>

#include <cerrno>

extern "C" int chown(const char* path, uid_t uid, gid_t gid) noexcept {
    recorded_chown::requests.push_back({path, uid, gid});
    if (recorded_chown::failure_errno != 0) {
        errno = recorded_chown::failure_errno;
        return -1;
    }
    return 0;
}
