#include "output/row_filters/row_filter_chooser.hpp"

#include <cstdlib>

#include "output/row_filters/row_filter_vectors.hpp"

namespace {

using row_filter_vectors::filter_sums;
using row_filter_vectors::pixel_bytes;

// A filtered byte's weight in a sum: its distance from 0, counting bytes of
// 128 and above as negative.
unsigned cost(int filtered) {
    const unsigned byte = unsigned(filtered) & 0xFF;
    return byte < 128 ? byte : 256 - byte;
}

int paeth_predictor(int left, int up, int upper_left) {
    const int to_left = std::abs(up - upper_left);
    const int to_up = std::abs(left - upper_left);
    const int to_upper_left = std::abs(left + up - 2 * upper_left);
    if (to_left <= to_up && to_left <= to_upper_left) {
        return left;
    }
    return to_up <= to_upper_left ? up : upper_left;
}

// Adds the bytes from start to the row's end, one at a time: the bytes the
// vector blocks leave, or the whole row where there are none.
void add_byte_sums(const std::uint8_t* row, const std::uint8_t* previous, std::size_t start,
                   std::size_t length, filter_sums& sums) {
    for (std::size_t at = start; at < length; ++at) {
        const int raw = row[at];
        const int up = previous[at];
        const int left = at >= pixel_bytes ? row[at - pixel_bytes] : 0;
        const int upper_left = at >= pixel_bytes ? previous[at - pixel_bytes] : 0;
        sums.none += cost(raw);
        sums.sub += cost(raw - left);
        sums.up += cost(raw - up);
        sums.average += cost(raw - (left + up) / 2);
        sums.paeth += cost(raw - paeth_predictor(left, up, upper_left));
    }
}

// Adds the bytes the vector blocks left, from done on, and picks the filter.
row_filter choose_by_sums(const std::uint8_t* row, const std::uint8_t* previous, std::size_t done,
                          std::size_t length, filter_sums& sums) {
    add_byte_sums(row, previous, done, length, sums);

    // In libpng's order; only a strictly smaller sum displaces the best so far.
    const bool one_pixel_wide = length == pixel_bytes;
    const struct {
        row_filter filter;
        std::uint64_t sum;
        bool allowed;
    } candidates[] = {{row_filter::sub, sums.sub, !one_pixel_wide},
                      {row_filter::up, sums.up, true},
                      {row_filter::average, sums.average, !one_pixel_wide},
                      {row_filter::paeth, sums.paeth, !one_pixel_wide}};
    row_filter best = row_filter::none;
    std::uint64_t best_sum = sums.none;
    for (const auto& candidate : candidates) {
        if (candidate.allowed && candidate.sum < best_sum) {
            best = candidate.filter;
            best_sum = candidate.sum;
        }
    }
    return best;
}

}  // namespace

row_filter choose_row_filter(const std::uint8_t* row, const std::uint8_t* previous,
                             std::size_t length) {
    filter_sums sums;
    const std::size_t done = row_filter_vectors::add_block_sums(row, previous, length, sums);
    return choose_by_sums(row, previous, done, length, sums);
}

#if defined(__x86_64__)
row_filter choose_row_filter_with(x86_vectors set, const std::uint8_t* row,
                                  const std::uint8_t* previous, std::size_t length) {
    filter_sums sums;
    const std::size_t done = row_filter_vectors::add_block_sums(row, previous, length, sums, set);
    return choose_by_sums(row, previous, done, length, sums);
}
#endif
