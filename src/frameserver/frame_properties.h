// What a clip's first frame says of itself: the frame properties that
// AviSynth+ (interface version 8) and its source plugins set, read in one
// place for every mode. A frame server without property functions, a clip
// without frames and a frame that is not delivered leave them all absent.
#pragma once

#include <cstdint>

#include "frameserver/avs_c.h"
#include "frameserver/clip_traits.h"

constexpr int PROPERTY_ABSENT = -1;

struct frame_properties {
    int64_t sar_num = 0, sar_den = 0;       // _SARNum/_SARDen; 0 where absent or invalid
    int colour_range = PROPERTY_ABSENT;     // _ColorRange: 0 full, 1 limited
    int field_based = PROPERTY_ABSENT;      // _FieldBased: 0 progressive, 1 bottom field first, 2 top
    int chroma_location = PROPERTY_ABSENT;  // _ChromaLocation: 0 left, 1 center, 2 top left, ...
};

frame_properties read_first_frame_properties(AVS_Clip* clip, AVS_ScriptEnvironment* env, const AVS_VideoInfo& vi);

// A frame's own duration in seconds (_DurationNum/_DurationDen, which a
// source plugin sets for variable-rate video); false where the frame server
// or the frame has none, leaving num and den as they were.
bool read_frame_duration(AVS_ScriptEnvironment* env, const AVS_VideoFrame* frame, int64_t* num, int64_t* den);

// The field order _FieldBased gives; the caller checks it is present.
inline field_order field_order_of_property(int field_based)
{
    return field_based == 1 ? FIELD_BFF : field_based == 2 ? FIELD_TFF : FIELD_PROGRESSIVE;
}
