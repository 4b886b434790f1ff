// Properties of a clip that several modes derive the same way.
#pragma once

#include "frameserver/avs_c.h"

// Bytes of one sample of one channel; 0 for an unknown sample type.
inline int sample_bytes(int sample_type)
{
    switch (sample_type) {
    case AVS_SAMPLE_INT8: return 1;
    case AVS_SAMPLE_INT16: return 2;
    case AVS_SAMPLE_INT24: return 3;
    case AVS_SAMPLE_INT32: return 4;
    case AVS_SAMPLE_FLOAT: return 4;
    default: return 0;
    }
}

enum field_order { FIELD_PROGRESSIVE, FIELD_TFF, FIELD_BFF };

// Field-based clips count as interlaced; the top-field-first bit alone
// does not make a clip interlaced.
inline field_order clip_field_order(const AVS_VideoInfo& vi)
{
    if (!(vi.image_type & AVS_IT_FIELDBASED))
        return FIELD_PROGRESSIVE;
    return (vi.image_type & AVS_IT_BFF) ? FIELD_BFF : FIELD_TFF;
}
