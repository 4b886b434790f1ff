// A stream format: handed what the pump fetched, it turns it into bytes
// and never calls the frame server nor knows where the bytes go. Each
// format is one short file (y4m_format.cpp, wav_format.cpp,
// matroska_format.cpp) behind this interface, the way a muxer is behind a
// muxing library's: the pump calls open, begin, then for each frame
// video_frame, the samples that go with it through audio_block and
// frame_done, then the audio that runs on, and end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <utility>
#include <vector>

#include "common/platform.h"
#include "frameserver/clip_traits.h"
#include "frameserver/video_plan.h"

// Bytes to write next, in order: pieces that point where the bytes lie (a
// frame's rows in the frame server's buffer) and bytes the packet owns (a
// header). What it owns stays where it is until the packet is cleared.
struct out_packet {
    std::vector<out_chunk> chunks;
    std::deque<std::string> owned;
    size_t size = 0;
};

void packet_clear(out_packet& packet);
void packet_add(out_packet& packet, const void* data, size_t size);       // points, no copy
void packet_add_copy(out_packet& packet, const void* data, size_t size);  // owns a copy
void packet_add_copy(out_packet& packet, const std::string& bytes);
void packet_add_pieces(out_packet& packet, const out_chunk* pieces, size_t count, size_t bytes);  // points, no copy

// --rf64: the header a WAV stream gets. NEVER is the RIFF header whatever
// the length (sizes past 4 GiB become 0xFFFFFFFF); AUTO takes RF64 where
// the RIFF header's sizes would not fit; ALWAYS takes RF64 for any length.
enum rf64_use { RF64_NEVER, RF64_AUTO, RF64_ALWAYS };

// What a stream is told before its first byte.
struct stream_start {
    const AVS_VideoInfo* clip = nullptr;  // the clip as written
    const video_plan* video = nullptr;    // null: no video track
    audio_shape audio;                    // rate 0: no audio track
    uint32_t channel_mask = 0;            // the speaker positions (WAV)
    rf64_use rf64 = RF64_NEVER;           // --rf64 (WAV)
    bool reader_told = false;             // --tell-encoder gave the reader what the stream cannot carry
    // The durations of the first frames, where the format asked for them
    // (lookahead_frames) and frame 0 has one: num/den seconds each.
    std::vector<std::pair<int64_t, int64_t>> first_durations;
};

// A frame to write: its rows, where they lie, and how long it lasts.
struct frame_in {
    int n = 0;
    const std::vector<out_chunk>* rows = nullptr;
    size_t bytes = 0;
    int64_t duration_num = 0, duration_den = 1;  // its own, else the clip's rate
};

// A run of samples: sample frames from first, all channels interleaved.
struct samples_in {
    const void* data = nullptr;
    int64_t first = 0, count = 0;
    size_t bytes = 0;
};

// Which of the clip's tracks a format writes.
enum format_tracks {
    TRACKS_VIDEO,          // y4m
    TRACKS_AUDIO,          // WAV
    TRACKS_BOTH,           // Matroska: both where the clip has them, one of them at least
    TRACKS_VIDEO_ELSE_AUDIO,  // meter: the video, or the audio of a clip without it
};

struct stream_format {
    const char* name;
    format_tracks tracks;
    int64_t max_channels;   // what its channel field holds
    bool takes_channel_mask;
    bool reads_durations;   // wants each frame's own duration
    int lookahead_frames;   // first frames whose durations it wants up front
    // Checks the clip before anything is opened (an error ends the run)
    // and says what it leaves out; returns the format's own state.
    void* (*open)(const stream_start& start);
    // The stream's first bytes, once its sink is open.
    void (*begin)(void* state, const stream_start& start, out_packet& out);
    // A frame's bytes, or none where it waits for the frame's samples;
    // returns the sample frame up to which audio goes with this frame.
    int64_t (*video_frame)(void* state, const frame_in& frame, out_packet& out);
    void (*audio_block)(void* state, const samples_in& samples, out_packet& out);
    // After a frame's samples: whatever of it is still held.
    void (*frame_done)(void* state, out_packet& out);
    // Sample frames in one block at most, where audio goes on its own.
    int64_t (*block_samples)(void* state);
    // After the last byte (frames_written of the clip's): says what the
    // stream could not say well, and frees the state.
    void (*end)(void* state, int frames_written);
};

extern const stream_format Y4M_FORMAT, RAW_VIDEO_FORMAT, WAV_FORMAT, MATROSKA_FORMAT, NULL_FORMAT;

// The formats' own words for a layout, for the reports too: YUV4MPEG2's
// chroma tag ("420", "444p10", "mono16"; empty where it has none) and
// ffmpeg's raw FourCC (Matroska's ColourSpace).
std::string y4m_chroma_tag(const video_layout& layout);
uint32_t raw_fourcc(const video_layout& layout);
