#pragma once

#include <cstdio>
#include <string>

#include "frameserver/avs_c.h"
#include "frameserver/video_plan.h"

struct video_options {
    FILE* timecodes = nullptr;  // --timecodes: created by the caller, closed here
    std::string timecodes_path;
};

// Writes the clip's video, as the plan made it (plan_video with
// CARRIER_Y4M), as a YUV4MPEG2 stream to standard output.
void write_video(AVS_Clip* clip, AVS_ScriptEnvironment* env, const video_plan& plan, const video_options& options);
