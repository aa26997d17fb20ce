#include "reference_row_filter.hpp"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <vector>

constexpr std::size_t bytes_per_pixel = 3;

int reference_paeth(int a, int b, int c) {
    const int p = a + b - c;
    const int pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
    if (pa <= pb && pa <= pc) {
        return a;
    }
    if (pb <= pc) {
        return b;
    }
    return c;
}

row_filter reference_row_filter(const std::uint8_t* row, const std::uint8_t* previous,
                                std::size_t length) {
    std::array<std::vector<std::uint8_t>, 5> filtered;
    for (std::size_t i = 0; i < length; ++i) {
        const int x = row[i];
        const int a = i < bytes_per_pixel ? 0 : row[i - bytes_per_pixel];
        const int b = previous[i];
        const int c = i < bytes_per_pixel ? 0 : previous[i - bytes_per_pixel];
        filtered[0].push_back(std::uint8_t(x));
        filtered[1].push_back(std::uint8_t(x - a));
        filtered[2].push_back(std::uint8_t(x - b));
        filtered[3].push_back(std::uint8_t(x - (a + b) / 2));
        filtered[4].push_back(std::uint8_t(x - reference_paeth(a, b, c)));
    }
    std::array<std::uint64_t, 5> sums{};
    for (std::size_t f = 0; f < 5; ++f) {
        for (const std::uint8_t v : filtered[f]) {
            sums[f] += v < 128 ? v : 256 - v;
        }
    }
    // A row one pixel wide: libpng's default keeps only none and up.
    if (length == bytes_per_pixel) {
        return sums[2] < sums[0] ? row_filter::up : row_filter::none;
    }
    return row_filter(std::min_element(sums.begin(), sums.end()) - sums.begin());
}
