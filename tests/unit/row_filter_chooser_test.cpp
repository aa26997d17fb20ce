// The row filter chooser against the plain reference of libpng's default
// choice: crafted rows where one filter or one tie decides, rows of every
// short length at every alignment, and every row of the test pictures. Each
// case runs on every vector path: SSE2 and AVX2 on x86-64.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <random>
#include <vector>

#include "guarded_memory.hpp"
#include "output/row_filters/row_filter_chooser.hpp"
#include "reference_row_filter.hpp"
#include "test_pictures.hpp"
#include "vector_paths.hpp"

namespace {

using bytes = std::vector<std::uint8_t>;

// Under qemu-user every instruction is emulated: at 3840x2160 only the
// desktop and the photo.
constexpr bool emulated = sizeof SCANOUTSNAP_EMULATOR > 1;

constexpr std::size_t widest_row = 3840 * 3;

const char* name_of(row_filter filter) {
    static const char* const names[] = {"none", "sub", "up", "average", "paeth"};
    return names[static_cast<int>(filter)];
}

#if defined(__x86_64__)
const vector_path chooser_paths[] = {x86_vectors::sse2, x86_vectors::avx2};
#else
const vector_path chooser_paths[] = {vector_path::native};
#endif

row_filter choose_on(vector_path path, const std::uint8_t* row, const std::uint8_t* previous,
                     std::size_t length) {
#if defined(__x86_64__)
    return choose_row_filter_with(path, row, previous, length);
#else
    static_cast<void>(path);
    return choose_row_filter(row, previous, length);
#endif
}

// Both rows end right before an inaccessible page, so that reading past
// either end faults.
class RowFilterChooser : public VectorPathTest {
  protected:
    row_filter choose(const bytes& row, const bytes& previous, std::size_t alignment = 0) {
        return choose(row.data(), previous.data(), row.size(), alignment);
    }
    row_filter choose(const std::uint8_t* row, const std::uint8_t* previous, std::size_t length,
                      std::size_t alignment = 0) {
        return choose_on(GetParam(), rows_.place(row, length, alignment),
                         previous_rows_.place(previous, length, alignment * 7 % 16), length);
    }

    // Every row of the test pictures, with a count of the filters chosen.
    void check_every_row(picture_kind kind, std::uint32_t width, std::uint32_t height,
                         std::array<int, 5>& chosen) {
        const bytes rgb = make_picture(kind, width, height);
        const std::size_t length = std::size_t{width} * 3;
        for (std::uint32_t y = 1; y < height; ++y) {
            const std::uint8_t* row = &rgb[y * length];
            const std::uint8_t* previous = row - length;
            const row_filter expected = reference_row_filter(row, previous, length);
            ASSERT_EQ(choose(row, previous, length, y % 16), expected)
                << name_of(kind) << " " << width << "x" << height << ", row " << y;
            ++chosen[static_cast<int>(expected)];
        }
    }

    guarded_memory rows_{widest_row};
    guarded_memory previous_rows_{widest_row};
};

row_filter reference(const bytes& row, const bytes& previous) {
    return reference_row_filter(row.data(), previous.data(), row.size());
}

// A row built one byte at a time from that byte's left, upper and upper-left
// neighbours (0 left of the first pixel, as the filters see them).
template <typename Next>
bytes build_row(const bytes& previous, Next next) {
    bytes row(previous.size());
    for (std::size_t i = 0; i < row.size(); ++i) {
        const int left = i < 3 ? 0 : row[i - 3];
        const int upper_left = i < 3 ? 0 : previous[i - 3];
        row[i] = std::uint8_t(next(i, left, previous[i], upper_left));
    }
    return row;
}

bytes random_bytes(std::mt19937& random, std::size_t length, unsigned range = 256) {
    bytes row(length);
    for (std::uint8_t& byte : row) {
        byte = std::uint8_t(random() % range);
    }
    return row;
}

struct row_pair {
    bytes row, previous;
};

// Rows where Paeth's distances tie often: at each pixel after the first,
// where the left byte and the upper-left one differ, the byte above is mostly
// placed so that left and upper-left tie (and the row continues from the left)
// or up and upper-left tie (and it continues from above); elsewhere the byte
// above is random and the row continues from the Paeth prediction, give or
// take 2.
row_pair paeth_tie_rows(std::mt19937& random, std::size_t pixels) {
    row_pair rows{random_bytes(random, pixels * 3), random_bytes(random, pixels * 3)};
    for (std::size_t i = 3; i < rows.row.size(); ++i) {
        const int left = rows.row[i - 3], upper_left = rows.previous[i - 3];
        const int apart = left - upper_left;
        const int up_for_left_tie = upper_left - apart / 2;
        const int up_for_up_tie = upper_left - 2 * apart;
        const unsigned pick = random() % 10;
        if (apart != 0 && apart % 2 == 0 && pick < 4 && up_for_left_tie >= 0 &&
            up_for_left_tie <= 255) {
            rows.previous[i] = std::uint8_t(up_for_left_tie);
            rows.row[i] = std::uint8_t(left);
        } else if (apart != 0 && pick < 8 && up_for_up_tie >= 0 && up_for_up_tie <= 255) {
            rows.previous[i] = std::uint8_t(up_for_up_tie);
            rows.row[i] = rows.previous[i];
        } else {
            const int up = rows.previous[i];
            rows.row[i] =
                std::uint8_t(reference_paeth(left, up, upper_left) + int(random() % 5) - 2);
        }
    }
    return rows;
}

// Each filter wins on a row it predicts exactly, at a length with vector
// blocks (64 pixels) and one without (5 pixels).
TEST_P(RowFilterChooser, EachFilterWinsWhereItPredictsTheRow) {
    std::mt19937 random(12);
    for (const std::size_t pixels : {64, 5}) {
        const bytes noise = random_bytes(random, pixels * 3);
        const bytes grey(pixels * 3, 128);
        const std::size_t half = pixels / 2 * 3;
        bytes half_noise_half_grey = noise;
        std::fill(half_noise_half_grey.begin() + half, half_noise_half_grey.end(), 200);
        const struct {
            row_filter filter;
            bytes row, previous;
        } cases[] = {
            {row_filter::none,
             build_row(grey, [](std::size_t i, int, int, int) { return i / 3 % 2 == 0 ? 2 : 0; }),
             grey},
            {row_filter::sub,
             build_row(noise, [](std::size_t i, int, int, int) { return int(i / 3 * 7); }), noise},
            {row_filter::up, build_row(noise, [](std::size_t, int, int up, int) { return up + 1; }),
             noise},
            {row_filter::average,
             build_row(noise, [](std::size_t, int left, int up, int) { return (left + up) / 2; }),
             noise},
            // Left half as the row above, right half flat under another flat
            // colour: Paeth follows up, then left.
            {row_filter::paeth,
             build_row(half_noise_half_grey,
                       [&](std::size_t i, int, int up, int) { return i < half ? up : 50; }),
             half_noise_half_grey},
        };
        for (const auto& c : cases) {
            ASSERT_EQ(reference(c.row, c.previous), c.filter) << name_of(c.filter);
            EXPECT_EQ(choose(c.row, c.previous), c.filter)
                << name_of(c.filter) << ", " << pixels << " pixels";
        }
    }
}

TEST_P(RowFilterChooser, EqualSumsGoToTheEarlierFilter) {
    const std::size_t length = 64 * 3;
    const bytes black(length, 0);
    // Every sum is 0.
    EXPECT_EQ(choose(black, black), row_filter::none);
    // Up and Paeth both predict a flat row under the same flat row exactly.
    const bytes flat(length, 77);
    EXPECT_EQ(choose(flat, flat), row_filter::up);
    // Under a black row, Paeth predicts from the left, as Sub does.
    const bytes ramp =
        build_row(black, [](std::size_t i, int, int, int) { return int(i / 3 * 5); });
    ASSERT_EQ(reference(ramp, black), row_filter::sub);
    EXPECT_EQ(choose(ramp, black), row_filter::sub);
}

TEST_P(RowFilterChooser, AverageRoundsDown) {
    // Under an odd grey, floor((left + up) / 2) settles one below it, so
    // rounding up would cost 1 a byte along the row and lose to Paeth.
    const bytes odd_grey(640 * 3, 101);
    const bytes row =
        build_row(odd_grey, [](std::size_t, int left, int up, int) { return (left + up) / 2; });
    ASSERT_EQ(reference(row, odd_grey), row_filter::average);
    EXPECT_EQ(choose(row, odd_grey), row_filter::average);
}

TEST_P(RowFilterChooser, PaethPrefersLeftThenUpOnEqualDistances) {
    std::mt19937 random(5);
    int paeth_rows = 0;
    for (int i = 0; i < 600; ++i) {
        // 4 to 24 pixels: up to 4 blocks of 16 bytes, or 2 of 32.
        const std::size_t pixels = i % 5 == 0 ? 64 : 4 + i % 21;
        const row_pair rows = paeth_tie_rows(random, pixels);
        const row_filter expected = reference(rows.row, rows.previous);
        ASSERT_EQ(choose(rows.row, rows.previous), expected) << "pair " << i;
        paeth_rows += expected == row_filter::paeth;
    }
    EXPECT_GT(paeth_rows, 400);  // the rows are about Paeth
}

TEST_P(RowFilterChooser, OnePixelWideRowsChooseBetweenNoneAndUpOnly) {
    // Average would predict (100, 100, 100) exactly from (190, 190, 190).
    EXPECT_EQ(choose({100, 100, 100}, {190, 190, 190}), row_filter::up);
    // Up's sum equals None's here; Average's would be 0.
    EXPECT_EQ(choose({100, 100, 100}, {200, 200, 200}), row_filter::none);
    std::mt19937 random(1);
    for (int i = 0; i < 1000; ++i) {
        const bytes row = random_bytes(random, 3), previous = random_bytes(random, 3);
        ASSERT_EQ(choose(row, previous), reference(row, previous)) << "row " << i;
    }
}

// Random rows of every width from 1 to 67 pixels (every length of the byte
// loop after the vector blocks, before and after whole blocks), at every
// alignment: noise, rows close to the one above, and values of 0 to 2, whose
// sums tie often.
TEST_P(RowFilterChooser, EveryShortWidthAtEveryAlignmentFollowsTheRule) {
    std::mt19937 random(20240607);
    for (std::size_t pixels = 1; pixels <= 67; ++pixels) {
        for (std::size_t alignment = 0; alignment < 16; ++alignment) {
            const std::size_t length = pixels * 3;
            const bytes noise = random_bytes(random, length);
            const bytes near_noise = build_row(
                noise, [&](std::size_t, int, int up, int) { return up + int(random() % 5) - 2; });
            const bytes small = random_bytes(random, length, 3);
            const bytes small_above = random_bytes(random, length, 3);
            const row_pair pairs[] = {
                {random_bytes(random, length), noise}, {near_noise, noise}, {small, small_above}};
            for (const row_pair& p : pairs) {
                ASSERT_EQ(choose(p.row, p.previous, alignment), reference(p.row, p.previous))
                    << pixels << " pixels at " << alignment << " mod 16, case " << &p - pairs;
            }
        }
    }
}

TEST_P(RowFilterChooser, EveryRowOfEveryTestPictureFollowsTheRule) {
    std::array<int, 5> chosen{};
    for (const picture_kind kind : every_picture_kind()) {
        check_every_row(kind, 1920, 1080, chosen);
        if (!emulated || kind == picture_kind::desktop || kind == picture_kind::photo) {
            check_every_row(kind, 3840, 2160, chosen);
        }
    }
    EXPECT_EQ(std::count(chosen.begin(), chosen.end(), 0), 0) << "the pictures take every filter";
    std::cout << "rows by chosen filter: none " << chosen[0] << ", sub " << chosen[1] << ", up "
              << chosen[2] << ", average " << chosen[3] << ", paeth " << chosen[4] << "\n";
}

INSTANTIATE_TEST_SUITE_P(Paths, RowFilterChooser, ::testing::ValuesIn(chooser_paths), path_name);

}  // namespace
