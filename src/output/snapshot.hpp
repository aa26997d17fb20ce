#pragma once

#include "capture/mapped_fb.hpp"
#include "exit_status.hpp"

// Writes the captured framebuffer as a PNG at out_filename, releases the
// capture, and gives the file to the sudo caller.
exit_status write_snapshot(mapped_fb capture);
