// meter: fetches every frame of the clip as the script gives it (no
// conversion), writes no stream, and reports how fast the script delivered
// them, how much memory and processor time it took, and where it was slow.
// What it measures is the script: the tool adds nothing but a clock.
#pragma once

#include <cstdio>
#include <string>

#include "frameserver/avs_c.h"
#include "frameserver/property_json.h"

struct meter_options {
    bool json = false;   // the report as one JSON object
    bool ascii = false;  // the picture of speed in ASCII
    FILE* log = nullptr; // --log: a CSV row a frame; created by the caller, closed here
    std::string log_path;
    frame_props_file frame_props;  // --frame-props
    int first_frame = 0;           // of the range (-s), for the report and the rows
};

// A clip without video is read a second of audio at a time instead.
void run_meter(AVS_Clip* clip, AVS_ScriptEnvironment* env, meter_options& options);

// The picture of speed across the run: each of up to 60 columns one
// character for the run's share of that column, the fastest column the
// fullest block (UTF-8 "▁" to "█", or ASCII "_" to "#").
std::string speed_picture(const float* milliseconds, size_t count, bool ascii);
