// meter: the pump fetches every frame of the clip as the script gives it
// (no conversion) and writes no stream; this reports how fast the script delivered
// them, how much memory and processor time it took, and where it was slow.
// What it measures is the script: the tool adds nothing but a clock.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "frameserver/avs_c.h"
#include "common/platform.h"

// What one run measured: the pump times each fetch it makes.
struct meter_measurement {
    const char* unit = "frames";  // or "seconds" (of audio, a block each)
    int64_t total = 0;            // units the clip has
    std::vector<float> times;     // milliseconds to deliver each unit fetched
    // From the first fetch to the last delivery; the process's usage is
    // read at the same two moments, so that busy cores are its processor
    // time over this very stretch.
    double wall_seconds = 0;
    process_usage before, after;
    // A run cut short: by an interrupt, or by what the frame server said
    // of the frame or the audio it could not deliver.
    bool interrupted = false;
    std::string error;
    std::string failure;  // the end-of-run error, said once the report is out
};

// The report, on standard output: as text, or as one JSON object.
void print_meter_report(const meter_measurement& m, AVS_ScriptEnvironment* env, bool json, bool ascii,
                        int first_frame);

// The picture of speed across the run: each of up to 60 columns one
// character for the run's share of that column, the fastest column the
// fullest block (UTF-8 "▁" to "█", or ASCII "_" to "#").
std::string speed_picture(const float* milliseconds, size_t count, bool ascii);
