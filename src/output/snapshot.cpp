#include "output/snapshot.hpp"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <optional>

#include "command_line.hpp"
#include "diagnostics.hpp"
#include "output/png_writers.hpp"
#include "output/privileges.hpp"
#include "output/sudo_caller.hpp"
#include "pixel_formats.hpp"

namespace {

using png_writer = int (*)(const char*, std::uint32_t, std::uint32_t, std::uint32_t,
                           const std::uint8_t*);

png_writer writer_for(std::uint32_t fourcc) {
    return find_captured_format(fourcc)->layout == pixel_layout::rgb565 ? write_png_rgb24_rgb565
                                                                        : write_png_rgb24_xrgb;
}

// Root running for a sudo caller writes with the caller's rights, so that the
// caller cannot make the tool overwrite a file only root may write. Root
// itself (uid 0) and an unset uid (all ones) keep root's rights.
std::optional<sudo_caller> caller_to_become() {
    if (::geteuid() != 0) {
        return std::nullopt;
    }
    const std::optional<sudo_caller> caller = find_sudo_caller();
    if (!caller || caller->uid == 0 || caller->uid == unset_id) {
        return std::nullopt;
    }
    return caller;
}

}  // namespace

exit_status write_snapshot(captured_frame frame) {
    if (const std::optional<sudo_caller> caller = caller_to_become()) {
        if (drop_privileges_to(caller->uid, caller->gid) != 0) {
            const int drop_errno = errno;
            frame.release();
            report("drop privileges to %u:%u: %s", caller->uid, caller->gid,
                   std::strerror(drop_errno));
            return exit_status::write_failed;
        }
    }

    const frame_view source = frame.view();
    const png_writer write = writer_for(source.pixel_format);
    const int written =
        write(out_filename, source.width, source.height, source.pitch, source.pixels);
    frame.release();
    if (written != 0) {
        // errno as the writer and the release left it: the failed call's error.
        report("write %s: %s", out_filename, std::strerror(errno));
        return exit_status::write_failed;
    }
    chown_to_sudo_user(out_filename);
    return exit_status::success;
}
