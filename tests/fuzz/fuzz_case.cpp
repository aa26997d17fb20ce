#include "fuzz_case.hpp"

#include <unistd.h>

#include <algorithm>
#include <limits>

namespace {

constexpr std::uint32_t xr24 = 0x34325258;
constexpr std::uint32_t ar24 = 0x34325241;
constexpr std::uint32_t rg16 = 0x36314752;

std::string up_to_nul(const std::string& text) {
    return text.substr(0, text.find('\0'));
}

std::uint8_t filler(std::uint64_t i) {
    return static_cast<std::uint8_t>(i * 131 + (i >> 8) * 17 + (i >> 16));
}

// The buffer's bytes: the input's content repeated, each repetition changed so
// that reading the wrong row or pixel shows in the image.
std::vector<std::uint8_t> buffer_bytes(const std::vector<std::uint8_t>& content,
                                       std::uint64_t size) {
    std::vector<std::uint8_t> bytes(size);
    if (content.empty()) {
        for (std::uint64_t i = 0; i < size; ++i) {
            bytes[i] = filler(i);
        }
        return bytes;
    }
    std::uint8_t change = 0;
    for (std::uint64_t start = 0; start < size; start += content.size(), change += 0x9D) {
        for (std::size_t j = 0; j < content.size() && start + j < size; ++j) {
            bytes[start + j] = content[j] ^ change;
        }
    }
    return bytes;
}

std::uint64_t buffer_size(const raw_input& in, std::uint64_t mapped) {
    std::uint64_t size = in.size_delta;
    switch (in.size_choice % 4) {
        case 0:
            size = mapped;
            break;
        case 1:
            size = mapped + in.size_delta;
            break;
        case 2:
            size = mapped - std::min<std::uint64_t>(in.size_delta, mapped);
            break;
        default:
            break;
    }
    return size > max_buffer_size ? in.size_delta : size;
}

fake_kms::framebuffer framebuffer_of(const raw_input& in, std::uint32_t id_on_screen) {
    fake_kms::framebuffer fb;
    fb.id = (in.flags & input_flag::own_fb_id) != 0 ? in.fb_id : id_on_screen;
    const std::uint32_t formats[] = {xr24, ar24, rg16, in.format};
    fb.pixel_format = formats[in.format_choice % 4];
    fb.modifier = (in.modifier_choice & 1) != 0 ? in.modifier : 0;
    fb.width = in.width;
    fb.height = in.height;
    fb.handle = in.handle;

    constexpr std::uint64_t u32_max = std::numeric_limits<std::uint32_t>::max();
    if (const std::uint32_t bpp = captured_bytes_per_pixel(fb.pixel_format)) {
        fb.width = static_cast<std::uint32_t>(std::min<std::uint64_t>(fb.width, u32_max / bpp));
        fb.pitch = static_cast<std::uint32_t>(
            std::min<std::uint64_t>(std::uint64_t{fb.width} * bpp + in.pitch_extra, u32_max));
    } else {
        fb.pitch = in.pitch_extra;
    }

    fb.offset = in.offset;
    const std::uint64_t image = std::uint64_t{fb.height} * fb.pitch;
    if ((in.flags & input_flag::tail_at_page_end) != 0 && image != 0) {
        // The mapping then ends where the inaccessible page after it begins.
        const std::uint64_t page = static_cast<std::uint64_t>(::sysconf(_SC_PAGESIZE));
        fb.offset =
            static_cast<std::uint32_t>(fb.offset - fb.offset % page + (page - image % page) % page);
    }
    return fb;
}

// The second framebuffer: small, of its own id, format and pixels.
fake_kms::other_framebuffer other_framebuffer(const raw_input& in, std::uint32_t id,
                                              std::uint32_t handle) {
    const std::uint32_t formats[] = {xr24, ar24, rg16, 0x34324258};
    fake_kms::other_framebuffer other;
    other.fb.id = id;
    other.fb.width = in.other_width % 64u + 1;
    other.fb.height = in.other_height % 200u + 1;
    other.fb.pixel_format = formats[in.other_format_choice % 4];
    other.fb.pitch = other.fb.width *
                     std::max<std::uint32_t>(captured_bytes_per_pixel(other.fb.pixel_format), 4);
    other.fb.handle = handle;
    other.fb.export_errno = in.other_export_errno;
    other.buffer = buffer_bytes(in.content, std::uint64_t{other.fb.pitch} * other.fb.height);
    for (std::uint8_t& byte : other.buffer) {
        byte ^= 0xA5;
    }
    return other;
}

// The framebuffer ids the place where it was found reports at its later reads.
std::vector<std::uint32_t> later_ids(const raw_input& in, std::uint32_t found,
                                     std::uint32_t other) {
    std::vector<std::uint32_t> ids;
    for (const std::uint8_t choice : in.later_reads) {
        switch (static_cast<later_choice>(choice % 4)) {
            case later_choice::same:
                ids.push_back(found);
                break;
            case later_choice::other:
                ids.push_back(other);
                break;
            case later_choice::nothing:
                ids.push_back(0);
                break;
            case later_choice::unreadable:
                ids.push_back(fake_kms::unreadable);
                break;
        }
    }
    return ids;
}

void set_later_ids(fake_kms::script& k, const screen_place& found, std::vector<std::uint32_t> ids) {
    if (found.where == screen_place::kind::crtc) {
        k.crtcs[found.index].later_buffer_ids = std::move(ids);
    } else if (found.where == screen_place::kind::plane) {
        k.planes[found.index].later_fb_ids = std::move(ids);
    }
}

}  // namespace

std::uint32_t captured_bytes_per_pixel(std::uint32_t fourcc) {
    return fourcc == xr24 || fourcc == ar24 ? 4 : fourcc == rg16 ? 2 : 0;
}

std::uint32_t framebuffer_on_screen(const fake_kms::script& kernel) {
    const screen_place found = where_found(kernel);
    switch (found.where) {
        case screen_place::kind::crtc:
            return kernel.crtcs[found.index].buffer_id;
        case screen_place::kind::plane:
            return kernel.planes[found.index].fb_id;
        case screen_place::kind::none:
            break;
    }
    return 0;
}

std::uint32_t other_framebuffer_id(std::uint32_t found) {
    return found % 0x7FFFFFFF + 1;
}

screen_place where_found(const fake_kms::script& kernel) {
    if (kernel.resources_errno != 0) {
        return {};
    }
    for (std::size_t i = 0; i < kernel.crtcs.size(); ++i) {
        if (kernel.crtcs[i].readable && kernel.crtcs[i].buffer_id != 0) {
            return {screen_place::kind::crtc, i};
        }
    }
    if (kernel.plane_resources_errno != 0) {
        return {};
    }
    for (std::size_t i = 0; i < kernel.planes.size(); ++i) {
        const fake_kms::plane& plane = kernel.planes[i];
        if (plane.readable && plane.crtc_id != 0 && plane.fb_id != 0) {
            return {screen_place::kind::plane, i};
        }
    }
    return {};
}

fuzz_case interpret(const raw_input& in) {
    fuzz_case c;
    c.device_missing = (in.flags & input_flag::device_missing) != 0;
    c.output = static_cast<output_kind>((in.flags >> input_flag::output_kind_shift) & 3);
    if ((in.flags & input_flag::sudo_uid_set) != 0) {
        c.sudo_uid = up_to_nul(in.sudo_uid);
    }
    if ((in.flags & input_flag::sudo_gid_set) != 0) {
        c.sudo_gid = up_to_nul(in.sudo_gid);
    }
    c.drop_errno = in.drop_errno;
    c.chown_errno = in.chown_errno;

    fake_kms::script& k = c.kernel;
    k.cap_errno = in.cap_errno;
    k.prime_cap = in.prime_cap;
    k.resources_errno = in.resources_errno;
    // Distinct ids, so that each entry is the one the tool asks for by id.
    for (std::size_t i = 0; i < in.crtcs.size(); ++i) {
        k.crtcs.push_back(
            {std::uint32_t(1000 + i), in.crtcs[i].buffer_id, (in.crtcs[i].unreadable & 1) == 0});
    }
    k.plane_resources_errno = in.plane_resources_errno;
    for (std::size_t i = 0; i < in.planes.size(); ++i) {
        k.planes.push_back({std::uint32_t(2000 + i), in.planes[i].crtc_id, in.planes[i].fb_id,
                            (in.planes[i].unreadable & 1) == 0});
    }
    const fake_kms::framebuffer fb = framebuffer_of(in, framebuffer_on_screen(k));
    k.fb = fb;
    k.export_errno = in.export_errno;
    k.sync_errno = in.sync_errno;

    const std::uint64_t image = std::uint64_t{fb.height} * fb.pitch;
    const std::uint64_t mapped = image == 0 ? 0 : fb.offset + image;
    k.buffer = buffer_bytes(in.content, buffer_size(in, mapped));

    const std::uint32_t found_id = framebuffer_on_screen(k);
    const std::uint32_t other_id = other_framebuffer_id(found_id);
    k.other_fbs = {other_framebuffer(in, other_id, fb.handle + 1)};
    set_later_ids(k, where_found(k), later_ids(in, found_id, other_id));
    return c;
}
