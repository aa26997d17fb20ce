#include "heap_peak.hpp"

#include <fstream>

std::optional<heap_peak> measure_heap_peak(const command& c, const std::string& massif_file) {
    command under_massif = c;
    under_massif.argv = {"valgrind", "--tool=massif", "--stacks=no", "--peak-inaccuracy=0.1",
                         "--massif-out-file=" + massif_file};
    under_massif.argv.insert(under_massif.argv.end(), c.argv.begin(), c.argv.end());
    if (run_timed(under_massif).status != 0) {
        return std::nullopt;
    }
    // Each snapshot has mem_heap_B= and mem_heap_extra_B= lines, in that order.
    std::ifstream in(massif_file);
    std::optional<heap_peak> peak;
    heap_peak snapshot;
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("mem_heap_B=", 0) == 0) {
            snapshot.requested = std::stoull(line.substr(11));
        } else if (line.rfind("mem_heap_extra_B=", 0) == 0) {
            snapshot.overhead = std::stoull(line.substr(17));
            if (!peak || snapshot.total() > peak->total()) {
                peak = snapshot;
            }
        }
    }
    return peak;
}
