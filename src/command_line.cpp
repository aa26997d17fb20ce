#include "command_line.hpp"

#include <getopt.h>

const char* out_filename = "screenshot.png";

namespace {

constexpr char short_options[] = "d:so:";

const option opts[] = {
    {"device", required_argument, nullptr, 'd'},
    {"screenshot", no_argument, nullptr, 's'},
    {"output", required_argument, nullptr, 'o'},
    {nullptr, 0, nullptr, 0},
};

}  // namespace

run_settings parse_command_line(int argc, char* argv[]) {
    run_settings settings{"/dev/dri/card0"};
    const char* output_candidate = nullptr;

    int option;
    while ((option = getopt_long(argc, argv, short_options, opts, nullptr)) != -1) {
        switch (option) {
            case 'd':
                settings.device_path = optarg;
                break;
            case 'o':
                output_candidate = optarg;
                break;
            default:  // 's' has no effect; '?' has already been reported by getopt_long
                break;
        }
    }

    if (output_candidate != nullptr && output_candidate[0] != '\0') {
        out_filename = output_candidate;
    }
    return settings;
}
