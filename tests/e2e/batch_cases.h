// Frame ranges, script arguments and chunked runs: cases that every frame
// server must pass, run against the one options names.
#pragma once

#include <string>

#include "harness.h"

// clip_script makes a clip of 12 frames of 8-bit 4:2:0 at 24 fps, every
// frame different, with 48 kHz audio as long as the video.
void check_frame_ranges(const std::string& clip_script, const run_options& options);
void check_parallel_chunks(const std::string& clip_script, const run_options& options);

void check_script_arguments(const run_options& options);
