#pragma once

#include <ostream>
#include <vector>

#include "cases.hpp"

// Markdown tables: times with medians, minima and maxima and the ratios to the
// floor and to each peer; output sizes and heap peaks; time per pixel across
// sizes; then each target, met or missed.
void print_report(std::ostream& out, const std::vector<case_result>& cases, int runs);

void print_loading(std::ostream& out, const loading_result& loading, std::uint32_t width,
                   std::uint32_t height);
