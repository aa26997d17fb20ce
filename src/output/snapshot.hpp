#pragma once

#include "capture/frame_read.hpp"
#include "exit_status.hpp"

// Becomes the sudo caller, writes the frame as a PNG at out_filename, releases
// the frame (and the capture, if it is still held), and gives the file to the
// sudo caller.
exit_status write_snapshot(captured_frame frame);
