#pragma once

#include <sys/stat.h>

#include <string>

// The user and group a file belongs to.
struct file_owner {
    unsigned uid;
    unsigned gid;
    bool operator==(const file_owner&) const = default;
};

inline file_owner owner_of(const std::string& path) {
    struct stat info {};
    ::stat(path.c_str(), &info);
    return {info.st_uid, info.st_gid};
}
