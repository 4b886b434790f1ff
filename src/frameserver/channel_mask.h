// The speaker positions of a WAV stream's channels (WAVEFORMATEXTENSIBLE's
// dwChannelMask).
#pragma once

#include <cstdint>

// --channel-mask: 0 (no positions given, the default), "auto", or a number.
constexpr int64_t CHANNEL_MASK_AUTO = -1;

// The usual layout for a channel count, the one FLAC and Vorbis define
// (2: front left and right, 6: 5.1); 0 where there is none (above 8).
uint32_t usual_channel_mask(int channels);

int channels_in_mask(uint32_t mask);

struct AVS_VideoInfo;

// The mask a stream of this clip carries for the option's value: a number
// as given (its set bits must match the channels, else an error), or for
// "auto" the frame server's own mask where it knows one, else the usual
// layout.
uint32_t resolve_channel_mask(int64_t option, const AVS_VideoInfo& vi);
