#pragma once

// The output path, read by the PNG phase. "screenshot.png" in the working
// directory unless the command line names another file.
extern const char* out_filename;

struct run_settings {
    const char* device_path;
};

// Reads the command line into the run settings and out_filename. Nothing on
// the command line is an error: getopt_long complains about what it does not
// understand, and the run goes on.
run_settings parse_command_line(int argc, char* argv[]);
