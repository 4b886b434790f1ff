// YUV4MPEG2: one header line, then "FRAME\n" and the raw Y, U, V planes of
// every frame, rows written straight from the frame server's buffer.

#include "writers/video_stream.h"

#include <cstdio>
#include <vector>

#include "common/diag.h"
#include "common/platform.h"
#include "common/progress.h"
#include "frameserver/avs_library.h"
#include "frameserver/avs_values.h"
#include "frameserver/clip_traits.h"
#include "writers/binary_stdout.h"

namespace {

struct frame_layout {
    int pixel_type;           // 0: any type not listed before it
    const char* filter;       // conversion to apply first, or null
    const char* target_name;  // for messages: "yv24", ...
    int target_type;
    const char* chroma_tag;
    int planes;
    int shift_w, shift_h;
};

const frame_layout layouts[] = {
    {AVS_CS_YV24, nullptr, "yv24", AVS_CS_YV24, "444", 3, 0, 0},
    {AVS_CS_BGR24, "ConvertToYV24", "yv24", AVS_CS_YV24, "444", 3, 0, 0},
    {AVS_CS_BGR32, "ConvertToYV24", "yv24", AVS_CS_YV24, "444", 3, 0, 0},
    {AVS_CS_YV16, nullptr, "yv16", AVS_CS_YV16, "422", 3, 1, 0},
    {AVS_CS_YUY2, "ConvertToYV16", "yv16", AVS_CS_YV16, "422", 3, 1, 0},
    {AVS_CS_YV411, nullptr, "yv411", AVS_CS_YV411, "411", 3, 2, 0},
    {AVS_CS_Y8, nullptr, "y8", AVS_CS_Y8, "mono", 1, 0, 0},
    {AVS_CS_YV12, nullptr, "yv12", AVS_CS_YV12, "420", 3, 1, 1},
    {0, "ConvertToYV12", "yv12", AVS_CS_YV12, "420", 3, 1, 1},
};

const frame_layout& layout_for(int pixel_type)
{
    const frame_layout* row = layouts;
    while (row->pixel_type != 0 && row->pixel_type != pixel_type)
        ++row;
    return *row;
}

struct plane_view {
    const unsigned char* start;
    int pitch;
    int width, height;
};

// Writes "FRAME\n" and every row of the frame, straight from the frame
// buffer, as one gathered write; returns the plane bytes that reached the
// output (less than the frame on failure, -1 if not even "FRAME\n" did).
int64_t write_frame(const AVS_VideoFrame* frame, const frame_layout& layout, const AVS_VideoInfo& vi,
                    std::vector<out_chunk>& chunks)
{
    static const char frame_line[] = "FRAME\n";
    const unsigned char* data = frame->vfb->data;
    int chroma_width = vi.width >> layout.shift_w, chroma_height = vi.height >> layout.shift_h;
    const plane_view planes[3] = {
        {data + frame->offset, frame->pitch, vi.width, vi.height},
        {data + frame->offsetU, frame->pitchUV, chroma_width, chroma_height},
        {data + frame->offsetV, frame->pitchUV, chroma_width, chroma_height},
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
                last.size += static_cast<size_t>(planes[i].width);
            else
                chunks.push_back({row, static_cast<size_t>(planes[i].width)});
        }
    }
    size_t written = write_stdout_chunks(chunks.data(), chunks.size());
    return static_cast<int64_t>(written) - static_cast<int64_t>(sizeof frame_line - 1);
}

int64_t layout_frame_bytes(const frame_layout& layout, const AVS_VideoInfo& vi)
{
    int64_t luma = static_cast<int64_t>(vi.width) * vi.height;
    int64_t chroma = static_cast<int64_t>(vi.width >> layout.shift_w) * (vi.height >> layout.shift_h);
    return luma + (layout.planes - 1) * chroma;
}

// A frame smaller than the clip says would make the rows overrun it.
bool frame_covers_clip(const AVS_VideoFrame* frame, const frame_layout& layout, const AVS_VideoInfo& vi)
{
    if (frame->row_size < vi.width || frame->height < vi.height)
        return false;
    return layout.planes == 1 ||
           (frame->row_sizeUV >= vi.width >> layout.shift_w && frame->heightUV >= vi.height >> layout.shift_h);
}

}  // namespace

AVS_Clip* convert_clip(AVS_Clip* clip, AVS_ScriptEnvironment* env, const char* filter, const char* target_name)
{
    AVS_Value clip_value;
    avs.avs_set_to_clip(&clip_value, clip);
    avs.avs_release_clip(clip);

    AVS_Value args = single_argument(&clip_value);
    AVS_Value result = avs.avs_invoke(env, filter, args, nullptr);
    if (result.type != AVS_TAG_CLIP) {
        warn_error_value(result);
        diag_print(DIAG_ERROR, "cannot convert video to %s.\n", target_name);
    }
    AVS_Clip* converted = avs.avs_take_clip(result, env);

    // The array is the tool's own and is not released; the clip value and
    // the result came from the frame server.
    avs.avs_release_value(clip_value);
    avs.avs_release_value(result);
    return converted;
}

AVS_Clip* write_video(AVS_Clip* clip, AVS_ScriptEnvironment* env)
{
    const AVS_VideoInfo* vi = avs.avs_get_video_info(clip);
    if (vi->width == 0)
        diag_print(DIAG_ERROR, "clip has no video.\n");

    const frame_layout& layout = layout_for(vi->pixel_type);
    if (layout.filter) {
        diag_print(DIAG_INFO, "converting video to %s.\n", layout.target_name);
        clip = convert_clip(clip, env, layout.filter, layout.target_name);
        vi = avs.avs_get_video_info(clip);
        // The stream's layout is fixed by the target; a clip in any other
        // format would not match the header.
        if (vi->pixel_type != layout.target_type)
            diag_print(DIAG_ERROR, "cannot convert video to %s.\n", layout.target_name);
    }

    begin_binary_stdout();
    static const char* const field_words[] = {"progressive", "tff", "bff"};
    static const char* const field_letters[] = {"p", "t", "b"};
    field_order order = clip_field_order(*vi);
    diag_print(DIAG_INFO, "writing %d frames of %u/%u fps, %dx%d YUV%s %s video.\n", vi->num_frames,
               vi->fps_numerator, vi->fps_denominator, vi->width, vi->height, layout.chroma_tag, field_words[order]);
    fprintf(stdout, "YUV4MPEG2 W%d H%d F%u:%u I%s A0:0 C%s\n", vi->width, vi->height, vi->fps_numerator,
            vi->fps_denominator, field_letters[order], layout.chroma_tag);
    bool stream_ok = flush_stdout();

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
        avs.avs_release_video_frame(frame);
        if (!stream_ok)
            break;
        ++written;
        progress_update(progress, written, vi->num_frames);
    }
    flush_stdout();
    progress_end(progress);

    int percent = vi->num_frames > 0 ? static_cast<int>(static_cast<int64_t>(written) * 100 / vi->num_frames) : 100;
    diag_print(DIAG_SUMMARY, "finished, wrote %d frames [%d%%].\n", written, percent);
    if (!stream_ok || written != vi->num_frames)
        diag_print(DIAG_ERROR, "only wrote %d of %d frames.\n", written, vi->num_frames);
    return clip;
}
