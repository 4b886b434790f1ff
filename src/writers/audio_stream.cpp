// WAV: the 80-byte extensible header (or, with --rf64, the RF64 one), then
// the interleaved samples exactly as the frame server delivers them, one
// second at a time.

#include "writers/audio_stream.h"

#include <cstdio>
#include <cstdlib>

#include "common/diag.h"
#include "common/platform.h"
#include "common/progress.h"
#include "frameserver/avs_library.h"
#include "frameserver/clip_traits.h"
#include "writers/stream_sink.h"
#include "writers/channel_mask.h"
#include "writers/rf64_header.h"
#include "writers/wave_header.h"

static uint64_t percent_of(uint64_t part, uint64_t whole)
{
    if (whole == 0 || part >= whole)
        return 100;
    // part * 100 cannot overflow below this bound; above it the track is
    // so long that dividing first loses nothing visible.
    return part <= UINT64_MAX / 100 ? part * 100 / whole : part / (whole / 100);
}

void write_audio(AVS_Clip* clip, const audio_options& options)
{
    const AVS_VideoInfo* vi = avs.avs_get_video_info(clip);
    const int rate = vi->audio_samples_per_second;
    if (rate == 0)
        diag_print(DIAG_ERROR, "clip has no audio.\n");
    const std::string fault = audio_shape_fault(*vi, UINT16_MAX);
    if (!fault.empty())
        diag_print(DIAG_ERROR, "%s\n", fault.c_str());
    const uint32_t mask = resolve_channel_mask(options.channel_mask, *vi);

    begin_stream_sink();
    diag_print(DIAG_INFO, "writing %" PRId64 " seconds of %d Hz, %d channel audio.\n", vi->num_audio_samples / rate,
               rate, vi->nchannels);

    const int bytes = sample_bytes(vi->sample_type);
    const uint16_t format = vi->sample_type == AVS_SAMPLE_FLOAT ? WAVE_FORMAT_IEEE_FLOAT : WAVE_FORMAT_PCM;
    const uint16_t channels = static_cast<uint16_t>(vi->nchannels);
    // One write of known length: a pipe cannot seek back to mend a header.
    auto write_header = [](const unsigned char* header, size_t size) {
        return fwrite(header, size, 1, stdout) == 1 && flush_stdout();
    };
    bool stream_ok;
    if (options.rf64 == RF64_ALWAYS ||
        (options.rf64 == RF64_AUTO && !wave_sizes_fit(channels, static_cast<uint32_t>(bytes), vi->num_audio_samples))) {
        if (options.rf64 == RF64_AUTO)
            diag_print(DIAG_INFO, "audio size over 32bit limit (4GB): writing an RF64 header.\n");
        rf64_header header = build_rf64_header(format, channels, static_cast<uint32_t>(rate),
                                               static_cast<uint32_t>(bytes), vi->num_audio_samples, mask);
        stream_ok = write_header(header.bytes, sizeof header.bytes);
    } else {
        wave_header header = build_wave_header(format, channels, static_cast<uint32_t>(rate),
                                               static_cast<uint32_t>(bytes), vi->num_audio_samples, mask);
        stream_ok = write_header(header.bytes, sizeof header.bytes);
    }

    const size_t frame_size = static_cast<size_t>(bytes) * static_cast<size_t>(vi->nchannels > 0 ? vi->nchannels : 0);
    const uint64_t block = static_cast<uint64_t>(rate > 0 ? rate : 1);
    void* buffer = nullptr;
    if (frame_size == 0 || block <= SIZE_MAX / frame_size)
        buffer = malloc(frame_size * block + 1);
    if (!buffer)
        diag_print(DIAG_ERROR, "cannot allocate one second of audio (%d Hz, %d channels of %d bytes).\n", rate,
                   vi->nchannels, bytes);

    const uint64_t total = vi->num_audio_samples > 0 ? static_cast<uint64_t>(vi->num_audio_samples) : 0;
    progress_meter progress = progress_begin("seconds", "%.1fx real time");
    uint64_t position = 0, written = 0;
    while (stream_ok && position < total) {
        uint64_t count = total - position < block ? total - position : block;
        if (avs.avs_get_audio(clip, buffer, static_cast<int64_t>(position), static_cast<int64_t>(count)) != 0) {
            const char* error = avs.avs_clip_get_error(clip);
            diag_print(DIAG_WARN, "audio at sample %" PRId64 ": %s\n", static_cast<int64_t>(position),
                       one_line(error ? error : "no samples delivered").c_str());
            break;
        }
        // A block counts only once all of it has reached the output.
        const out_chunk block_bytes = {buffer, frame_size * static_cast<size_t>(count)};
        stream_ok = write_stdout_chunks(&block_bytes, 1) == block_bytes.size;
        if (!stream_ok)
            break;
        position += count;
        written += count;
        progress_update(progress, static_cast<int64_t>(written / block), static_cast<int64_t>(total / block));
        if (interrupt_requested())
            break;
    }
    flush_stdout();
    progress_end(progress);

    diag_print(DIAG_SUMMARY, "finished, wrote %" PRIu64 " seconds [%" PRIu64 "%%].\n", written / block,
               percent_of(written, total));
    free(buffer);
    if (interrupt_requested() && written != total)
        diag_print(DIAG_ERROR, "interrupted after %" PRIu64 " of %" PRIu64 " samples.\n", written, total);
    if (!stream_ok || written != total)
        diag_print(DIAG_ERROR, "only wrote %" PRIu64 " of %" PRIu64 " samples.\n", written, total);
}
