#pragma once

#include <cstdint>

// Whether the system can spare that many more bytes for a while without
// pressing on the other processes' memory: /proc/meminfo's MemAvailable must
// exceed them by a margin. False when it cannot be read. errno may change.
bool memory_to_spare(std::uint64_t bytes);
