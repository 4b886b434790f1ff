// WAV: the 80-byte extensible header (or, with --rf64, the RF64 one), then
// the interleaved samples exactly as the frame server delivers them.

#include <cinttypes>

#include "common/diag.h"
#include "writers/format.h"
#include "writers/wave_header.h"

namespace {

struct wav_state {
    wave_shape shape;
    bool rf64 = false;
    int64_t rate = 0;
};

void* wav_open(const stream_start& start)
{
    wav_state* state = new wav_state;
    const audio_shape& a = start.audio;
    state->shape.format_code = a.sample_type == AVS_SAMPLE_FLOAT ? WAVE_FORMAT_IEEE_FLOAT : WAVE_FORMAT_PCM;
    state->shape.channels = static_cast<uint16_t>(a.channels);
    state->shape.sample_rate = static_cast<uint32_t>(a.rate);
    state->shape.sample_bytes = static_cast<uint32_t>(a.sample_bytes);
    state->shape.sample_count = a.total;
    state->shape.channel_mask = start.channel_mask;
    state->rf64 = start.rf64 == RF64_ALWAYS || (start.rf64 == RF64_AUTO && !wave_sizes_fit(state->shape));
    state->rate = a.rate;
    return state;
}

void wav_begin(void* state, const stream_start& start, out_packet& out)
{
    const wav_state& wav = *static_cast<wav_state*>(state);
    diag_print(DIAG_INFO, "writing %" PRId64 " seconds of %d Hz, %d channel audio.\n", start.audio.total / wav.rate,
               start.audio.rate, start.audio.channels);
    if (wav.rf64 && start.rf64 == RF64_AUTO)
        diag_print(DIAG_INFO, "audio size over 32bit limit (4GB): writing an RF64 header.\n");
    // One write of known length: a pipe cannot seek back to mend a header.
    packet_add_copy(out, wav.rf64 ? build_rf64_header(wav.shape) : build_wave_header(wav.shape));
}

void wav_audio_block(void*, const samples_in& samples, out_packet& out)
{
    packet_add(out, samples.data, samples.bytes);
}

// A second a block.
int64_t wav_block_samples(void* state)
{
    return static_cast<wav_state*>(state)->rate;
}

void wav_end(void* state, int)
{
    delete static_cast<wav_state*>(state);
}

}  // namespace

const stream_format WAV_FORMAT = {
    "wav", TRACKS_AUDIO, UINT16_MAX, true, false, 0, wav_open, wav_begin, nullptr, wav_audio_block, nullptr,
    wav_block_samples, wav_end,
};
