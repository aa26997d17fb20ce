#pragma once

// Runs the tool's main in this process, as a fresh process would start it.

#include <string>
#include <vector>

struct in_process_result {
    int status = -1;
    std::string err;           // what went to standard error
    int descriptors_left = 0;  // descriptors open after the run that were not before
};

in_process_result run_in_process(const std::vector<std::string>& args);
