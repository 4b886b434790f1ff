#pragma once

#include <cstdio>
#include <string>

#include "frameserver/avs_c.h"
#include "frameserver/property_json.h"
#include "frameserver/video_plan.h"

struct video_options {
    frame_props_file frame_props;  // --frame-props
    FILE* timecodes = nullptr;  // --timecodes: created by the caller, closed here
    std::string timecodes_path;
};

// Writes the clip's video, as the plan made it (plan_video with
// CARRIER_Y4M), as a YUV4MPEG2 stream to standard output.
void write_video(AVS_Clip* clip, AVS_ScriptEnvironment* env, const video_plan& plan, video_options& options);
