#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "processes.hpp"

struct heap_peak {
    std::uint64_t requested = 0;  // bytes the program asked malloc for
    std::uint64_t overhead = 0;   // malloc's own headers and rounding
    std::uint64_t total() const { return requested + overhead; }
};

// Runs the command under valgrind's massif and reads the largest heap
// snapshot; nullopt when valgrind or the program fails.
std::optional<heap_peak> measure_heap_peak(const command& c, const std::string& massif_file);
