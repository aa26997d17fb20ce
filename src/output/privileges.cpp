#include "output/privileges.hpp"

#include <grp.h>
#include <pwd.h>
#include <unistd.h>

#include <cerrno>

#include "output/sudo_caller.hpp"

namespace {

int set_supplementary_groups(const passwd* user, gid_t gid) {
    if (user != nullptr) {
        return ::initgroups(user->pw_name, gid);
    }
    return ::setgroups(1, &gid);
}

}  // namespace

int drop_privileges_to(std::uint32_t uid, std::uint32_t gid) {
    const int saved_errno = errno;
    const passwd* const user = ::getpwuid(uid);
    if (gid == unset_id) {
        if (user == nullptr) {
            errno = EINVAL;
            return -1;
        }
        gid = user->pw_gid;
    }
    if (set_supplementary_groups(user, gid) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0) {
        return -1;
    }
    if (::setuid(0) == 0) {
        errno = EPERM;
        return -1;
    }
    errno = saved_errno;
    return 0;
}
