#pragma once

#include <cstdio>
#include <string>

#include "frameserver/avs_c.h"
#include "frameserver/video_plan.h"

struct video_options {
    int depth = DEPTH_DEFAULT;  // --depth (see frameserver/video_plan.h)
    FILE* timecodes = nullptr;  // --timecodes: created by the caller, closed here
    std::string timecodes_path;
};

// Writes the clip's video as a YUV4MPEG2 stream to standard output. Returns
// the clip that is current afterwards: a converted clip replaces the one
// given, which is then already released.
AVS_Clip* write_video(AVS_Clip* clip, AVS_ScriptEnvironment* env, const video_options& options);
