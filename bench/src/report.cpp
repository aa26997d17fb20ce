#include "report.hpp"

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>

namespace {

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n == 0 ? 0 : n % 2 == 1 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

std::string format(const char* pattern, double value) {
    char text[64];
    std::snprintf(text, sizeof text, pattern, value);
    return text;
}

// "123.4 (120.1–130.9)" in milliseconds.
std::string timing(const std::vector<double>& seconds) {
    if (seconds.empty()) {
        return "–";
    }
    const auto [low, high] = std::minmax_element(seconds.begin(), seconds.end());
    return format("%.1f", median(seconds) * 1e3) + " (" + format("%.1f", *low * 1e3) + "–" +
           format("%.1f", *high * 1e3) + ")";
}

std::string case_name(const case_result& c) {
    return name_of(c.kind) + " | " + name_of(c.format) + " | " + std::to_string(c.width) + "x" +
           std::to_string(c.height);
}

const contender_result* find(const case_result& c, const std::string& name) {
    for (const contender_result& r : c.contenders) {
        if (r.name == name) {
            return &r;
        }
    }
    return nullptr;
}

std::vector<std::string> peer_names(const std::vector<case_result>& cases) {
    std::vector<std::string> names;
    for (const case_result& c : cases) {
        for (std::size_t i = first_peer_index; i < c.contenders.size(); ++i) {
            if (std::find(names.begin(), names.end(), c.contenders[i].name) == names.end()) {
                names.push_back(c.contenders[i].name);
            }
        }
    }
    return names;
}

double ratio(const case_result& c, const std::string& other) {
    const contender_result* peer = find(c, other);
    if (peer == nullptr || peer->seconds.empty() || c.contenders.empty()) {
        return 0;
    }
    return median(c.contenders[tool_index].seconds) / median(peer->seconds);
}

double cpu_ratio(const case_result& c, const std::string& other) {
    const contender_result* peer = find(c, other);
    if (peer == nullptr || peer->cpu_seconds.empty() || c.contenders.empty()) {
        return 0;
    }
    return median(c.contenders[tool_index].cpu_seconds) / median(peer->cpu_seconds);
}

std::string kib(std::uint64_t bytes) {
    return format("%.1f KiB", double(bytes) / 1024);
}

void times_table(std::ostream& out, const std::vector<case_result>& cases,
                 const std::vector<std::string>& peers) {
    out << "| picture | format | size | scanoutsnap ms | floor process ms | ×floor process | "
           "×floor process, CPU time | floor in-process ms | ×floor in-process | ×floor "
           "in-process, CPU time |";
    for (const std::string& p : peers) {
        out << " " << p << " ms | ×" << p << " |";
    }
    out << "\n|---|---|---|---:|---:|---:|---:|---:|---:|---:|";
    for (std::size_t i = 0; i < peers.size(); ++i) {
        out << "---:|---:|";
    }
    out << "\n";
    for (const case_result& c : cases) {
        if (c.contenders.size() < first_peer_index) {
            continue;
        }
        out << "| " << case_name(c) << " | " << timing(c.contenders[tool_index].seconds);
        for (const char* floor : {floor_process_name, floor_in_process_name}) {
            out << " | " << timing(find(c, floor)->seconds) << " | "
                << format("%.3f", ratio(c, floor)) << " | " << format("%.3f", cpu_ratio(c, floor));
        }
        out << " |";
        for (const std::string& p : peers) {
            const contender_result* r = find(c, p);
            out << " " << (r ? timing(r->seconds) : "–") << " | "
                << (r ? format("%.2f", ratio(c, p)) : "–") << " |";
        }
        out << "\n";
    }
}

void outputs_table(std::ostream& out, const std::vector<case_result>& cases,
                   const std::vector<std::string>& peers) {
    out << "| picture | format | size | scanoutsnap PNG | same bytes as floor |";
    for (const std::string& p : peers) {
        out << " " << p << " PNG |";
    }
    out << " heap peak (requested + malloc overhead) |\n|---|---|---|---:|---|";
    for (std::size_t i = 0; i < peers.size(); ++i) {
        out << "---:|";
    }
    out << "---:|\n";
    for (const case_result& c : cases) {
        if (c.contenders.empty()) {
            continue;
        }
        out << "| " << case_name(c) << " | " << c.contenders[tool_index].output_bytes << " | "
            << (c.tool_equals_floor ? "yes" : "**no**") << " |";
        for (const std::string& p : peers) {
            const contender_result* r = find(c, p);
            out << " " << (r ? std::to_string(r->output_bytes) : "–")
                << (r && !r->same_pixels ? " (other pixels)" : "") << " |";
        }
        out << " "
            << (c.heap ? kib(c.heap->total()) + " (" + kib(c.heap->requested) + " + " +
                             kib(c.heap->overhead) + ")"
                       : "–")
            << " |\n";
    }
}

// Time per pixel of the tool at each size, and how far the largest size's
// time is from the smallest's scaled by the pixel count.
void linearity_table(std::ostream& out, const std::vector<case_result>& cases) {
    std::map<std::string, std::vector<const case_result*>> by_picture;
    for (const case_result& c : cases) {
        if (!c.contenders.empty() && !c.contenders[tool_index].seconds.empty()) {
            by_picture[name_of(c.kind) + " | " + name_of(c.format)].push_back(&c);
        }
    }
    out << "| picture | format | scanoutsnap ns per pixel, by size | time ratio ÷ pixel ratio, "
           "largest to smallest | the same for the floor process |\n|---|---|---|---:|---:|\n";
    for (const auto& [name, sizes] : by_picture) {
        out << "| " << name << " | ";
        for (const case_result* c : sizes) {
            const double pixels = double(c->width) * c->height;
            out << (c == sizes.front() ? "" : "; ") << c->width << "x" << c->height << ": "
                << format("%.2f", median(c->contenders[tool_index].seconds) * 1e9 / pixels);
        }
        const case_result* small = sizes.front();
        const case_result* large = sizes.back();
        const double pixel_ratio =
            double(large->width) * large->height / (double(small->width) * small->height);
        const auto growth = [&](std::size_t i) {
            const double time_ratio =
                median(large->contenders[i].seconds) / median(small->contenders[i].seconds);
            return sizes.size() > 1 ? format("%.3f", time_ratio / pixel_ratio) : "–";
        };
        out << " | " << growth(tool_index) << " | " << growth(floor_process_index) << " |\n";
    }
}

// The most of the floor process's time, wall clock and CPU time alike, that
// the tool may take on a picture: the floor filters every row five ways, the
// tool chooses the same filter in vector code and has libpng apply only that
// one.
double floor_limit(const case_result& c) {
    switch (c.kind) {
        case content_kind::desktop:
            return 0.85;
        case content_kind::photo:
            return c.format == pixel_format::xrgb8888 ? 0.90 : 0.95;
        case content_kind::black:
            break;
    }
    return 0.80;
}

// What a case misses of the comparisons with the peers, which hold for the
// desktop and photo pictures from 1920x1080 up.
std::string peer_misses(const case_result& c) {
    std::string misses;
    for (const char* peer : {"convert", "pnmtopng"}) {
        if (find(c, peer) && ratio(c, peer) >= 1.0) {
            misses += std::string(" not faster than ") + peer + ";";
        }
    }
    const bool hd = c.width * c.height <= 1920u * 1080u;
    if (find(c, "ffmpeg") && ratio(c, "ffmpeg") > (hd ? 1.0 : 1.4)) {
        misses += " ×ffmpeg " + format("%.2f", ratio(c, "ffmpeg")) + (hd ? " > 1.0;" : " > 1.4;");
    }
    return misses;
}

// The tool reads the frame into a copy of its own, the rows without padding.
std::uint64_t frame_copy_bytes(const case_result& c) {
    return std::uint64_t{c.width} * c.height * (c.format == pixel_format::rgb565 ? 2 : 4);
}

void targets(std::ostream& out, const std::vector<case_result>& cases) {
    out << "Targets from 1920x1080 up (smaller sizes are reported only): the tool's median "
           "wall-clock and CPU time at most 0.85 of the floor process's on desktop pictures, 0.90 "
           "on XRGB8888 photos, 0.95 on RGB565 photos and 0.80 on black ones (the ratio to the "
           "in-process floor, stricter, is given beside each); the floor's bytes; "
           "on desktop and photo pictures faster than convert and pnmtopng and no slower than "
           "ffmpeg (1.4 times at 3840x2160); a heap peak under the frame's copy (width × height "
           "× bytes per pixel) plus 1 MiB:\n\n";
    for (const case_result& c : cases) {
        const std::string name = name_of(c.kind) + " " + name_of(c.format) + " " +
                                 std::to_string(c.width) + "x" + std::to_string(c.height);
        if (!c.failure.empty()) {
            out << "- " << name << ": FAILED: " << c.failure << "\n";
            continue;
        }
        if (c.width * c.height < 1920u * 1080u) {
            continue;
        }
        std::string misses;
        const double limit = floor_limit(c);
        if (ratio(c, floor_process_name) > limit) {
            misses += " ×floor process " + format("%.3f", ratio(c, floor_process_name)) + " > " +
                      format("%.2f", limit) + ";";
        }
        if (cpu_ratio(c, floor_process_name) > limit) {
            misses += " ×floor process in CPU time " +
                      format("%.3f", cpu_ratio(c, floor_process_name)) + " > " +
                      format("%.2f", limit) + ";";
        }
        if (c.kind != content_kind::black) {
            misses += peer_misses(c);
        }
        if (c.heap && c.heap->total() >= frame_copy_bytes(c) + 1024 * 1024) {
            misses += " heap peak " + kib(c.heap->total()) + " ≥ the frame's copy " +
                      kib(frame_copy_bytes(c)) + " + 1 MiB;";
        }
        if (!misses.empty()) {
            misses.pop_back();  // each miss ends in a semicolon, the last needs none
        }
        out << "- " << name << ": " << (misses.empty() ? "met" : "MISSED:" + misses)
            << " (×floor process " << format("%.3f", ratio(c, floor_process_name)) << ", CPU time "
            << format("%.3f", cpu_ratio(c, floor_process_name)) << "; ×floor in-process "
            << format("%.3f", ratio(c, floor_in_process_name)) << ", CPU time "
            << format("%.3f", cpu_ratio(c, floor_in_process_name)) << ")\n";
    }
}

}  // namespace

void print_report(std::ostream& out, const std::vector<case_result>& cases, int runs) {
    const std::vector<std::string> peers = peer_names(cases);
    out << "Times in milliseconds: median (min–max) of " << runs
        << " alternated runs. The tool and the floor process are whole processes, each started "
           "with the fake kernel interface preloaded and reading the same memfd; the in-process "
           "floor encodes pixels converted beforehand, with no process to start. ×X is the "
           "tool's median divided by X's (below 1: the tool is faster); the CPU-time ratio "
           "divides the medians of user plus system time, which other load on the machine "
           "disturbs less.\n\n";
    times_table(out, cases, peers);
    out << "\nOutput sizes in bytes (\"other pixels\": the file does not decode to the captured "
           "pixels) and the tool's heap peak under valgrind's massif:\n\n";
    outputs_table(out, cases, peers);
    out << "\nTime against pixel count (1.000: exactly linear):\n\n";
    linearity_table(out, cases);
    out << "\n";
    targets(out, cases);
}

void print_loading(std::ostream& out, const loading_result& loading, std::uint32_t width,
                   std::uint32_t height) {
    out << "\nThe fake's buffer loading, " << width << "x" << height
        << " black XRGB8888, whole-process ms, median (min–max):\n\n"
        << "| buffer given to the fake as | ms |\n|---|---:|\n"
        << "| `buffer_file` (read and copied into a memfd inside the tool's process) | "
        << timing(loading.from_file) << " |\n"
        << "| `buffer_fd` (the benchmark's memfd, duplicated) | " << timing(loading.from_memfd)
        << " |\n"
        << "| `buffer_fd`, a 1x1 frame (the fixed cost of a run) | " << timing(loading.one_pixel)
        << " |\n"
        << "| `buffer_fd`, a 1x1 frame, the floor process in the tool's place | "
        << timing(loading.floor_one_pixel) << " |\n";
    if (!loading.failure.empty()) {
        out << "\nFAILED: " << loading.failure << "\n";
    }
}
