#pragma once

#include <cassert>
#include <optional>
#include <utility>

#include "exit_status.hpp"

// What a phase hands back: its result, or the exit status the run ends with.
template <typename T>
class [[nodiscard]] outcome {
  public:
    outcome(T value) : value_(std::move(value)) {}
    outcome(exit_status status) : status_(status) { assert(status != exit_status::success); }

    bool failed() const { return !value_.has_value(); }
    exit_status status() const { return status_; }

    T& value() {
        assert(value_.has_value());
        return *value_;
    }

  private:
    std::optional<T> value_;
    exit_status status_ = exit_status::success;
};
