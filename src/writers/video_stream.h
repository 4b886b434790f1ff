#pragma once

#include <cstdio>
#include <string>

#include "frameserver/avs_c.h"

// The depth a video stream is written at: DEPTH_DEFAULT brings every clip
// to one of five 8-bit layouts; DEPTH_KEEP keeps the clip's chroma layout
// and depth (float becomes 16 bits); 8 to 16 keep the layout at that depth.
constexpr int DEPTH_DEFAULT = 0;
constexpr int DEPTH_KEEP = -1;

struct video_options {
    int depth = DEPTH_DEFAULT;
    FILE* timecodes = nullptr;  // --timecodes: created by the caller, closed here
    std::string timecodes_path;
};

// Writes the clip's video as a YUV4MPEG2 stream to standard output. Returns
// the clip that is current afterwards: a converted clip replaces the one
// given, which is then already released.
AVS_Clip* write_video(AVS_Clip* clip, AVS_ScriptEnvironment* env, const video_options& options);

// Applies a conversion filter to the clip, with one more argument if given.
// Takes over clip (releases it) and returns the new clip; a result that is
// not a clip ends the process with "cannot convert video to <target_name>.".
AVS_Clip* convert_clip(AVS_Clip* clip, AVS_ScriptEnvironment* env, const char* filter, const char* target_name,
                       const AVS_Value* argument = nullptr);
