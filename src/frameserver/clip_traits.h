// Properties of a clip that several modes derive the same way.
#pragma once

#include <cinttypes>
#include <cstdio>
#include <string>

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

// Why no stream can carry the clip's audio, or "" where one can. AviSynth+
// takes BlankClip(audio_rate=-48000) (a negative sample count follows) and
// channels=0 or -2, and fetching such audio overruns any buffer sized from
// them; a container's channel field has its own width (WAV: 16 bits).
inline std::string audio_shape_fault(const AVS_VideoInfo& vi, int64_t max_channels)
{
    char text[160] = "";
    if (vi.audio_samples_per_second < 0)
        snprintf(text, sizeof text, "the clip's audio rate is %d Hz.", vi.audio_samples_per_second);
    else if (vi.num_audio_samples < 0)
        snprintf(text, sizeof text, "the clip's audio has %" PRId64 " samples.", vi.num_audio_samples);
    else if (vi.nchannels < 1 || sample_bytes(vi.sample_type) == 0)
        snprintf(text, sizeof text, "cannot write audio of sample type %d in %d channels.", vi.sample_type,
                 vi.nchannels);
    else if (vi.nchannels > max_channels)
        snprintf(text, sizeof text, "cannot write audio in %d channels: the stream holds at most %" PRId64 ".",
                 vi.nchannels, max_channels);
    return text;
}

// The clip's audio as a stream carries it.
struct audio_shape {
    int rate = 0;  // 0: no audio
    int channels = 0;
    int sample_type = 0;
    int sample_bytes = 0;     // of one channel
    size_t frame_bytes = 0;   // of one sample of every channel
    int64_t total = 0;        // sample frames
};

inline audio_shape audio_shape_of(const AVS_VideoInfo& vi)
{
    audio_shape a;
    if (vi.audio_samples_per_second <= 0 || vi.nchannels <= 0 || vi.num_audio_samples < 0)
        return a;
    a.rate = vi.audio_samples_per_second;
    a.channels = vi.nchannels;
    a.sample_type = vi.sample_type;
    a.sample_bytes = sample_bytes(vi.sample_type);
    a.frame_bytes = static_cast<size_t>(a.sample_bytes) * static_cast<size_t>(a.channels);
    a.total = vi.num_audio_samples;
    return a;
}

enum field_order { FIELD_PROGRESSIVE, FIELD_TFF, FIELD_BFF };

inline const char* field_order_word(field_order order)
{
    static const char* const words[] = {"progressive", "tff", "bff"};
    return words[order];
}

// Field-based clips count as interlaced; the top-field-first bit alone
// does not make a clip interlaced.
inline field_order clip_field_order(const AVS_VideoInfo& vi)
{
    if (!(vi.image_type & AVS_IT_FIELDBASED))
        return FIELD_PROGRESSIVE;
    return (vi.image_type & AVS_IT_BFF) ? FIELD_BFF : FIELD_TFF;
}

// What a pixel type is made of.
enum pixel_kind { PIXEL_OTHER, PIXEL_PLANAR_YUV, PIXEL_MONO, PIXEL_PACKED_RGB, PIXEL_PLANAR_RGB, PIXEL_YUY2 };

struct pixel_format {
    pixel_kind kind = PIXEL_OTHER;
    int bits = 8;             // per component; 32 is float
    int shift_w = 0, shift_h = 0;  // chroma subsampling of planar YUV
    bool alpha = false;       // YUVA and planar RGBA: a fourth plane; packed RGB32/64: a fourth component
};

inline int subsampling_shift(unsigned field)
{
    switch (field) {
    case 3: return 0;
    case 0: return 1;
    case 1: return 2;
    default: return -1;
    }
}

inline pixel_format describe_pixel_type(int pixel_type)
{
    const unsigned pt = static_cast<unsigned>(pixel_type);
    pixel_format format;
    switch ((pt & AVS_CS_SAMPLE_BITS_MASK) >> AVS_CS_SHIFT_SAMPLE_BITS) {
    case 0: format.bits = 8; break;
    case 5: format.bits = 10; break;
    case 6: format.bits = 12; break;
    case 7: format.bits = 14; break;
    case 1: format.bits = 16; break;
    case 2: format.bits = 32; break;
    default: return format;
    }
    const unsigned family = pt & (AVS_CS_PLANAR | AVS_CS_INTERLEAVED | AVS_CS_YUV | AVS_CS_BGR | AVS_CS_YUVA);
    if (pixel_type == AVS_CS_YUY2) {
        format.kind = PIXEL_YUY2;
    } else if (family == (AVS_CS_PLANAR | AVS_CS_INTERLEAVED | AVS_CS_YUV)) {
        format.kind = PIXEL_MONO;
    } else if (family == (AVS_CS_INTERLEAVED | AVS_CS_BGR)) {
        format.kind = PIXEL_PACKED_RGB;
        format.alpha = pt & AVS_CS_RGBA_TYPE;
    } else if (family == (AVS_CS_PLANAR | AVS_CS_BGR)) {
        format.kind = PIXEL_PLANAR_RGB;
        format.alpha = pt & AVS_CS_RGBA_TYPE;
    } else if (family == (AVS_CS_PLANAR | AVS_CS_YUV) || family == (AVS_CS_PLANAR | AVS_CS_YUVA)) {
        format.alpha = family & AVS_CS_YUVA;
        format.shift_w = subsampling_shift(pt & AVS_CS_SUB_WIDTH_MASK);
        format.shift_h = subsampling_shift((pt >> AVS_CS_SHIFT_SUB_HEIGHT) & AVS_CS_SUB_WIDTH_MASK);
        if (format.shift_w >= 0 && format.shift_h >= 0)
            format.kind = PIXEL_PLANAR_YUV;
    }
    return format;
}
