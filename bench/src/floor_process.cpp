// The floor as a program of its own, for timing against the tool process to
// process: it maps the framebuffer's bytes from the descriptor it inherits
// (the same memfd the fake hands the tool), converts them with the
// benchmark's own conversion and encodes them with the floor encoder.
//
//   scanoutsnap_floor --fd N --format XR24|RG16 --size WxH -o OUT
//
// Exit status 0, or 1 when the frame cannot be mapped or encoded, 2 on a bad
// command line. Built like the tool: no exceptions and no C++ run-time
// library, eager binding.

#include <sys/mman.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "floor_encoder.hpp"
#include "frame_conversion.hpp"

namespace {

struct request {
    int fd = -1;
    pixel_format format = pixel_format::xrgb8888;
    unsigned width = 0, height = 0;
    const char* output = nullptr;
};

bool parse(int argc, char* argv[], request& r) {
    bool have_format = false;
    for (int i = 1; i + 1 < argc; i += 2) {
        const char* value = argv[i + 1];
        if (std::strcmp(argv[i], "--fd") == 0) {
            r.fd = std::atoi(value);
        } else if (std::strcmp(argv[i], "--format") == 0) {
            have_format = std::strcmp(value, "XR24") == 0 || std::strcmp(value, "RG16") == 0;
            r.format = value[0] == 'X' ? pixel_format::xrgb8888 : pixel_format::rgb565;
        } else if (std::strcmp(argv[i], "--size") == 0) {
            if (std::sscanf(value, "%ux%u", &r.width, &r.height) != 2) {
                return false;
            }
        } else if (std::strcmp(argv[i], "-o") == 0) {
            r.output = value;
        } else {
            return false;
        }
    }
    return argc % 2 == 1 && r.fd >= 0 && have_format && r.width > 0 && r.height > 0 &&
           r.output != nullptr;
}

}  // namespace

int main(int argc, char* argv[]) {
    request r;
    if (!parse(argc, argv, r)) {
        std::fputs("usage: scanoutsnap_floor --fd N --format XR24|RG16 --size WxH -o OUT\n",
                   stderr);
        return 2;
    }
    const std::size_t pixels = std::size_t{r.width} * r.height;
    const std::size_t length = pixels * bytes_per_pixel(r.format);
    void* const frame = ::mmap(nullptr, length, PROT_READ, MAP_SHARED, r.fd, 0);
    if (frame == MAP_FAILED) {
        std::perror("scanoutsnap_floor: mmap");
        return 1;
    }
    auto* const rgb = static_cast<std::uint8_t*>(std::malloc(pixels * 3));
    if (rgb == nullptr) {
        std::perror("scanoutsnap_floor: malloc");
        return 1;
    }
    convert_to_rgb(r.format, static_cast<const std::uint8_t*>(frame), pixels, rgb);
    ::munmap(frame, length);
    const bool encoded = encode_floor_png(r.output, r.width, r.height, rgb);
    std::free(rgb);
    if (!encoded) {
        std::fprintf(stderr, "scanoutsnap_floor: cannot write %s\n", r.output);
        return 1;
    }
    return 0;
}
