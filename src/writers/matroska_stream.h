#pragma once

#include "frameserver/avs_c.h"
#include "frameserver/property_json.h"

// Writes the clip as one Matroska stream to standard output: its video in
// the layout the video plan decides for the depth asked (see
// frameserver/video_plan.h), described by frame 0's colour, HDR metadata,
// field order and aspect ratio, each frame at its own start; and its audio
// as PCM, each frame's samples beside the frame. A clip with only one of
// them gets one track. Returns the clip that is current afterwards: a
// converted clip replaces the one given, which is then already released.
// frame_props: --frame-props, a line for each frame written.
AVS_Clip* write_matroska(AVS_Clip* clip, AVS_ScriptEnvironment* env, int depth, frame_props_file& frame_props);
