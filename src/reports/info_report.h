#pragma once

#include <cstdint>

#include "frameserver/avs_c.h"

// Prints the clip's video and audio properties as labelled lines.
void print_info(AVS_Clip* clip);

// --json: the same facts as one JSON object, and beside them frame 0's
// properties, the audio's channel mask, and what video and mkv would write
// of the clip with the same --depth (see README.md for the fields).
void print_info_json(AVS_Clip* clip, AVS_ScriptEnvironment* env, int depth);

// Whole seconds of num_frames at fps_numerator/fps_denominator; 0 when the
// rate is 0 or the count negative.
uint64_t video_duration_seconds(int num_frames, unsigned fps_numerator, unsigned fps_denominator);
