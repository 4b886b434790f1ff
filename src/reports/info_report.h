#pragma once

#include <cstdint>

#include "frameserver/avs_c.h"

// Prints the clip's video and audio properties as labelled lines.
void print_info(AVS_Clip* clip);

// Whole seconds of num_frames at fps_numerator/fps_denominator; 0 when the
// rate is 0 or the count negative.
uint64_t video_duration_seconds(int num_frames, unsigned fps_numerator, unsigned fps_denominator);
