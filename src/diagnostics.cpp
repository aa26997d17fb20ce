#include "diagnostics.hpp"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace {

constexpr char prefix[] = "scanoutsnap: ";

}  // namespace

void report(const char* format, ...) {
    // Longer than any line the tool prints with a path of PATH_MAX; a longer
    // line is cut rather than split, so it still ends with its newline.
    char line[8192];
    std::memcpy(line, prefix, sizeof prefix - 1);
    std::size_t used = sizeof prefix - 1;

    std::va_list args;
    va_start(args, format);
    const int length = std::vsnprintf(line + used, sizeof line - used - 1, format, args);
    va_end(args);
    if (length > 0) {
        used += static_cast<std::size_t>(length) < sizeof line - used - 1
                    ? static_cast<std::size_t>(length)
                    : sizeof line - used - 2;
    }
    line[used++] = '\n';
    std::fwrite(line, 1, used, stderr);
}
