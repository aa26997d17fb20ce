#pragma once

#include <string>
#include <vector>

// One program run as a whole process: the driver's environment plus extra
// variables, standard input from /dev/null, standard output to a file (or
// /dev/null), standard error to a file.
struct command {
    std::vector<std::string> argv;  // argv[0] is looked up in PATH
    std::vector<std::string> extra_env;
    std::string stdout_path;
    std::string stderr_path;
    int inherited_fd = -1;  // kept open across exec; every other descriptor is closed on exec
};

struct run_result {
    int status = -1;         // the exit status, or -1 when the program was killed or never ran
    double seconds = 0;      // wall clock
    double cpu_seconds = 0;  // user and system time: less disturbed by other load
};

// Times from before the child is spawned to after it has been reaped.
run_result run_timed(const command& c);

// Seconds on the monotonic clock, and this process's CPU time.
double now_seconds();
double process_cpu_seconds();

std::string read_text(const std::string& path);
bool write_bytes(const std::string& path, const void* data, std::size_t size);
