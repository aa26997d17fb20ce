#pragma once

// One benchmark case: a picture, a pixel format and a size, timed for the
// tool, the floor and the peers in alternation.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "content.hpp"
#include "heap_peak.hpp"

struct bench_options {
    std::string tool;   // the scanoutsnap executable
    std::string floor;  // the floor process's executable
    std::string fake;   // the fake kernel interface, built as a preload library
    std::string work_dir;
    int runs = 5;
    bool peers = false;
    bool heap = false;
    // The peers' programs, found in PATH unless given with a directory.
    std::string ffmpeg = "ffmpeg";
    std::string convert = "convert";
    std::string pnmtopng = "pnmtopng";
};

struct contender_result {
    std::string name;
    std::vector<double> seconds;
    std::vector<double> cpu_seconds;
    std::uint64_t output_bytes = 0;
    bool same_pixels = false;  // decodes to the pixels the capture must have
};

struct case_result {
    content_kind kind = content_kind::desktop;
    pixel_format format = pixel_format::xrgb8888;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    // The tool, the floor process and the in-process floor, in that order
    // (their indexes below), then the peers.
    std::vector<contender_result> contenders;
    bool tool_equals_floor = false;  // the same bytes as both floors
    std::optional<heap_peak> heap;
    std::string failure;  // what went wrong, or empty
};

constexpr std::size_t tool_index = 0, floor_process_index = 1, floor_in_process_index = 2,
                      first_peer_index = 3;
constexpr const char* floor_process_name = "floor process";
constexpr const char* floor_in_process_name = "floor in-process";

case_result run_case(content_kind kind, pixel_format format, std::uint32_t width,
                     std::uint32_t height, const bench_options& options);

// The tool with the buffer loaded by the fake from a file (copied into a
// fresh memfd inside the tool's process) against the buffer handed over as
// the benchmark's own memfd: what the fake's loading adds to a run.
struct loading_result {
    std::vector<double> from_file;
    std::vector<double> from_memfd;
    std::vector<double> one_pixel;        // a 1×1 frame: the fixed cost of a run
    std::vector<double> floor_one_pixel;  // the floor process's, started alike
    std::string failure;
};
loading_result run_loading_comparison(std::uint32_t width, std::uint32_t height,
                                      const bench_options& options);
