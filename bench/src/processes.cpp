#include "processes.hpp"

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>

extern char** environ;

namespace {

std::vector<char*> c_strings(std::vector<std::string>& strings) {
    std::vector<char*> pointers;
    for (std::string& s : strings) {
        pointers.push_back(s.data());
    }
    pointers.push_back(nullptr);
    return pointers;
}

}  // namespace

double now_seconds() {
    timespec t{};
    ::clock_gettime(CLOCK_MONOTONIC, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

double process_cpu_seconds() {
    timespec t{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

run_result run_timed(const command& c) {
    std::vector<std::string> argv = c.argv;
    std::vector<std::string> env;
    // The benchmark writes into its own directory as whoever runs it: a run
    // started through sudo must not make the tool hand over to the sudo caller.
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string_view entry = *e;
        if (!entry.starts_with("SUDO_UID=") && !entry.starts_with("SUDO_GID=")) {
            env.emplace_back(entry);
        }
    }
    env.insert(env.end(), c.extra_env.begin(), c.extra_env.end());
    std::vector<char*> child_argv = c_strings(argv);
    std::vector<char*> child_env = c_strings(env);
    const std::string out = c.stdout_path.empty() ? "/dev/null" : c.stdout_path;
    const std::string err = c.stderr_path.empty() ? "/dev/null" : c.stderr_path;

    // posix_spawn starts the child without copying this process's page
    // tables, as fork does: the driver holds tens of megabytes of pictures,
    // and copying their page tables would be timed as the program's start-up.
    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    ::posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                       0644);
    ::posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                       0644);
    if (c.inherited_fd != -1) {
        // A descriptor duplicated onto itself loses its close-on-exec flag.
        ::posix_spawn_file_actions_adddup2(&actions, c.inherited_fd, c.inherited_fd);
    }

    run_result result;
    const double start = now_seconds();
    pid_t child = -1;
    const int spawn_error = ::posix_spawnp(&child, child_argv[0], &actions, nullptr,
                                           child_argv.data(), child_env.data());
    ::posix_spawn_file_actions_destroy(&actions);
    if (spawn_error != 0) {
        std::ofstream(err) << "bench: cannot execute " << child_argv[0] << ": "
                           << std::strerror(spawn_error) << "\n";
        result.status = 127;
        return result;
    }
    int wait_status = 0;
    rusage usage{};
    if (::wait4(child, &wait_status, 0, &usage) == child && WIFEXITED(wait_status)) {
        result.status = WEXITSTATUS(wait_status);
    }
    result.seconds = now_seconds() - start;
    const auto seconds = [](const timeval& t) {
        return double(t.tv_sec) + double(t.tv_usec) * 1e-6;
    };
    result.cpu_seconds = seconds(usage.ru_utime) + seconds(usage.ru_stime);
    return result;
}

std::string read_text(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

bool write_bytes(const std::string& path, const void* data, std::size_t size) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(static_cast<const char*>(data), std::streamsize(size));
    return bool(out.flush());
}
