// The fake's state and its script parser. The intercepted entry points are in
// fake_drm.cpp (libdrm) and fake_syscalls.cpp (mmap, munmap, close, ioctl).

#include "fake_kms_state.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

namespace fake_kms {

namespace {

std::optional<std::uint64_t> parse_number(const std::string& token) {
    if (token.size() == 4 && !std::isdigit(static_cast<unsigned char>(token[0]))) {
        // A fourcc code written as its four letters, as in "XR24".
        return std::uint64_t{std::uint8_t(token[0])} | std::uint64_t{std::uint8_t(token[1])} << 8 |
               std::uint64_t{std::uint8_t(token[2])} << 16 |
               std::uint64_t{std::uint8_t(token[3])} << 24;
    }
    errno = 0;
    char* end = nullptr;
    const unsigned long long value = std::strtoull(token.c_str(), &end, 0);
    if (token.empty() || *end != '\0' || errno != 0) {
        return std::nullopt;
    }
    return value;
}

bool read_file(const std::string& path, std::vector<std::uint8_t>& bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return false;
    }
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

bool parse_framebuffer(std::istringstream& words, framebuffer& fb, std::string& error) {
    std::string pair;
    while (words >> pair) {
        const std::size_t equals = pair.find('=');
        const auto value = parse_number(pair.substr(equals + 1));
        if (equals == std::string::npos || !value) {
            error = "bad fb field '" + pair + "'";
            return false;
        }
        const std::string key = pair.substr(0, equals);
        const auto u32 = static_cast<std::uint32_t>(*value);
        if (key == "id")
            fb.id = u32;
        else if (key == "width")
            fb.width = u32;
        else if (key == "height")
            fb.height = u32;
        else if (key == "pitch")
            fb.pitch = u32;
        else if (key == "offset")
            fb.offset = u32;
        else if (key == "format")
            fb.pixel_format = u32;
        else if (key == "modifier")
            fb.modifier = *value;
        else if (key == "handle")
            fb.handle = u32;
        else {
            error = "unknown fb field '" + key + "'";
            return false;
        }
    }
    return true;
}

// The keywords that set one number of the script.
using number_setter = void (*)(script&, std::uint64_t);
const std::pair<const char*, number_setter> one_number_keywords[] = {
    {"cap", [](script& s, std::uint64_t v) { s.prime_cap = v; }},
    {"cap_error", [](script& s, std::uint64_t v) { s.cap_errno = int(v); }},
    {"resources_error", [](script& s, std::uint64_t v) { s.resources_errno = int(v); }},
    {"plane_resources_error", [](script& s, std::uint64_t v) { s.plane_resources_errno = int(v); }},
    {"export_error", [](script& s, std::uint64_t v) { s.export_errno = int(v); }},
    {"sync_error", [](script& s, std::uint64_t v) { s.sync_errno = int(v); }},
    {"populate_error", [](script& s, std::uint64_t v) { s.populate_errno = int(v); }},
    {"buffer_fd", [](script& s, std::uint64_t v) { s.buffer_fd = int(v); }},
    {"buffer_size", [](script& s, std::uint64_t v) { s.buffer.resize(v); }},
};

// One "keyword arguments..." line of the script.
bool parse_line(const std::string& line, script& s, std::string& error) {
    std::istringstream words(line);
    std::string keyword;
    if (!(words >> keyword) || keyword[0] == '#') {
        return true;
    }
    if (keyword == "fb") {
        framebuffer fb;
        if (!parse_framebuffer(words, fb, error)) {
            return false;
        }
        s.fb = fb;
        return true;
    }
    std::vector<std::string> args;
    for (std::string word; words >> word;) {
        args.push_back(word);
    }
    auto number = [&](std::size_t i) -> std::optional<std::uint64_t> {
        return i < args.size() ? parse_number(args[i]) : std::nullopt;
    };
    auto need = [&](std::size_t count) {
        for (std::size_t i = 0; i < count; ++i) {
            if (!number(i)) {
                error = "'" + line + "': expected " + std::to_string(count) + " numbers";
                return false;
            }
        }
        return true;
    };
    const bool unreadable = !args.empty() && args.back() == "unreadable";

    for (const auto& [name, set] : one_number_keywords) {
        if (keyword == name) {
            if (!need(1))
                return false;
            set(s, *number(0));
            return true;
        }
    }
    if (keyword == "crtc") {
        if (!need(unreadable ? 1 : 2))
            return false;
        s.crtcs.push_back(
            {std::uint32_t(*number(0)), unreadable ? 0 : std::uint32_t(*number(1)), !unreadable});
    } else if (keyword == "plane") {
        if (!need(unreadable ? 1 : 3))
            return false;
        s.planes.push_back({std::uint32_t(*number(0)), unreadable ? 0 : std::uint32_t(*number(1)),
                            unreadable ? 0 : std::uint32_t(*number(2)), !unreadable});
    } else if (keyword == "meminfo") {
        if (!need(2))
            return false;
        s.memory.push_back({*number(0), *number(1)});
    } else if (keyword == "buffer_file") {
        if (args.size() != 1 || !read_file(args[0], s.buffer)) {
            error = "'" + line + "': cannot read the buffer file";
            return false;
        }
    } else {
        error = "unknown keyword '" + keyword + "'";
        return false;
    }
    return true;
}

}  // namespace

state& the_state() {
    static state instance;
    return instance;
}

void state::log(const std::string& what) {
    // A call made after the process became another user says so.
    const uid_t euid = ::geteuid();
    const std::string event =
        euid == euid_at_load ? what : what + " as uid " + std::to_string(euid);
    events.push_back(event);
    if (log_fd != -1) {
        const std::string line = event + "\n";
        [[maybe_unused]] const ssize_t written = ::write(log_fd, line.data(), line.size());
    }
}

state& ensure_loaded() {
    state& st = the_state();
    if (st.loaded) {
        return st;
    }
    st.loaded = true;
    st.euid_at_load = ::geteuid();
    st.clock_ns = real_monotonic_ns();
    // Preloaded into the real executable: take the script from the environment.
    const char* script_path = std::getenv("FAKE_KMS_SCRIPT");
    if (script_path != nullptr) {
        std::ifstream in(script_path);
        std::stringstream text;
        text << in.rdbuf();
        std::string error;
        const std::optional<script> parsed = parse(text.str(), &error);
        if (!in || !parsed) {
            std::fprintf(stderr, "fake-kms: %s: %s\n", script_path, error.c_str());
            std::abort();
        }
        st.s = *parsed;
    }
    if (const char* log_path = std::getenv("FAKE_KMS_LOG")) {
        st.log_fd = ::open(log_path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    }
    return st;
}

void load(const script& s) {
    state& st = the_state();
    st.loaded = true;
    st.euid_at_load = ::geteuid();
    st.s = s;
    st.events.clear();
    st.live.clear();
    st.crtc_reads.clear();
    st.plane_reads.clear();
    st.meminfo_reads = 0;
    st.device_fd = -1;
    st.dmabuf_fd = -1;
    st.mapping = {};
    st.clock_ns = real_monotonic_ns();
}

std::optional<script> parse(const std::string& text, std::string* error) {
    script s;
    std::istringstream lines(text);
    std::string local_error;
    for (std::string line; std::getline(lines, line);) {
        if (!parse_line(line, s, local_error)) {
            if (error != nullptr)
                *error = local_error;
            return std::nullopt;
        }
    }
    return s;
}

const std::vector<std::string>& events() {
    return the_state().events;
}
void note(const std::string& event) {
    the_state().log(event);
}
int live_records() {
    return int(the_state().live.size());
}
bool device_open() {
    return the_state().device_fd != -1;
}
bool dmabuf_open() {
    return the_state().dmabuf_fd != -1;
}
bool mapping_live() {
    return the_state().mapping.start != nullptr;
}

}  // namespace fake_kms
