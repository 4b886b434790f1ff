#pragma once

#include <string>

#include "frameserver/avs_c.h"

// The suggested x264 arguments for a Blu-ray Disc encode of a clip of this
// frame size, frame rate and field order; false when Blu-ray has no such
// combination.
bool bluray_args_for(const AVS_VideoInfo& vi, std::string* args);

// Prints the argument line (no line end), or ends the process with the
// not-supported error.
void suggest_bluray_args(AVS_Clip* clip);
