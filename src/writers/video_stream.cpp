// YUV4MPEG2: one header line, then "FRAME\n" and the raw planes of every
// frame, rows written straight from the frame server's buffer, in the
// layout the video plan decides.
//
// The default stream's header is the classic one: the clip's own field
// order, no aspect ratio and no range. With --depth it says what frame 0
// says of itself: aspect ratio, range, field order, and where 8-bit 4:2:0
// chroma sits.

#include "writers/video_stream.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "common/diag.h"
#include "common/platform.h"
#include "common/progress.h"
#include "frameserver/avs_library.h"
#include "frameserver/clip_traits.h"
#include "frameserver/frame_properties.h"
#include "writers/stream_sink.h"
#include "writers/stream_time.h"
#include "writers/timecodes.h"

namespace {

// YUV4MPEG2's names for where 8-bit 4:2:0 chroma sits (_ChromaLocation 0
// left, 1 center, 2 top left); ffmpeg reads no such name for deeper 4:2:0.
const char* chroma_siting_suffix(const video_layout& layout, int chroma_location)
{
    static const char* const suffixes[] = {"mpeg2", "jpeg", "paldv"};
    if (strcmp(layout.y4m_tag, "420") != 0 || chroma_location < 0 || chroma_location > 2)
        return "";
    return suffixes[chroma_location];
}

// What frame 0 says that YUV4MPEG2 has no word for, and the HDR or wide
// gamut it makes of the picture: an encoder that is not told shows it
// washed out or flat.
void warn_of_what_y4m_drops(const video_plan& plan)
{
    const frame_properties& p = plan.frame0;
    std::string facts;
    auto add = [&](const char* fact) { facts += (facts.empty() ? "" : ", ") + std::string(fact); };
    if (p.transfer == 16)
        add("the PQ transfer (16)");
    if (p.transfer == 18)
        add("the HLG transfer (18)");
    if (p.primaries == 9)
        add("BT.2020 primaries (9)");
    if (p.says_hdr_metadata)
        add("HDR10 metadata (mastering display, light levels)");
    const std::string depth_loss = hdr_depth_loss(plan);
    if (!facts.empty())
        diag_print(DIAG_WARN,
                   "frame 0 describes %s, which a y4m stream cannot carry: x265args, x264args or svtav1args give "
                   "them to the encoder, or mkv carries them%s%s.\n",
                   facts.c_str(), depth_loss.empty() ? "" : "; and ", depth_loss.c_str());
}

}  // namespace

void write_video(AVS_Clip* clip, AVS_ScriptEnvironment* env, const video_plan& plan, video_options& options)
{
    const AVS_VideoInfo* vi = plan.vi;
    const bool classic = plan.depth == DEPTH_DEFAULT;
    const frame_properties nothing_said;
    const frame_properties& said = classic ? nothing_said : plan.frame0;
    const field_order order = classic ? clip_field_order(*vi) : plan.order;
    if (!classic)
        warn_of_values_left_out(plan.frame0, false);
    warn_of_what_y4m_drops(plan);

    refuse_rate_without_duration(vi->fps_numerator, vi->fps_denominator);

    // Starts that the timecodes cannot say are an error before the stream
    // starts, as far as frame 0's duration and the clip's length tell.
    if (options.timecodes) {
        const bool own = plan.frame0.duration_den != 0;
        const std::string too_long =
            check_clip_length(vi->num_frames, own ? plan.frame0.duration_num : vi->fps_denominator,
                              own ? plan.frame0.duration_den : vi->fps_numerator, 0, 0, TIMECODES_LAST_SECOND);
        if (!too_long.empty())
            diag_print(DIAG_ERROR, "cannot write the timecodes \"%s\": %s.\n", options.timecodes_path.c_str(),
                       too_long.c_str());
    }
    begin_stream_sink();
    static const char* const field_words[] = {"progressive", "tff", "bff"};
    static const char* const field_letters[] = {"p", "t", "b"};
    diag_print(DIAG_INFO, "writing %d frames of %u/%u fps, %dx%d YUV%s %s video.\n", vi->num_frames,
               vi->fps_numerator, vi->fps_denominator, vi->width, vi->height, plan.layout.y4m_tag,
               field_words[order]);
    const char* colour_range = said.colour_range == 0   ? " XCOLORRANGE=FULL"
                               : said.colour_range == 1 ? " XCOLORRANGE=LIMITED"
                                                        : "";
    fprintf(stdout, "YUV4MPEG2 W%d H%d F%u:%u I%s A%d:%d C%s%s%s\n", vi->width, vi->height, vi->fps_numerator,
            vi->fps_denominator, field_letters[order], static_cast<int>(said.sar_num),
            static_cast<int>(said.sar_den), plan.layout.y4m_tag,
            chroma_siting_suffix(plan.layout, said.chroma_location), colour_range);
    bool stream_ok = flush_stdout();
    timecodes_file timecodes;
    if (options.timecodes)
        timecodes_begin(timecodes, options.timecodes, options.timecodes_path);

    static const char frame_line[] = "FRAME\n";
    const int64_t frame_size = static_cast<int64_t>(sizeof frame_line - 1) + frame_bytes(plan);
    std::vector<out_chunk> chunks;
    chunks.reserve(1 + static_cast<size_t>(vi->height) * 2);
    progress_meter progress = progress_begin("frames", "%.1f fps");
    int written = 0;
    for (int n = 0; stream_ok && n < vi->num_frames; ++n) {
        AVS_VideoFrame* frame = fetch_frame(clip, n);
        if (!frame)
            break;
        chunks.clear();
        chunks.push_back({frame_line, sizeof frame_line - 1});
        if (!add_frame_rows(chunks, frame, plan)) {
            avs.avs_release_video_frame(frame);
            diag_print(DIAG_WARN, "frame %d: smaller than the clip's %dx%d\n", n, vi->width, vi->height);
            break;
        }
        // A frame counts only once all of it has reached the output.
        stream_ok = static_cast<int64_t>(write_stdout_chunks(chunks.data(), chunks.size())) == frame_size;
        if (stream_ok)
            write_frame_props(options.frame_props, n, env, frame);
        if (stream_ok && timecodes.file) {
            // Its own duration where the source knows it, else the clip's rate.
            int64_t num = vi->fps_denominator, den = vi->fps_numerator;
            timecodes.own_durations = read_frame_duration(env, frame, &num, &den) || timecodes.own_durations;
            timecodes_add_frame(timecodes, num, den);
        }
        avs.avs_release_video_frame(frame);
        if (!stream_ok)
            break;
        ++written;
        progress_update(progress, written, vi->num_frames);
        if (interrupt_requested())
            break;
    }
    flush_stdout();
    progress_end(progress);
    if (timecodes.own_durations)
        check_durations_against_rate(timecodes.start, written, vi->fps_numerator, vi->fps_denominator);

    const bool timecodes_ok = timecodes_end(timecodes);
    end_frame_props(options.frame_props);

    int percent = vi->num_frames > 0 ? static_cast<int>(static_cast<int64_t>(written) * 100 / vi->num_frames) : 100;
    diag_print(DIAG_SUMMARY, "finished, wrote %d frames [%d%%].\n", written, percent);
    if (!timecodes_ok)
        diag_print(DIAG_ERROR, "cannot write the timecodes to \"%s\".\n", options.timecodes_path.c_str());
    if (interrupt_requested() && written < vi->num_frames)
        diag_print(DIAG_ERROR, "interrupted after %d of %d frames.\n", written, vi->num_frames);
    if (!stream_ok || written != vi->num_frames)
        diag_print(DIAG_ERROR, "only wrote %d of %d frames.\n", written, vi->num_frames);
}
