#include "run_checks.hpp"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>

#include "decoded_png.hpp"
#include "fake_kms.hpp"
#include "recorded_chown.hpp"
#include "recorded_privileges.hpp"
#include "temp_dir.hpp"

namespace {

struct context {
    const fuzz_case& c;
    const run_paths& paths;
    const expected_run& expected;
    const in_process_result& observed;
};

[[noreturn]] void finding(const context& at, const std::string& what) {
    std::fprintf(stderr,
                 "fuzz finding: %s\n  status %d (expected %d)\n  standard error:\n%s"
                 "  fake events (%zu), last: %s\n",
                 what.c_str(), at.observed.status, at.expected.status, at.observed.err.c_str(),
                 fake_kms::events().size(),
                 fake_kms::events().empty() ? "none" : fake_kms::events().back().c_str());
    std::abort();
}

bool starts_with(const std::string& text, const std::string& start) {
    return text.compare(0, start.size(), start) == 0;
}

void check_lines(const context& at) {
    const std::string& err = at.observed.err;
    if (!err.empty() && err.back() != '\n') {
        finding(at, "standard error does not end with a newline");
    }
    std::vector<std::string> own;
    bool libpng_error = false;
    std::istringstream lines(err);
    for (std::string line; std::getline(lines, line);) {
        if (starts_with(line, "scanoutsnap: ")) {
            own.push_back(line);
        } else if (starts_with(line, "libpng error: ")) {
            libpng_error = true;
        } else if (!starts_with(line, "libpng warning: ")) {
            finding(at, "a line that is neither the tool's nor libpng's: " + line);
        }
    }
    const bool libpng_spoke = err.find("libpng ") != std::string::npos;
    if (libpng_spoke && !at.expected.libpng_may_fail) {
        finding(at, "libpng printed where it has nothing to complain about");
    }
    if (at.expected.libpng_must_fail && !libpng_error) {
        finding(at, "libpng did not refuse the header");
    }
    const std::vector<expected_line>& want = at.expected.lines;
    if (own.size() != want.size()) {
        finding(at, "expected " + std::to_string(want.size()) + " lines of the tool's own");
    }
    for (std::size_t i = 0; i < want.size(); ++i) {
        if (want[i].whole ? own[i] != want[i].text : !starts_with(own[i], want[i].text)) {
            finding(at, "line " + std::to_string(i + 1) + " should be: " + want[i].text);
        }
    }
}

void check_released(const context& at) {
    if (fake_kms::live_records() != 0) {
        finding(at, std::to_string(fake_kms::live_records()) + " libdrm records not freed");
    }
    if (fake_kms::device_open() || fake_kms::dmabuf_open() || fake_kms::mapping_live()) {
        finding(at, "the device, the dma-buf or the mapping is still held");
    }
    if (at.observed.descriptors_left != 0) {
        finding(at, std::to_string(at.observed.descriptors_left) + " descriptors left open");
    }
    const std::vector<std::string>& events = fake_kms::events();
    const std::vector<std::string>& last = at.expected.last_events;
    if (events.size() < last.size() ||
        !std::equal(last.begin(), last.end(), events.end() - long(last.size()))) {
        std::string want;
        for (const std::string& event : last) {
            want += " " + event;
        }
        finding(at, "the run should end with:" + want);
    }
}

void check_requests(const context& at) {
    if (recorded_privileges::requests != at.expected.switch_requests) {
        finding(at, "the identity switch was asked for other ids, or not as expected");
    }
    const std::vector<recorded_chown::request>& chowns = recorded_chown::requests;
    bool same = chowns.size() == at.expected.chown_requests.size();
    for (std::size_t i = 0; same && i < chowns.size(); ++i) {
        same = chowns[i].path == at.paths.output &&
               id_pair{chowns[i].uid, chowns[i].gid} == at.expected.chown_requests[i];
    }
    if (!same) {
        finding(at, "the hand-over was asked for another file or ids, or not as expected");
    }
}

// Each row as the framebuffer it was last read from converts it.
std::vector<std::uint8_t> expected_image(const context& at) {
    std::map<std::uint32_t, std::vector<std::uint8_t>> frames;
    const std::vector<std::uint32_t>& rows = at.expected.row_fbs;
    std::vector<std::uint8_t> rgb;
    for (std::size_t y = 0; y < rows.size(); ++y) {
        auto [frame, fresh] = frames.try_emplace(rows[y]);
        if (fresh) {
            frame->second = expected_rgb(at.c, rows[y]);
        }
        const std::size_t row_bytes = frame->second.size() / rows.size();
        const auto row = frame->second.begin() + static_cast<std::ptrdiff_t>(y * row_bytes);
        rgb.insert(rgb.end(), row, row + static_cast<std::ptrdiff_t>(row_bytes));
    }
    return rgb;
}

void check_image(const context& at) {
    const std::optional<decoded_png> image = read_png(at.paths.output);
    if (!image) {
        finding(at, "status 0 without a readable 8-bit RGB PNG");
    }
    const fake_kms::framebuffer& fb = *framebuffer_by_id(at.c, at.expected.written_fb).fb;
    if (image->width != fb.width || image->height != fb.height || image->interlace != 0) {
        finding(at, "the PNG's header does not match the framebuffer");
    }
    if (image->rgb != expected_image(at)) {
        finding(at, "the PNG's pixels are not the framebuffer's");
    }
}

void check_file(const context& at) {
    const std::string& path = at.paths.output;
    switch (at.c.output) {
        case output_kind::full_device:
            return;
        case output_kind::missing_directory:
            if (std::filesystem::exists(std::filesystem::path(path).parent_path())) {
                finding(at, "the missing directory was created");
            }
            return;
        case output_kind::new_file:
        case output_kind::existing_file:
            break;
    }
    if (at.observed.status == 0) {
        check_image(at);
    } else if (!at.expected.writer_opens_file) {
        const bool existed = at.c.output == output_kind::existing_file;
        if (existed ? read_file(path) != older_file_content : std::filesystem::exists(path)) {
            finding(at, "a failed run before the PNG stage touched the output path");
        }
    } else if (at.expected.libpng_must_fail && std::filesystem::file_size(path) != 0) {
        finding(at, "a header libpng refused left more than an empty file");
    }
}

}  // namespace

void check_run(const fuzz_case& c, const run_paths& paths, const expected_run& expected,
               const in_process_result& observed) {
    const context at{c, paths, expected, observed};
    const int status = observed.status;
    if (status != 0 && (status < 101 || status > 109)) {
        finding(at, "a status the tool never returns");
    }
    if (status != expected.status) {
        finding(at, "another status than the case implies");
    }
    check_lines(at);
    check_released(at);
    check_requests(at);
    check_file(at);
}
