#include "capture/device.hpp"
#include "capture/discovery.hpp"
#include "capture/mapped_fb.hpp"
#include "command_line.hpp"
#include "output/snapshot.hpp"

// One pass: parse, open, discover, export and map, write. The first failing
// phase has reported and released what it held; its status ends the run.
int main(int argc, char* argv[]) {
    const run_settings settings = parse_command_line(argc, argv);

    outcome<unique_fd> device = open_drm_device(settings.device_path);
    if (device.failed()) {
        return to_process_status(device.status());
    }
    outcome<std::uint32_t> fb_id = find_active_fb(device.value(), settings.device_path);
    if (fb_id.failed()) {
        return to_process_status(fb_id.status());  // the device is closed on the way out
    }
    outcome<mapped_fb> capture = map_active_fb(std::move(device.value()), fb_id.value());
    if (capture.failed()) {
        return to_process_status(capture.status());
    }
    return to_process_status(write_snapshot(std::move(capture.value())));
}
