#pragma once

#include <map>
#include <string>
#include <vector>

// One run of the real scanoutsnap executable as a child process, with the
// fake kernel interface preloaded unless no script is given.
struct tool_run {
    std::vector<std::string> args;
    std::map<std::string, std::string> env;  // the whole environment, besides the fake's own
    std::string cwd;                         // the test's working directory (required)
    std::string script;                // the fake's script; empty runs against the real kernel
    std::vector<std::string> wrapper;  // a command (absolute path first) to run the tool under
    // Further libraries preloaded after the fake, the same way: into the
    // wrapper too, except under an emulator, where only the tool gets them.
    std::vector<std::string> preloads;
    bool merge_events_into_stderr = false;  // to see the order of lines and releases
    // The wrapper starts the tool as another user, who may not be able to
    // read the build tree (a home of mode 0700): the executable and the
    // preloads then run from copies in a directory anyone may read.
    bool as_another_user = false;
};

struct tool_result {
    int status = -1;  // exit status, or -1 if the process did not exit normally
    std::string out;
    std::string err;
    std::vector<std::string> events;  // the fake's log, one entry per line
    long peak_rss_kib = 0;            // the process's peak resident memory (getrusage)
};

tool_result run_tool(const tool_run& run);

// The lines of text, without their newlines.
std::vector<std::string> lines_of(const std::string& text);
