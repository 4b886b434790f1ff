#pragma once

#include "frameserver/avs_c.h"

// Writes the clip's video as a YUV4MPEG2 stream to standard output. Returns
// the clip that is current afterwards: a converted clip replaces the one
// given, which is then already released.
AVS_Clip* write_video(AVS_Clip* clip, AVS_ScriptEnvironment* env);

// Applies a one-argument conversion filter. Takes over clip (releases it)
// and returns the new clip; a result that is not a clip ends the process
// with "cannot convert video to <target_name>.".
AVS_Clip* convert_clip(AVS_Clip* clip, AVS_ScriptEnvironment* env, const char* filter, const char* target_name);
