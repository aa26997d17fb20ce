#pragma once

// Compares one in-process run with what the case implies; any difference is
// a finding and aborts, so that libFuzzer keeps the input.

#include "expected_run.hpp"
#include "in_process_run.hpp"

void check_run(const fuzz_case& c, const run_paths& paths, const expected_run& expected,
               const in_process_result& observed);
