// The packet the formats fill, and the null format: meter's, which writes
// nothing and only says what it fetches.

#include "writers/format.h"

#include <cinttypes>

#include "common/diag.h"

void packet_clear(out_packet& packet)
{
    packet.chunks.clear();
    packet.owned.clear();
    packet.size = 0;
}

void packet_add(out_packet& packet, const void* data, size_t size)
{
    // Pieces that lie back to back (a plane's rows where the pitch is the
    // row) go out as one.
    out_chunk* last = packet.chunks.empty() ? nullptr : &packet.chunks.back();
    if (last && static_cast<const unsigned char*>(last->data) + last->size == data)
        last->size += size;
    else
        packet.chunks.push_back({data, size});
    packet.size += size;
}

void packet_add_copy(out_packet& packet, const void* data, size_t size)
{
    // A deque keeps what it holds where it is as it grows.
    packet.owned.emplace_back(static_cast<const char*>(data), size);
    packet.chunks.push_back({packet.owned.back().data(), size});
    packet.size += size;
}

void packet_add_copy(out_packet& packet, const std::string& bytes)
{
    packet_add_copy(packet, bytes.data(), bytes.size());
}

void packet_add_pieces(out_packet& packet, const out_chunk* pieces, size_t count, size_t bytes)
{
    packet.chunks.insert(packet.chunks.end(), pieces, pieces + count);
    packet.size += bytes;
}

namespace {

struct null_state {
    int64_t rate = 0;
};

void* null_open(const stream_start& start)
{
    return new null_state{start.audio.rate};
}

void null_begin(void*, const stream_start& start, out_packet&)
{
    // meter's clip goes as the script gives it, without a plan.
    const AVS_VideoInfo& vi = *start.clip;
    if (vi.width != 0)
        diag_print(DIAG_INFO, "fetching %d frames of %u/%u fps, %dx%d video.\n", vi.num_frames, vi.fps_numerator,
                   vi.fps_denominator, vi.width, vi.height);
    else
        // The report counts blocks of a second, the last one partial: the
        // line says both, so that 2.5 s fetched as 3 blocks adds up.
        diag_print(DIAG_INFO, "fetching %.3f seconds of %d Hz, %d channel audio in %" PRId64 " blocks of a second.\n",
                   static_cast<double>(start.audio.total) / start.audio.rate, start.audio.rate, start.audio.channels,
                   (start.audio.total + start.audio.rate - 1) / start.audio.rate);
}

int64_t null_video_frame(void*, const frame_in&, out_packet&)
{
    return 0;
}

void null_audio_block(void*, const samples_in&, out_packet&)
{
}

int64_t null_block_samples(void* state)
{
    return static_cast<null_state*>(state)->rate;
}

void null_end(void* state, int)
{
    delete static_cast<null_state*>(state);
}

}  // namespace

const stream_format NULL_FORMAT = {
    "none", TRACKS_VIDEO_ELSE_AUDIO, INT32_MAX, false, false, 0, null_open, null_begin, null_video_frame,
    null_audio_block, nullptr, null_block_samples, null_end,
};
