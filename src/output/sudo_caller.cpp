#include "output/sudo_caller.hpp"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "diagnostics.hpp"

namespace {

std::uint32_t parse_id(const char* text) {
    const std::uint64_t value = std::strtoull(text, nullptr, 10);
    return static_cast<std::uint32_t>(value);
}

}  // namespace

std::optional<sudo_caller> find_sudo_caller() {
    const char* uid_text = std::getenv("SUDO_UID");
    const char* gid_text = std::getenv("SUDO_GID");
    if (uid_text == nullptr || gid_text == nullptr) {
        return std::nullopt;
    }
    // An overflow sets errno to ERANGE, which must not reach a later line.
    const int saved_errno = errno;
    const sudo_caller caller{parse_id(uid_text), parse_id(gid_text)};
    errno = saved_errno;
    return caller;
}

void chown_to_sudo_user(const char* path) {
    const std::optional<sudo_caller> caller = find_sudo_caller();
    if (!caller) {
        return;
    }
    if (::chown(path, caller->uid, caller->gid) != 0) {
        report("chown %s: %s", path, std::strerror(errno));
    }
}
