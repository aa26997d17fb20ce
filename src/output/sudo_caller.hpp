#pragma once

#include <cstdint>
#include <optional>

// What "-1" or an overflow reads as: chown leaves such an id of a file as it is.
inline constexpr std::uint32_t unset_id = 0xFFFFFFFF;

// The user and group sudo ran the tool for.
struct sudo_caller {
    std::uint32_t uid;
    std::uint32_t gid;
};

// SUDO_UID and SUDO_GID, when both are present (even empty). Each is read as
// strtoul reads base 10 into 64 bits, without an end check ("-1" and overflow
// give all ones, text without digits gives 0), then cut to its low 32 bits.
// errno is left as it was.
std::optional<sudo_caller> find_sudo_caller();

// Gives the file to the sudo caller; a failure is reported and changes nothing else.
void chown_to_sudo_user(const char* path);
