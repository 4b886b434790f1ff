// A frame's properties as JSON, every key with its type and value, for the
// reports a batch tool reads (info --json, --frame-props).
#pragma once

#include <cstdio>
#include <string>

#include "frameserver/avs_c.h"

// One JSON object: {"_Matrix": {"type": "int", "value": 9},
// "MasteringDisplayPrimariesX": {"type": "float", "value": [0.68, 0.265, 0.15]},
// "name": {"type": "data", "value": "..."}, "foo": {"type": "clip"}}. A key
// of one element has that element as its value, of several an array of
// them; clips and frames have their type alone, and data its bytes as a
// JSON string (see append_json_string). "{}" where the frame server gives
// no readable properties.
std::string frame_properties_json(AVS_ScriptEnvironment* env, const AVS_VideoFrame* frame);

// --frame-props FILE: one JSON line for each frame written,
// {"frame": n, "properties": {...}}, n the frame's number in the script
// (under -s, as meter's report and log count it).
struct frame_props_file {
    FILE* file = nullptr;  // null: none asked for
    std::string path;      // for messages
    int first_frame = 0;   // of the range (-s)
    bool ok = true;
};

void write_frame_props(frame_props_file& props, int n, AVS_ScriptEnvironment* env, const AVS_VideoFrame* frame);

// Completes the file; an error (status 2) where any of it did not reach
// the disk.
void end_frame_props(frame_props_file& props);
