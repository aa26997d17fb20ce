// libFuzzer entry: each input is one whole run of the tool, in-process, with
// the fake kernel interface answering as the input says, the identity switch
// and the hand-over recorded instead of done, and every promise checked.

#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "expected_run.hpp"
#include "fake_kms.hpp"
#include "fuzz_case.hpp"
#include "fuzz_input.hpp"
#include "in_process_run.hpp"
#include "recorded_chown.hpp"
#include "recorded_privileges.hpp"
#include "run_checks.hpp"

namespace {

// SCANOUTSNAP_FUZZ_VERBOSE set: each input's status is printed, to see what
// a corpus covers.
const bool verbose = std::getenv("SCANOUTSNAP_FUZZ_VERBOSE") != nullptr;

// A directory of this process's own, with the device node stand-in in it.
struct scratch {
    std::filesystem::path dir;
    std::string device;
    std::string missing_device;
    std::string output;
    std::string output_in_missing_dir;
};

scratch make_scratch() {
    char pattern[] = "/tmp/scanoutsnap-fuzz-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) {
        std::perror("fuzz: mkdtemp");
        std::abort();
    }
    scratch s;
    s.dir = pattern;
    s.device = (s.dir / "card0").string();
    s.missing_device = (s.dir / "card9").string();
    s.output = (s.dir / "shot.png").string();
    s.output_in_missing_dir = (s.dir / "missing" / "shot.png").string();
    std::ofstream(s.device).flush();
    return s;
}

const scratch& the_scratch() {
    static const scratch s = make_scratch();
    return s;
}

void remove_scratch() {
    std::error_code ignored;
    std::filesystem::remove_all(the_scratch().dir, ignored);
}

void set_or_unset(const char* name, const std::optional<std::string>& value) {
    if (value) {
        ::setenv(name, value->c_str(), 1);
    } else {
        ::unsetenv(name);
    }
}

run_paths prepare(const fuzz_case& c) {
    const scratch& s = the_scratch();
    std::filesystem::remove(s.output);
    std::filesystem::remove_all(s.dir / "missing");
    if (c.output == output_kind::existing_file) {
        std::ofstream(s.output, std::ios::binary) << older_file_content;
    }
    run_paths paths;
    paths.device = c.device_missing ? s.missing_device : s.device;
    switch (c.output) {
        case output_kind::new_file:
        case output_kind::existing_file:
            paths.output = s.output;
            break;
        case output_kind::missing_directory:
            paths.output = s.output_in_missing_dir;
            break;
        case output_kind::full_device:
            paths.output = "/dev/full";
            break;
    }

    set_or_unset("SUDO_UID", c.sudo_uid);
    set_or_unset("SUDO_GID", c.sudo_gid);
    recorded_privileges::requests.clear();
    recorded_privileges::failure_errno = c.drop_errno;
    recorded_chown::requests.clear();
    recorded_chown::failure_errno = c.chown_errno;
    fake_kms::load(c.kernel);
    return paths;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    the_scratch();
    std::atexit(remove_scratch);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const fuzz_case c = interpret(decode_input(data, size));
    const run_paths paths = prepare(c);
    const expected_run expected = expect_run(c, paths, ::geteuid() == 0);
    const in_process_result observed =
        run_in_process({"scanoutsnap", "-d", paths.device, "-o", paths.output});
    check_run(c, paths, expected, observed);
    if (verbose) {
        const fake_kms::framebuffer& fb = *c.kernel.fb;
        std::fprintf(stderr,
                     "run ended with %d as expected (%ux%u, pitch %u, buffer %zu bytes; "
                     "%d attempts)\n",
                     observed.status, fb.width, fb.height, fb.pitch, c.kernel.buffer.size(),
                     expected.attempts);
    }
    return 0;
}
