// Writes the seed corpus: one input per kind of run, each a small change of
// a lit 2 × 2 XRGB8888 framebuffer written to a new file.
//   scanoutsnap_fuzz_seeds DIR

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <utility>

#include "fuzz_input.hpp"

namespace {

namespace flag = input_flag;

constexpr std::uint32_t xb24 = 0x34324258;

raw_input lit() {
    raw_input in;
    in.prime_cap = 3;
    in.crtcs = {{45, 0}};
    in.width = 2;
    in.height = 2;
    in.handle = 1;
    in.content = {0x40, 0x80, 0xFF, 0x00, 0x01, 0x02, 0x03, 0x04, 0xFE, 0x7F, 0x10, 0x99};
    return in;
}

std::uint8_t output(unsigned kind) {
    return static_cast<std::uint8_t>(kind << flag::output_kind_shift);
}

raw_input with(const std::function<void(raw_input&)>& change) {
    raw_input in = lit();
    change(in);
    return in;
}

std::vector<std::uint8_t> noise(std::size_t n) {
    std::vector<std::uint8_t> bytes(n);
    std::uint32_t state = 12345;
    for (std::uint8_t& b : bytes) {
        state = state * 1103515245 + 12345;
        b = static_cast<std::uint8_t>(state >> 16);
    }
    return bytes;
}

const std::vector<std::pair<const char*, raw_input>>& seeds() {
    static const std::vector<std::pair<const char*, raw_input>> all = {
        {"xrgb-2x2", lit()},
        {"argb-padded-rows", with([](raw_input& in) {
             in.format_choice = 1;
             in.width = 3;
             in.pitch_extra = 4;
         })},
        {"rgb565-offset-tail-at-page-end", with([](raw_input& in) {
             in.flags = flag::tail_at_page_end;
             in.format_choice = 2;
             in.width = 5;
             in.height = 3;
             in.pitch_extra = 6;
             in.offset = 64;
         })},
        {"plane-fallback", with([](raw_input& in) {
             in.crtcs = {{0, 0}, {7, 1}};
             in.planes = {{0, 44, 0}, {31, 46, 1}, {31, 45, 0}};
         })},
        {"nothing-on-screen", with([](raw_input& in) {
             in.crtcs = {{0, 0}};
             in.planes = {{0, 44, 0}};
         })},
        {"plane-resources-unreadable", with([](raw_input& in) {
             in.crtcs = {};
             in.plane_resources_errno = 13;
         })},
        {"device-missing", with([](raw_input& in) { in.flags = flag::device_missing; })},
        {"capability-query-fails", with([](raw_input& in) { in.cap_errno = 22; })},
        {"import-only", with([](raw_input& in) { in.prime_cap = 1; })},
        {"resources-unreadable", with([](raw_input& in) { in.resources_errno = 13; })},
        {"description-unreadable", with([](raw_input& in) {
             in.flags = flag::own_fb_id | output(1);
             in.fb_id = 46;
         })},
        {"tiled", with([](raw_input& in) {
             in.modifier_choice = 1;
             in.modifier = 0x700000000000006;
         })},
        {"unsupported-format", with([](raw_input& in) {
             in.format_choice = 3;
             in.format = xb24;
             in.pitch_extra = 8;
         })},
        {"export-enoent", with([](raw_input& in) { in.export_errno = 2; })},
        {"export-eio", with([](raw_input& in) { in.export_errno = 5; })},
        {"buffer-too-small", with([](raw_input& in) {
             in.size_choice = 2;
             in.size_delta = 1;
         })},
        {"height-zero", with([](raw_input& in) {
             in.height = 0;
             in.size_choice = 3;
             in.size_delta = 64;
         })},
        {"width-zero", with([](raw_input& in) {
             in.width = 0;
             in.pitch_extra = 8;
         })},
        {"wider-than-libpng-allows", with([](raw_input& in) {
             in.format_choice = 2;
             in.width = 1000001;
             in.height = 1;
         })},
        {"missing-directory", with([](raw_input& in) { in.flags = output(2); })},
        {"full-device", with([](raw_input& in) { in.flags = output(3); })},
        {"full-device-large-image", with([](raw_input& in) {
             in.flags = output(3);
             in.width = 64;
             in.height = 64;
             in.content = noise(1000);
         })},
        {"sudo-caller", with([](raw_input& in) {
             in.flags = flag::sudo_uid_set | flag::sudo_gid_set;
             in.sudo_uid = "1000";
             in.sudo_gid = "1000";
         })},
        {"sudo-switch-fails", with([](raw_input& in) {
             in.flags = flag::sudo_uid_set | flag::sudo_gid_set;
             in.sudo_uid = "65534";
             in.sudo_gid = "65534";
             in.drop_errno = 1;
         })},
        {"sudo-ids-unusual", with([](raw_input& in) {
             in.flags = flag::sudo_uid_set | flag::sudo_gid_set | output(1);
             in.sudo_uid = " +4294967296x";
             in.sudo_gid = "-1";
             in.chown_errno = 1;
         })},
        {"sudo-ids-beyond-63-bits", with([](raw_input& in) {
             in.flags = flag::sudo_uid_set | flag::sudo_gid_set;
             in.sudo_uid = "12345678901234567890";
             in.sudo_gid = "-9223372036854775809";
         })},
        {"sudo-uid-only", with([](raw_input& in) {
             in.flags = flag::sudo_uid_set;
             in.sudo_uid = "1000";
         })},
        {"screen-changes-during-the-read", with([](raw_input& in) {
             in.height = 130;
             in.later_reads = {0, 1};
             in.other_width = 7;
             in.other_height = 69;
         })},
        {"screen-changes-on-every-attempt",
         with([](raw_input& in) { in.later_reads = {1, 1, 0, 0, 1, 1, 0, 0, 1, 1, 0}; })},
        {"plane-changes-then-nothing-on-screen", with([](raw_input& in) {
             in.crtcs = {{0, 0}};
             in.planes = {{31, 45, 0}};
             in.later_reads = {1, 2};
         })},
        {"crtc-unreadable-then-rgb565-of-another-size", with([](raw_input& in) {
             in.later_reads = {3, 1};
             in.other_format_choice = 2;
             in.other_width = 39;
             in.other_height = 150;
         })},
        {"later-export-fails", with([](raw_input& in) {
             in.later_reads = {1};
             in.other_export_errno = 5;
         })},
        {"later-format-unsupported", with([](raw_input& in) {
             in.later_reads = {1};
             in.other_format_choice = 3;
         })},
        {"sync-fails", with([](raw_input& in) {
             in.sync_errno = 25;
             in.size_choice = 1;
             in.size_delta = 100;
         })},
    };
    return all;
}

}  // namespace

int main(int argc, char* argv[]) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s DIR\n", argv[0]);
        return 2;
    }
    const std::filesystem::path dir = argv[1];
    std::filesystem::create_directories(dir);
    for (const auto& [name, input] : seeds()) {
        const std::vector<std::uint8_t> bytes = encode_input(input);
        std::ofstream(dir / name, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    }
    return 0;
}
