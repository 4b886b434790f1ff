// A WAV stream's shape for the header tests, in one call.
#pragma once

#include "writers/wave_header.h"

inline wave_shape shape_of(uint16_t format, uint16_t channels, uint32_t rate, uint32_t bytes, int64_t count,
                           uint32_t mask = 0)
{
    wave_shape shape;
    shape.format_code = format;
    shape.channels = channels;
    shape.sample_rate = rate;
    shape.sample_bytes = bytes;
    shape.sample_count = count;
    shape.channel_mask = mask;
    return shape;
}
