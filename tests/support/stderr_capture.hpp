#pragma once

#include <stdio.h>
#include <unistd.h>

#include <string>

// Sends standard error to a temporary file while it lives; text() reads it.
class stderr_capture {
  public:
    stderr_capture() : file_(::tmpfile()), saved_(::dup(2)) {
        std::fflush(stderr);
        ::dup2(::fileno(file_), 2);
    }
    stderr_capture(const stderr_capture&) = delete;
    stderr_capture& operator=(const stderr_capture&) = delete;
    ~stderr_capture() {
        restore();
        std::fclose(file_);
    }

    std::string text() {
        restore();
        std::string content;
        std::rewind(file_);
        for (int c; (c = std::fgetc(file_)) != EOF;) {
            content += char(c);
        }
        return content;
    }

  private:
    void restore() {
        if (saved_ != -1) {
            std::fflush(stderr);
            ::dup2(saved_, 2);
            ::close(saved_);
            saved_ = -1;
        }
    }

    FILE* file_;
    int saved_;
};
