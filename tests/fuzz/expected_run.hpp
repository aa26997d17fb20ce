#pragma once

// What the tool must do with a fuzz case, worked out from the case alone and
// without any of the tool's code: the status, its own lines, what it asks the
// identity switch and the hand-over for, what it gives back last, and the image.

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "fuzz_case.hpp"

struct run_paths {
    std::string device;
    std::string output;
};

struct expected_line {
    std::string text;
    bool whole = true;  // false: only the start is fixed (the error text varies)
};

using id_pair = std::pair<std::uint32_t, std::uint32_t>;

struct expected_run {
    int status = 0;
    std::vector<expected_line> lines;      // the tool's own, in order
    bool libpng_may_fail = false;          // libpng may print its warnings and error lines
    bool libpng_must_fail = false;         // libpng refuses the header
    bool writer_opens_file = false;        // the output is created or truncated
    std::vector<std::string> last_events;  // the fake's log must end with these
    std::vector<id_pair> switch_requests;  // asked of the identity switch
    std::vector<id_pair> chown_requests;   // asked of the hand-over, for the output path
    std::uint32_t written_fb = 0;          // the framebuffer last read: the PNG's size
    std::vector<std::uint32_t> row_fbs;    // per row, the framebuffer it was last read from
    int attempts = 0;                      // at the capture, the first included
};

expected_run expect_run(const fuzz_case& c, const run_paths& paths, bool running_as_root);

// A framebuffer of the case by id (the first or the second), or null.
struct case_framebuffer {
    const fake_kms::framebuffer* fb;
    const std::vector<std::uint8_t>* buffer;
};
case_framebuffer framebuffer_by_id(const fuzz_case& c, std::uint32_t id);

// The image a successful run writes from that framebuffer: height rows of
// width RGB pixels.
std::vector<std::uint8_t> expected_rgb(const fuzz_case& c, std::uint32_t fb_id);

// SUDO_UID or SUDO_GID as the tool must read it: strtoul's base-10 rules
// into 64 bits, then the low 32 bits.
std::uint32_t sudo_id(const std::string& text);
