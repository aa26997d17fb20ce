#include "in_process_run.hpp"

#include <dirent.h>
#include <getopt.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "command_line.hpp"

// src/main.cpp, compiled with main renamed.
int scanoutsnap_main(int argc, char* argv[]);

namespace {

int open_descriptors() {
    DIR* dir = ::opendir("/proc/self/fd");
    if (dir == nullptr) {
        std::perror("fuzz: /proc/self/fd");
        std::abort();
    }
    int count = 0;
    while (::readdir(dir) != nullptr) {
        ++count;
    }
    ::closedir(dir);
    return count;
}

// Points the stderr stream at memory for the run. Sanitizer and libFuzzer
// reports do not use the stream, so a finding is still shown.
class stderr_in_memory {
  public:
    stderr_in_memory() : saved_(stderr), memory_(::open_memstream(&text_, &length_)) {
        if (memory_ == nullptr) {
            std::perror("fuzz: open_memstream");
            std::abort();
        }
        stderr = memory_;
    }
    stderr_in_memory(const stderr_in_memory&) = delete;
    stderr_in_memory& operator=(const stderr_in_memory&) = delete;
    ~stderr_in_memory() {
        stderr = saved_;
        std::fclose(memory_);
        std::free(text_);
    }

    std::string text() {
        std::fflush(memory_);
        return std::string(text_, length_);
    }

  private:
    std::FILE* saved_;
    char* text_ = nullptr;
    std::size_t length_ = 0;
    std::FILE* memory_;
};

}  // namespace

in_process_result run_in_process(const std::vector<std::string>& args) {
    std::vector<std::string> words = args;
    std::vector<char*> argv;
    for (std::string& word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);

    // What a new process starts with: getopt from the beginning, the default
    // output name, and no error left over.
    optind = 0;
    out_filename = "screenshot.png";
    errno = 0;

    in_process_result result;
    const int before = open_descriptors();
    {
        stderr_in_memory err;
        result.status = scanoutsnap_main(int(words.size()), argv.data());
        result.err = err.text();
    }
    result.descriptors_left = open_descriptors() - before;
    return result;
}
