#include "tool_process.hpp"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string_view>

#include "temp_dir.hpp"

namespace {

std::vector<char*> c_strings(std::vector<std::string>& strings) {
    std::vector<char*> pointers;
    for (std::string& s : strings) {
        pointers.push_back(s.data());
    }
    pointers.push_back(nullptr);
    return pointers;
}

// A copy of the file at path in directory, readable and runnable by anyone.
std::string copy_for_anyone(const std::string& path, const temp_dir& directory) {
    const std::filesystem::path copy = directory.path() / std::filesystem::path(path).filename();
    std::filesystem::copy_file(path, copy, std::filesystem::copy_options::overwrite_existing);
    std::filesystem::permissions(copy, std::filesystem::perms(0755));
    return copy;
}

}  // namespace

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
        lines.push_back(text.substr(start, end - start));
    }
    if (start < text.size()) {
        lines.push_back(text.substr(start));
    }
    return lines;
}

tool_result run_tool(const tool_run& run) {
    const temp_dir scratch;
    const std::string out_path = scratch / "stdout";
    const std::string err_path = scratch / "stderr";
    const std::string log_path = run.merge_events_into_stderr ? err_path : scratch / "events";
    const std::string script_path = scratch / "script";
    ::chmod(scratch.path().c_str(), 0755);  // readable by a tool that dropped to another user
    std::string executable = SCANOUTSNAP_EXECUTABLE;
    std::vector<std::string> preloads = run.preloads;
    preloads.insert(preloads.begin(), FAKE_KMS_PRELOAD);
    if (run.as_another_user) {
        executable = copy_for_anyone(executable, scratch);
        for (std::string& library : preloads) {
            library = copy_for_anyone(library, scratch);
        }
    }

    std::vector<std::string> environment;
    for (const auto& [name, value] : run.env) {
        environment.push_back(name + "=" + value);
    }
    const char* asan = std::getenv("ASAN_OPTIONS");
    if (asan != nullptr && run.env.count("ASAN_OPTIONS") == 0) {
        environment.push_back(std::string("ASAN_OPTIONS=") + asan);
    }
    // A coverage build's tool writes its counters as it exits, maybe as a user
    // who may not update the build tree: with GCOV_PREFIX set, each run writes
    // under a directory of its own that anyone may write, merged afterwards.
    if (const char* prefix = std::getenv("GCOV_PREFIX")) {
        std::string run_prefix = std::string(prefix) + "/tool-run-XXXXXX";
        if (::mkdtemp(run_prefix.data()) == nullptr || ::chmod(run_prefix.c_str(), 0777) != 0) {
            throw std::runtime_error("cannot make a directory under GCOV_PREFIX");
        }
        environment.push_back("GCOV_PREFIX=" + run_prefix);
        if (const char* strip = std::getenv("GCOV_PREFIX_STRIP")) {
            environment.push_back(std::string("GCOV_PREFIX_STRIP=") + strip);
        }
    }
    std::vector<std::string> argv = run.wrapper;
    // A cross-built tool runs under the emulator the build names, if any.
    for (std::size_t start = 0, end; start < sizeof SCANOUTSNAP_EMULATOR - 1; start = end + 1) {
        end = std::string_view(SCANOUTSNAP_EMULATOR).find(' ', start);
        end = end == std::string_view::npos ? sizeof SCANOUTSNAP_EMULATOR - 1 : end;
        argv.emplace_back(SCANOUTSNAP_EMULATOR + start, end - start);
    }
    if (!run.script.empty()) {
        write_file(script_path, run.script);
        if (run.as_another_user && !run.merge_events_into_stderr) {
            write_file(log_path, "");
            ::chmod(log_path.c_str(), 0666);  // the fake appends to it as that user
        }
        environment.push_back("FAKE_KMS_SCRIPT=" + script_path);
        environment.push_back("FAKE_KMS_LOG=" + log_path);
        std::string preload = "LD_PRELOAD=" + preloads[0];
        for (std::size_t i = 1; i < preloads.size(); ++i) {
            preload += ":" + preloads[i];
        }
        // Under qemu-user the preloads are the emulated program's alone: a
        // host wrapper such as setpriv could not load the target's libraries.
        if (argv.size() > run.wrapper.size()) {
            argv.push_back("-E");
            argv.push_back(preload);
        } else {
            environment.push_back(preload);
        }
    }
    argv.push_back(executable);
    argv.insert(argv.end(), run.args.begin(), run.args.end());

    const pid_t child = ::fork();
    if (child == -1) {
        throw std::runtime_error("fork failed");
    }
    if (child == 0) {
        const int in = ::open("/dev/null", O_RDONLY);
        const int out = ::open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = ::open(err_path.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        if (in == -1 || out == -1 || err == -1 || ::chdir(run.cwd.c_str()) != 0) {
            ::_exit(127);
        }
        ::dup2(in, 0);
        ::dup2(out, 1);
        ::dup2(err, 2);
        std::vector<char*> child_argv = c_strings(argv);
        std::vector<char*> child_env = c_strings(environment);
        ::execve(child_argv[0], child_argv.data(), child_env.data());
        ::_exit(127);
    }
    int wait_status = 0;
    rusage usage{};
    ::wait4(child, &wait_status, 0, &usage);

    tool_result result;
    result.status = WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : -1;
    result.peak_rss_kib = usage.ru_maxrss;
    result.out = read_file(out_path);
    result.err = read_file(err_path);
    if (!run.merge_events_into_stderr) {
        result.events = lines_of(read_file(log_path));
    }
    return result;
}
