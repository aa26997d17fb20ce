#pragma once

// The fuzzer's bytes as fields, in one fixed layout shared by decoding and by
// the seed writer. Bytes past the end of an input read as zero, so every input
// decodes to a complete run.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct raw_crtc {
    std::uint32_t buffer_id = 0;
    std::uint8_t unreadable = 0;  // odd: drmModeGetCrtc fails
};

struct raw_plane {
    std::uint32_t crtc_id = 0;
    std::uint32_t fb_id = 0;
    std::uint8_t unreadable = 0;  // odd: drmModeGetPlane fails
};

// Bits of raw_input::flags.
namespace input_flag {
inline constexpr std::uint8_t device_missing = 1 << 0;
inline constexpr std::uint8_t output_kind_shift = 1;  // two bits, see output_kind
inline constexpr std::uint8_t sudo_uid_set = 1 << 3;
inline constexpr std::uint8_t sudo_gid_set = 1 << 4;
inline constexpr std::uint8_t own_fb_id = 1 << 5;  // else the description has the id on screen
inline constexpr std::uint8_t tail_at_page_end = 1 << 6;
}  // namespace input_flag

// What the place where the framebuffer was found shows at a later read.
enum class later_choice : std::uint8_t {
    same,        // the framebuffer first found there
    other,       // the second framebuffer
    nothing,     // no framebuffer (0)
    unreadable,  // the read fails
};

inline constexpr std::size_t max_crtcs = 8;
inline constexpr std::size_t max_later_reads = 16;
inline constexpr std::size_t max_planes = 8;
inline constexpr std::size_t max_sudo_text = 24;

struct raw_input {
    std::uint8_t flags = 0;
    std::uint8_t cap_errno = 0;  // 0: drmGetCap succeeds
    std::uint64_t prime_cap = 0;
    std::uint8_t resources_errno = 0;
    std::vector<raw_crtc> crtcs;
    std::uint8_t plane_resources_errno = 0;
    std::vector<raw_plane> planes;
    std::uint32_t fb_id = 0;  // used with input_flag::own_fb_id
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint8_t format_choice = 0;  // modulo 4: XR24, AR24, RG16, or the format below
    std::uint32_t format = 0;
    std::uint8_t modifier_choice = 0;  // odd: the modifier below, else linear
    std::uint64_t modifier = 0;
    std::uint32_t pitch_extra = 0;  // beyond width × bytes per pixel for captured formats
    std::uint32_t offset = 0;
    std::uint32_t handle = 0;
    std::uint8_t export_errno = 0;  // 0: the export succeeds
    std::uint8_t sync_errno = 0;
    std::uint8_t size_choice = 0;  // modulo 4: mapped length exactly, more, less, or size_delta
    std::uint16_t size_delta = 0;
    std::uint8_t drop_errno = 0;   // the identity switch stand-in fails with it
    std::uint8_t chown_errno = 0;  // the hand-over stand-in fails with it
    std::string sudo_uid;
    std::string sudo_gid;
    // The screen changing under the read: the found place's later reads
    // (each modulo 4, a later_choice), and the second framebuffer.
    std::vector<std::uint8_t> later_reads;
    std::uint16_t other_width = 0;         // modulo 64, plus 1
    std::uint16_t other_height = 0;        // modulo 200, plus 1
    std::uint8_t other_format_choice = 0;  // as format_choice, the last choice XB24
    std::uint8_t other_export_errno = 0;
    std::vector<std::uint8_t> content;  // the rest of the input: the buffer's bytes, repeated
};

raw_input decode_input(const std::uint8_t* data, std::size_t size);
std::vector<std::uint8_t> encode_input(const raw_input& input);
