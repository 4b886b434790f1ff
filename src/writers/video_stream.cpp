// YUV4MPEG2: one header line, then "FRAME\n" and the raw Y, U, V planes of
// every frame, rows written straight from the frame server's buffer.
//
// By default every clip becomes one of five 8-bit layouts. With --depth the
// clip keeps its chroma layout and is written at its own depth (or the one
// asked for), samples above 8 bits as 16-bit little-endian words, as the
// frame server holds them, under the tags ffmpeg reads ("C420p10").

#include "writers/video_stream.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "common/diag.h"
#include "common/platform.h"
#include "common/progress.h"
#include "frameserver/avs_library.h"
#include "frameserver/avs_values.h"
#include "frameserver/clip_traits.h"
#include "frameserver/frame_properties.h"
#include "writers/binary_stdout.h"
#include "writers/timecodes.h"

namespace {

struct frame_layout {
    char chroma_tag[24];  // "444", "420p10", "mono16", ...
    int planes;
    int shift_w, shift_h;
    int sample_bytes;
};

// The 8-bit layouts, and the conversion that leads to each.
struct conversion {
    int pixel_type;           // 0: any type not listed before it
    const char* filter;       // conversion to apply first, or null
    const char* target_name;  // for messages: "yv24", ...
    frame_layout layout;
};

const conversion conversions[] = {
    {AVS_CS_YV24, nullptr, "yv24", {"444", 3, 0, 0, 1}},
    {AVS_CS_BGR24, "ConvertToYV24", "yv24", {"444", 3, 0, 0, 1}},
    {AVS_CS_BGR32, "ConvertToYV24", "yv24", {"444", 3, 0, 0, 1}},
    {AVS_CS_YV16, nullptr, "yv16", {"422", 3, 1, 0, 1}},
    {AVS_CS_YUY2, "ConvertToYV16", "yv16", {"422", 3, 1, 0, 1}},
    {AVS_CS_YV411, nullptr, "yv411", {"411", 3, 2, 0, 1}},
    {AVS_CS_Y8, nullptr, "y8", {"mono", 1, 0, 0, 1}},
    {AVS_CS_YV12, nullptr, "yv12", {"420", 3, 1, 1, 1}},
    {0, "ConvertToYV12", "yv12", {"420", 3, 1, 1, 1}},
};

// Whether a clip of this pixel type is written in the layout as it is: the
// layout's own 8-bit type, or one with the same planes stored in another
// order (I420, as source plugins deliver 8-bit 4:2:0, keeps U before V).
// Planes are read by their ids, so their order in memory makes no
// difference.
bool has_layout(int pixel_type, const frame_layout& layout)
{
    const pixel_format format = describe_pixel_type(pixel_type);
    if (format.bits != 8 || (static_cast<unsigned>(pixel_type) & AVS_CS_YUVA))
        return false;
    if (format.kind == PIXEL_MONO)
        return layout.planes == 1;
    return format.kind == PIXEL_PLANAR_YUV && layout.planes == 3 && format.shift_w == layout.shift_w &&
           format.shift_h == layout.shift_h;
}

const conversion& conversion_for(int pixel_type)
{
    const conversion* row = conversions;
    while (row->pixel_type != 0 && row->pixel_type != pixel_type)
        ++row;
    if (row->pixel_type != 0)
        return *row;
    for (const conversion& written : conversions)
        if (!written.filter && has_layout(pixel_type, written.layout))
            return written;
    return *row;
}

// The layout a planar YUV or mono format is written in, if the stream has
// a tag for it: 4:1:0 and float have none.
bool deep_layout_of(const pixel_format& format, frame_layout* layout)
{
    const char* chroma = nullptr;
    if (format.kind == PIXEL_MONO)
        chroma = "mono";
    else if (format.kind == PIXEL_PLANAR_YUV && format.shift_w == 0 && format.shift_h == 0)
        chroma = "444";
    else if (format.kind == PIXEL_PLANAR_YUV && format.shift_w == 1 && format.shift_h == 0)
        chroma = "422";
    else if (format.kind == PIXEL_PLANAR_YUV && format.shift_w == 1 && format.shift_h == 1)
        chroma = "420";
    else if (format.kind == PIXEL_PLANAR_YUV && format.shift_w == 2 && format.shift_h == 0 && format.bits == 8)
        chroma = "411";
    if (!chroma || format.bits > 16)
        return false;
    if (format.bits == 8)
        snprintf(layout->chroma_tag, sizeof layout->chroma_tag, "%s", chroma);
    else  // "mono10", but "420p10"
        snprintf(layout->chroma_tag, sizeof layout->chroma_tag, "%s%s%d", chroma,
                 format.kind == PIXEL_MONO ? "" : "p", format.bits);
    layout->planes = format.kind == PIXEL_MONO ? 1 : 3;
    layout->shift_w = format.shift_w;
    layout->shift_h = format.shift_h;
    layout->sample_bytes = format.bits == 8 ? 1 : 2;
    return true;
}

const AVS_VideoInfo* announce_and_convert(AVS_Clip** clip, AVS_ScriptEnvironment* env, const char* filter,
                                          const char* target_name, const AVS_Value* argument = nullptr)
{
    diag_print(DIAG_INFO, "converting video to %s.\n", target_name);
    *clip = convert_clip(*clip, env, filter, target_name, argument);
    return avs.avs_get_video_info(*clip);
}

// --depth: keeps the chroma layout, converting only what the stream cannot
// carry (RGB to 4:4:4, YUY2 to 4:2:2, float to 16 bits) and the depth where
// a number asks for another.
const AVS_VideoInfo* prepare_deep_video(AVS_Clip** clip, AVS_ScriptEnvironment* env, int depth, frame_layout* layout)
{
    const AVS_VideoInfo* vi = avs.avs_get_video_info(*clip);
    pixel_format format = describe_pixel_type(vi->pixel_type);
    if (format.kind == PIXEL_PACKED_RGB && format.bits == 8)
        vi = announce_and_convert(clip, env, "ConvertToYV24", "yv24");  // known to every frame server
    else if (format.kind == PIXEL_PACKED_RGB || format.kind == PIXEL_PLANAR_RGB)
        vi = announce_and_convert(clip, env, "ConvertToYUV444", "yuv444");
    else if (format.kind == PIXEL_YUY2)
        vi = announce_and_convert(clip, env, "ConvertToYV16", "yv16");
    else if (!deep_layout_of(format, layout) && format.bits != 32)
        vi = announce_and_convert(clip, env, "ConvertToYV12", "yv12");  // 4:1:0 and what is not known
    format = describe_pixel_type(vi->pixel_type);

    int bits = depth == DEPTH_KEEP ? (format.bits == 32 ? 16 : format.bits) : depth;
    // Readers know no 14-bit mono stream ("Cmono14"): such a clip goes out
    // at 16 bits.
    if (format.kind == PIXEL_MONO && bits == 14)
        bits = 16;
    if (bits != format.bits) {
        char target[16];
        snprintf(target, sizeof target, "%d bits", bits);
        const AVS_Value bits_value = int_value(bits);
        vi = announce_and_convert(clip, env, "ConvertBits", target, &bits_value);
        format = describe_pixel_type(vi->pixel_type);
        if (format.bits != bits)
            diag_print(DIAG_ERROR, "cannot convert video to %s.\n", target);
    }
    if (!deep_layout_of(format, layout))
        diag_print(DIAG_ERROR, "cannot write video of pixel type %x at %d bits.\n",
                   static_cast<unsigned>(vi->pixel_type), format.bits);
    return vi;
}

struct plane_view {
    const unsigned char* start;
    int pitch;
    int row_bytes, height;
};

// Writes "FRAME\n" and every row of the frame, straight from the frame
// buffer, as one gathered write; returns the plane bytes that reached the
// output (less than the frame on failure, -1 if not even "FRAME\n" did).
int64_t write_frame(const AVS_VideoFrame* frame, const frame_layout& layout, const AVS_VideoInfo& vi,
                    std::vector<out_chunk>& chunks)
{
    static const char frame_line[] = "FRAME\n";
    const unsigned char* data = frame->vfb->data;
    int chroma_bytes = (vi.width >> layout.shift_w) * layout.sample_bytes;
    int chroma_height = vi.height >> layout.shift_h;
    const plane_view planes[3] = {
        {data + frame->offset, frame->pitch, vi.width * layout.sample_bytes, vi.height},
        {data + frame->offsetU, frame->pitchUV, chroma_bytes, chroma_height},
        {data + frame->offsetV, frame->pitchUV, chroma_bytes, chroma_height},
    };
    chunks.clear();
    chunks.push_back({frame_line, sizeof frame_line - 1});
    for (int i = 0; i < layout.planes; ++i) {
        const unsigned char* row = planes[i].start;
        for (int y = 0; y < planes[i].height; ++y, row += planes[i].pitch) {
            // Where the pitch equals the row (AviSynth+ at widths that are
            // a multiple of 64), a plane is one run: one chunk, not a
            // chunk a row.
            out_chunk& last = chunks.back();
            if (static_cast<const unsigned char*>(last.data) + last.size == row)
                last.size += static_cast<size_t>(planes[i].row_bytes);
            else
                chunks.push_back({row, static_cast<size_t>(planes[i].row_bytes)});
        }
    }
    size_t written = write_stdout_chunks(chunks.data(), chunks.size());
    return static_cast<int64_t>(written) - static_cast<int64_t>(sizeof frame_line - 1);
}

int64_t layout_frame_bytes(const frame_layout& layout, const AVS_VideoInfo& vi)
{
    int64_t luma = static_cast<int64_t>(vi.width) * vi.height;
    int64_t chroma = static_cast<int64_t>(vi.width >> layout.shift_w) * (vi.height >> layout.shift_h);
    return (luma + (layout.planes - 1) * chroma) * layout.sample_bytes;
}

// A frame smaller than the clip says would make the rows overrun it.
bool frame_covers_clip(const AVS_VideoFrame* frame, const frame_layout& layout, const AVS_VideoInfo& vi)
{
    if (frame->row_size < vi.width * layout.sample_bytes || frame->height < vi.height)
        return false;
    return layout.planes == 1 || (frame->row_sizeUV >= (vi.width >> layout.shift_w) * layout.sample_bytes &&
                                  frame->heightUV >= vi.height >> layout.shift_h);
}

// YUV4MPEG2's names for where 8-bit 4:2:0 chroma sits (_ChromaLocation 0
// left, 1 center, 2 top left); ffmpeg reads no such name for deeper 4:2:0.
const char* chroma_siting_suffix(const frame_layout& layout, int chroma_location)
{
    static const char* const suffixes[] = {"mpeg2", "jpeg", "paldv"};
    if (strcmp(layout.chroma_tag, "420") != 0 || chroma_location < 0 || chroma_location > 2)
        return "";
    return suffixes[chroma_location];
}

}  // namespace

AVS_Clip* convert_clip(AVS_Clip* clip, AVS_ScriptEnvironment* env, const char* filter, const char* target_name,
                       const AVS_Value* argument)
{
    std::string failure = std::string("cannot convert video to ") + target_name + ".\n";
    return take_filtered_clip(invoke_filter(clip, env, filter, argument, argument ? 1 : 0), env, failure.c_str());
}

AVS_Clip* write_video(AVS_Clip* clip, AVS_ScriptEnvironment* env, const video_options& options)
{
    const int depth = options.depth;
    const AVS_VideoInfo* vi = avs.avs_get_video_info(clip);
    if (vi->width == 0)
        diag_print(DIAG_ERROR, "clip has no video.\n");

    frame_layout layout;
    frame_properties properties;
    if (depth == DEPTH_DEFAULT) {
        const conversion& row = conversion_for(vi->pixel_type);
        if (row.filter) {
            vi = announce_and_convert(&clip, env, row.filter, row.target_name);
            // The stream's layout is fixed by the target; a clip in any other
            // layout would not match the header.
            if (!has_layout(vi->pixel_type, row.layout))
                diag_print(DIAG_ERROR, "cannot convert video to %s.\n", row.target_name);
        }
        layout = row.layout;
    } else {
        vi = prepare_deep_video(&clip, env, depth, &layout);
        // What frame 0 says of itself: aspect ratio, colour range and field
        // order, as the source knew them.
        properties = read_first_frame_properties(clip, env, *vi);
    }

    begin_binary_stdout();
    static const char* const field_words[] = {"progressive", "tff", "bff"};
    static const char* const field_letters[] = {"p", "t", "b"};
    const field_order order = properties.field_based != PROPERTY_ABSENT
                                  ? field_order_of_property(properties.field_based)
                                  : clip_field_order(*vi);
    diag_print(DIAG_INFO, "writing %d frames of %u/%u fps, %dx%d YUV%s %s video.\n", vi->num_frames,
               vi->fps_numerator, vi->fps_denominator, vi->width, vi->height, layout.chroma_tag, field_words[order]);
    const char* colour_range = properties.colour_range == 0   ? " XCOLORRANGE=FULL"
                               : properties.colour_range == 1 ? " XCOLORRANGE=LIMITED"
                                                              : "";
    fprintf(stdout, "YUV4MPEG2 W%d H%d F%u:%u I%s A%d:%d C%s%s%s\n", vi->width, vi->height, vi->fps_numerator,
            vi->fps_denominator, field_letters[order], static_cast<int>(properties.sar_num),
            static_cast<int>(properties.sar_den), layout.chroma_tag,
            chroma_siting_suffix(layout, properties.chroma_location), colour_range);
    bool stream_ok = flush_stdout();
    timecodes_file timecodes;
    if (options.timecodes)
        timecodes_begin(timecodes, options.timecodes, options.timecodes_path);

    const int64_t frame_bytes = layout_frame_bytes(layout, *vi);
    std::vector<out_chunk> chunks;
    chunks.reserve(1 + static_cast<size_t>(vi->height) * 2);
    progress_meter progress = progress_begin("frames", "%.1f fps");
    int written = 0;
    for (int n = 0; stream_ok && n < vi->num_frames; ++n) {
        AVS_VideoFrame* frame = avs.avs_get_frame(clip, n);
        if (!frame) {
            const char* error = avs.avs_clip_get_error(clip);
            diag_print(DIAG_WARN, "frame %d: %s\n", n, one_line(error ? error : "no frame delivered").c_str());
            break;
        }
        if (!frame_covers_clip(frame, layout, *vi)) {
            avs.avs_release_video_frame(frame);
            diag_print(DIAG_WARN, "frame %d: smaller than the clip's %dx%d\n", n, vi->width, vi->height);
            break;
        }
        // A frame counts only once all of it has reached the output.
        stream_ok = write_frame(frame, layout, *vi, chunks) == frame_bytes;
        if (stream_ok && timecodes.file) {
            // Its own duration where the source knows it, else the clip's rate.
            int64_t num = vi->fps_denominator, den = vi->fps_numerator;
            read_frame_duration(env, frame, &num, &den);
            timecodes_add_frame(timecodes, num, den);
        }
        avs.avs_release_video_frame(frame);
        if (!stream_ok)
            break;
        ++written;
        progress_update(progress, written, vi->num_frames);
    }
    flush_stdout();
    progress_end(progress);

    const bool timecodes_ok = timecodes_end(timecodes);

    int percent = vi->num_frames > 0 ? static_cast<int>(static_cast<int64_t>(written) * 100 / vi->num_frames) : 100;
    diag_print(DIAG_SUMMARY, "finished, wrote %d frames [%d%%].\n", written, percent);
    if (!timecodes_ok)
        diag_print(DIAG_ERROR, "cannot write the timecodes to \"%s\".\n", options.timecodes_path.c_str());
    if (!stream_ok || written != vi->num_frames)
        diag_print(DIAG_ERROR, "only wrote %d of %d frames.\n", written, vi->num_frames);
    return clip;
}
