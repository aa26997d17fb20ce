// Preloaded into the tool by the whole-process tests to see who picks the row
// filters, with the environment of the run:
//   LIBPNG_PROBE_VERSION=N  png_access_version_number() answers N instead of
//                           the loaded libpng's own version
//   LIBPNG_PROBE_LOG=FILE   each png_set_filter call appends its filters
//                           argument to FILE, one decimal number a line
// Both calls then go on to libpng's own functions.

#include <dlfcn.h>
#include <png.h>

#include <cstdio>
#include <cstdlib>

namespace {

template <typename Function>
Function libpng_function(const char* name) {
    return reinterpret_cast<Function>(::dlsym(RTLD_NEXT, name));
}

}  // namespace

extern "C" png_uint_32 png_access_version_number() {
    if (const char* version = std::getenv("LIBPNG_PROBE_VERSION")) {
        return png_uint_32(std::strtoul(version, nullptr, 10));
    }
    static const auto own = libpng_function<png_uint_32 (*)()>("png_access_version_number");
    return own();
}

extern "C" void png_set_filter(png_structrp png, int method, int filters) {
    if (const char* log = std::getenv("LIBPNG_PROBE_LOG")) {
        if (std::FILE* file = std::fopen(log, "a")) {
            std::fprintf(file, "%d\n", filters);
            std::fclose(file);
        }
    }
    static const auto own = libpng_function<void (*)(png_structrp, int, int)>("png_set_filter");
    own(png, method, filters);
}
