#include "capture/device.hpp"
#include "capture/discovery.hpp"
#include "capture/frame_read.hpp"
#include "capture/mapped_fb.hpp"
#include "command_line.hpp"
#include "output/snapshot.hpp"

// Parse, open, discover, export and map, read the frame (capturing again while
// the screen changes under the read), write. The first failing phase has
// reported and released what it held; its status ends the run.
int main(int argc, char* argv[]) {
    const run_settings settings = parse_command_line(argc, argv);

    outcome<unique_fd> device = open_drm_device(settings.device_path);
    if (device.failed()) {
        return to_process_status(device.status());
    }
    outcome<scanout> found = find_active_fb(device.value(), settings.device_path);
    if (found.failed()) {
        return to_process_status(found.status());  // the device is closed on the way out
    }
    outcome<mapped_fb> capture = map_active_fb(std::move(device.value()), found.value().fb_id);
    if (capture.failed()) {
        return to_process_status(capture.status());
    }
    captured_frame frame = read_frame(std::move(capture.value()), found.value());
    return to_process_status(write_snapshot(std::move(frame)));
}
