// Preloaded into the tool to make one chosen allocation fail, which the fake
// kernel interface cannot script. The allocation is named by who asks for it:
//   SCANOUTSNAP_FAIL_MALLOC=libpng:N   the N-th malloc libpng makes itself
//   SCANOUTSNAP_FAIL_MALLOC=program:N  the N-th malloc the tool's own code makes
// (counted from 1). A failed allocation returns null with errno ENOMEM, as
// malloc does; every other one goes to the next malloc (the C library's, or a
// sanitizer's).

#include <dlfcn.h>
#include <link.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>

namespace {

enum class asker { nobody, libpng, program };

struct fault {
    asker who = asker::nobody;
    long remaining = 0;  // allocations by who until the failing one
};

using malloc_function = void* (*)(std::size_t);

// Resolved on first use: malloc runs before this library's constructors do.
malloc_function next_malloc() {
    static malloc_function next = nullptr;
    if (next == nullptr) {
        next = reinterpret_cast<malloc_function>(::dlsym(RTLD_NEXT, "malloc"));
    }
    return next;
}

fault& the_fault() {
    static bool parsed = false;
    static fault f;
    // A sanitizer's start-up allocates before the environment is set up.
    if (!parsed && environ != nullptr) {
        parsed = true;
        const char* setting = std::getenv("SCANOUTSNAP_FAIL_MALLOC");
        const char* colon = setting != nullptr ? std::strchr(setting, ':') : nullptr;
        if (colon != nullptr) {
            const std::size_t name_length = std::size_t(colon - setting);
            if (name_length == 6 && std::strncmp(setting, "libpng", 6) == 0) {
                f.who = asker::libpng;
            } else if (name_length == 7 && std::strncmp(setting, "program", 7) == 0) {
                f.who = asker::program;
            }
            f.remaining = std::strtol(colon + 1, nullptr, 10);
        }
    }
    return f;
}

asker asker_of(const void* caller) {
    Dl_info info{};
    link_map* object = nullptr;
    if (::dladdr1(caller, &info, reinterpret_cast<void**>(&object), RTLD_DL_LINKMAP) == 0) {
        return asker::nobody;
    }
    if (info.dli_fname != nullptr && std::strstr(info.dli_fname, "/libpng") != nullptr) {
        return asker::libpng;
    }
    // The main program heads the dynamic linker's list of objects.
    return object != nullptr && object->l_prev == nullptr ? asker::program : asker::nobody;
}

}  // namespace

extern "C" void* malloc(std::size_t size) {
    fault& f = the_fault();
    if (f.who != asker::nobody && f.remaining > 0 &&
        asker_of(__builtin_return_address(0)) == f.who && --f.remaining == 0) {
        errno = ENOMEM;
        return nullptr;
    }
    return next_malloc()(size);
}
