// What the stand-in's clips contain: formats, the frame pattern and the
// audio pattern. README.md beside this file gives the formulas.

#include <cstring>

#include "frameserver/clip_traits.h"
#include "standin.h"

namespace standin {
namespace {

// AviSynth+'s deeper types: an 8-bit type with the sample-bits field set.
constexpr int deeper(int pixel_type, unsigned bits_field)
{
    return static_cast<int>(static_cast<unsigned>(pixel_type) | bits_field << AVS_CS_SHIFT_SAMPLE_BITS);
}
constexpr unsigned BITS_10 = 5, BITS_12 = 6, BITS_14 = 7, BITS_16 = 1, BITS_FLOAT = 2;
constexpr int YUVA420 = static_cast<int>(0x88000008u), YUVA422 = static_cast<int>(0x88000308u),
              YUVA444 = static_cast<int>(0x8800030Bu), RGBP = static_cast<int>(0x90000001u),
              RGBAP = static_cast<int>(0x90000002u);

// YUVA and RGBAP have a fourth plane, the alpha.
const format_def formats[] = {
    {"RGB24", AVS_CS_BGR24, 1, 3, 0, 0, 1, 1},
    {"RGB32", AVS_CS_BGR32, 1, 4, 0, 0, 1, 1},
    {"YUY2", AVS_CS_YUY2, 1, 2, 0, 0, 2, 1},
    {"YV24", AVS_CS_YV24, 3, 1, 0, 0, 1, 1},
    {"YV16", AVS_CS_YV16, 3, 1, 1, 0, 2, 1},
    {"YV12", AVS_CS_YV12, 3, 1, 1, 1, 2, 2},
    // As source plugins deliver 8-bit 4:2:0: U stored before V.
    {"I420", AVS_CS_I420, 3, 1, 1, 1, 2, 2},
    {"YV411", AVS_CS_YV411, 3, 1, 2, 0, 4, 1},
    {"Y8", AVS_CS_Y8, 1, 1, 0, 0, 1, 1},
#ifndef STANDIN_CLASSIC
    {"YUV420P10", deeper(AVS_CS_YV12, BITS_10), 3, 2, 1, 1, 2, 2},
    {"YUV420P12", deeper(AVS_CS_YV12, BITS_12), 3, 2, 1, 1, 2, 2},
    {"YUV420P14", deeper(AVS_CS_YV12, BITS_14), 3, 2, 1, 1, 2, 2},
    {"YUV420P16", deeper(AVS_CS_YV12, BITS_16), 3, 2, 1, 1, 2, 2},
    {"YUV420PS", deeper(AVS_CS_YV12, BITS_FLOAT), 3, 4, 1, 1, 2, 2},
    {"YUV422P10", deeper(AVS_CS_YV16, BITS_10), 3, 2, 1, 0, 2, 1},
    {"YUV422P12", deeper(AVS_CS_YV16, BITS_12), 3, 2, 1, 0, 2, 1},
    {"YUV422P14", deeper(AVS_CS_YV16, BITS_14), 3, 2, 1, 0, 2, 1},
    {"YUV422P16", deeper(AVS_CS_YV16, BITS_16), 3, 2, 1, 0, 2, 1},
    {"YUV444P10", deeper(AVS_CS_YV24, BITS_10), 3, 2, 0, 0, 1, 1},
    {"YUV444P12", deeper(AVS_CS_YV24, BITS_12), 3, 2, 0, 0, 1, 1},
    {"YUV444P14", deeper(AVS_CS_YV24, BITS_14), 3, 2, 0, 0, 1, 1},
    {"YUV444P16", deeper(AVS_CS_YV24, BITS_16), 3, 2, 0, 0, 1, 1},
    {"YUV444PS", deeper(AVS_CS_YV24, BITS_FLOAT), 3, 4, 0, 0, 1, 1},
    {"Y10", deeper(AVS_CS_Y8, BITS_10), 1, 2, 0, 0, 1, 1},
    {"Y12", deeper(AVS_CS_Y8, BITS_12), 1, 2, 0, 0, 1, 1},
    {"Y14", deeper(AVS_CS_Y8, BITS_14), 1, 2, 0, 0, 1, 1},
    {"Y16", deeper(AVS_CS_Y8, BITS_16), 1, 2, 0, 0, 1, 1},
    {"YUVA420", YUVA420, 4, 1, 1, 1, 2, 2},
    {"YUVA420P10", deeper(YUVA420, BITS_10), 4, 2, 1, 1, 2, 2},
    {"YUVA420P12", deeper(YUVA420, BITS_12), 4, 2, 1, 1, 2, 2},
    {"YUVA420P16", deeper(YUVA420, BITS_16), 4, 2, 1, 1, 2, 2},
    {"YUVA422", YUVA422, 4, 1, 1, 0, 2, 1},
    {"YUVA444P10", deeper(YUVA444, BITS_10), 4, 2, 0, 0, 1, 1},
    {"RGB48", deeper(AVS_CS_BGR24, BITS_16), 1, 6, 0, 0, 1, 1},
    {"RGB64", deeper(AVS_CS_BGR32, BITS_16), 1, 8, 0, 0, 1, 1},
    {"RGBP", RGBP, 3, 1, 0, 0, 1, 1},
    {"RGBP10", deeper(RGBP, BITS_10), 3, 2, 0, 0, 1, 1},
    {"RGBP16", deeper(RGBP, BITS_16), 3, 2, 0, 0, 1, 1},
    {"RGBAP", RGBAP, 4, 1, 0, 0, 1, 1},
    {"RGBAP10", deeper(RGBAP, BITS_10), 4, 2, 0, 0, 1, 1},
    {"RGBAP16", deeper(RGBAP, BITS_16), 4, 2, 0, 0, 1, 1},
#endif
};

int align_up(int n, int to)
{
    return (n + to - 1) / to * to;
}

}  // namespace

const format_def* format_by_name(const std::string& name)
{
    for (const format_def& f : formats)
        if (name == f.name)
            return &f;
    return nullptr;
}

const format_def* format_by_type(int pixel_type)
{
    for (const format_def& f : formats)
        if (pixel_type == f.pixel_type)
            return &f;
    return nullptr;
}

frame_store& frames_of(clip_data& clip)
{
    if (clip.frames)
        return *clip.frames;
    const format_def* format = format_by_type(clip.vi.pixel_type);
    auto store = std::make_unique<frame_store>();
    store->planes = format->planes;
    for (int p = 0; p < store->planes; ++p) {
        const bool chroma = p == 1 || p == 2;  // the alpha plane is the size of the luma
        int width = chroma ? clip.vi.width >> format->shift_w : clip.vi.width;
        store->row_size[p] = width * format->bytes_per_pixel;
        store->height[p] = chroma ? clip.vi.height >> format->shift_h : clip.vi.height;
        // Always wider than the row, so a writer that steps by the row size
        // instead of the pitch reads padding.
        store->pitch[p] = align_up(store->row_size[p] + 1, 64);
    }
    // Regions in the order alpha, Y, V, U with marker gaps between them, so
    // that neither plane order nor consecutive placement can be assumed; a
    // type that stores U first (I420) has Y, U, V.
    const int gap = 64;
    const bool u_first = static_cast<unsigned>(clip.vi.pixel_type) & AVS_CS_U_PLANE_FIRST;
    const int memory_order[4] = {3, 0, u_first ? 1 : 2, u_first ? 2 : 1};
    int end = gap;
    for (int i = 0; i < 4; ++i) {
        int p = memory_order[i];
        if (p >= store->planes)
            continue;
        store->region[p] = end;
        end += (store->height[p] + FRAME_ROW_CYCLE - 1) * store->pitch[p] + gap;
    }
    store->bytes.assign(static_cast<size_t>(end), PADDING_MARKER);
    for (int p = 0; p < store->planes; ++p)
        for (int r = 0; r < store->height[p] + FRAME_ROW_CYCLE - 1; ++r) {
            unsigned char* row = store->bytes.data() + store->region[p] + static_cast<size_t>(r) * store->pitch[p];
            for (int x = 0; x < store->row_size[p]; ++x)
                row[x] = static_cast<unsigned char>((x + 3 * r + 85 * p) % 251);
        }
    store->vfb.data = store->bytes.data();
    store->vfb.data_size = end;
    clip.frames = std::move(store);
    return *clip.frames;
}

// Kept cheap (one add per sample, stores the compiler can widen) so that a
// benchmark of the audio mode measures the tool rather than this fill.
template <int width>
static void fill_integer_samples(unsigned char* out, int64_t start, int64_t count, int channels)
{
    for (int64_t s = start; s < start + count; ++s) {
        uint32_t k = static_cast<uint32_t>(s) * 2654435761u;
        for (int c = 0; c < channels; ++c, k += 40503u, out += width)
            for (int b = 0; b < width; ++b)
                out[b] = static_cast<unsigned char>(k >> (8 * b));
    }
}

static void fill_float_samples(unsigned char* out, int64_t start, int64_t count, int channels)
{
    for (int64_t s = start; s < start + count; ++s) {
        uint32_t k = static_cast<uint32_t>(s) * 2654435761u;
        for (int c = 0; c < channels; ++c, k += 40503u, out += 4) {
            float f = (static_cast<int>(k & 0xFFFF) - 32768) / 32768.0f;
            memcpy(out, &f, 4);
        }
    }
}

bool fill_audio(const clip_data& clip, void* buffer, int64_t start, int64_t count)
{
    const AVS_VideoInfo& vi = clip.vi;
    const size_t frame_size = static_cast<size_t>(vi.nchannels) * static_cast<size_t>(sample_bytes(vi.sample_type));
    unsigned char* out = static_cast<unsigned char*>(buffer);
    if (clip.fault.sample >= start + clip.sample_offset && clip.fault.sample < start + clip.sample_offset + count) {
        memset(out, 0xEE, static_cast<size_t>(count) * frame_size);  // garbage that must never reach a stream
        return false;
    }
    // Silence outside the track.
    int64_t first = start < 0 ? 0 : start;
    int64_t end = start + count > vi.num_audio_samples ? vi.num_audio_samples : start + count;
    if (end > clip.source_samples - clip.sample_offset)
        end = clip.source_samples - clip.sample_offset;
    if (clip.silent || end <= first) {
        memset(out, 0, static_cast<size_t>(count) * frame_size);
        return true;
    }
    memset(out, 0, static_cast<size_t>(first - start) * frame_size);
    memset(out + static_cast<size_t>(end - start) * frame_size, 0, static_cast<size_t>(start + count - end) * frame_size);
    out += static_cast<size_t>(first - start) * frame_size;
    first += clip.sample_offset;
    end += clip.sample_offset;
    switch (vi.sample_type) {
    case AVS_SAMPLE_INT8: fill_integer_samples<1>(out, first, end - first, vi.nchannels); break;
    case AVS_SAMPLE_INT16: fill_integer_samples<2>(out, first, end - first, vi.nchannels); break;
    case AVS_SAMPLE_INT24: fill_integer_samples<3>(out, first, end - first, vi.nchannels); break;
    case AVS_SAMPLE_INT32: fill_integer_samples<4>(out, first, end - first, vi.nchannels); break;
    case AVS_SAMPLE_FLOAT: fill_float_samples(out, first, end - first, vi.nchannels); break;
    }
    return true;
}

}  // namespace standin
