#pragma once

#include <cstdint>

#include "frameserver/avs_c.h"

// --rf64: the header a stream gets. NEVER is the RIFF header whatever the
// length (sizes past 4 GiB become 0xFFFFFFFF); AUTO takes RF64 where the
// RIFF header's sizes would not fit; ALWAYS takes RF64 for any length.
enum rf64_use { RF64_NEVER, RF64_AUTO, RF64_ALWAYS };

struct audio_options {
    rf64_use rf64 = RF64_NEVER;
    int64_t channel_mask = 0;  // or CHANNEL_MASK_AUTO (writers/channel_mask.h)
};

// Writes the clip's whole audio track to standard output as a WAV stream;
// returns only when every sample frame has reached the output.
void write_audio(AVS_Clip* clip, const audio_options& options = {});
