#pragma once

#include <unistd.h>

#include <utility>

// Sole owner of a file descriptor; closes it when destroyed. -1 means "none":
// 0 is a valid descriptor (the device opens as 0 when standard input is closed).
class unique_fd {
  public:
    unique_fd() = default;
    explicit unique_fd(int fd) : fd_(fd) {}
    unique_fd(const unique_fd&) = delete;
    unique_fd& operator=(const unique_fd&) = delete;
    unique_fd(unique_fd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    unique_fd& operator=(unique_fd&& other) noexcept {
        if (this != &other) {
            reset();
            fd_ = std::exchange(other.fd_, -1);
        }
        return *this;
    }
    ~unique_fd() { reset(); }

    int get() const { return fd_; }
    explicit operator bool() const { return fd_ != -1; }

    // Closes the descriptor now; the result of close is not looked at.
    void reset() {
        if (fd_ != -1) {
            ::close(std::exchange(fd_, -1));
        }
    }

  private:
    int fd_ = -1;
};
