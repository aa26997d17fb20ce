#pragma once

// What one fuzz input means: the kernel's answers, scripted for the fake, and
// the run's surroundings.

#include <cstdint>
#include <optional>
#include <string>

#include "fake_kms.hpp"
#include "fuzz_input.hpp"

enum class output_kind : std::uint8_t {
    new_file,           // a writable directory, no file there yet
    existing_file,      // a writable directory with an older file at the path
    missing_directory,  // the directory does not exist
    full_device,        // /dev/full: opens, every write fails with ENOSPC
};

struct fuzz_case {
    bool device_missing = false;
    output_kind output = output_kind::new_file;
    std::optional<std::string> sudo_uid;
    std::optional<std::string> sudo_gid;
    int drop_errno = 0;
    int chown_errno = 0;
    fake_kms::script kernel;  // always with a framebuffer description
};

// What an existing output file holds before the run.
inline constexpr char older_file_content[] = "an older file\n";

// The largest buffer object a case asks for, to keep one run small.
inline constexpr std::uint64_t max_buffer_size = 4u << 20;

// Framebuffer descriptions keep the kernel's promise for the formats the tool
// captures: pitch ≥ width × bytes per pixel, all in 32 bits.
fuzz_case interpret(const raw_input& in);

// Where the tool must find a framebuffer on screen for these answers, at
// their first read.
struct screen_place {
    enum class kind { none, crtc, plane };
    kind where = kind::none;
    std::size_t index = 0;  // in the script's CRTCs or planes
};
screen_place where_found(const fake_kms::script& kernel);

// The id the tool must find on screen for these answers, or 0 when there is none.
std::uint32_t framebuffer_on_screen(const fake_kms::script& kernel);

// The id of the second framebuffer, which the place where the first was
// found may show at later reads: never that id, 0 or the fake's unreadable.
std::uint32_t other_framebuffer_id(std::uint32_t found);

// Bytes per pixel of a format the tool captures, 0 for any other.
std::uint32_t captured_bytes_per_pixel(std::uint32_t fourcc);
