// YUV4MPEG2: one header line, then "FRAME\n" and the raw planes of every
// frame, rows straight from where the frame server holds them, in the
// layout the video plan decides. --raw writes the planes alone.
//
// The default stream's header is the classic one: the clip's own field
// order, no aspect ratio and no range. With --depth it says what frame 0
// says of itself: aspect ratio, range, field order, and where 8-bit 4:2:0
// chroma sits.

#include <cstdio>
#include <cstring>
#include <string>

#include "common/diag.h"
#include "writers/format.h"
#include "writers/stream_time.h"

namespace {

struct y4m_state {
    const video_plan* plan;
};

const char FRAME_LINE[] = "FRAME\n";

// YUV4MPEG2's names for where 8-bit 4:2:0 chroma sits (_ChromaLocation 0
// left, 1 center, 2 top left); ffmpeg reads no such name for deeper 4:2:0.
const char* chroma_siting_suffix(const video_layout& layout, int chroma_location)
{
    static const char* const suffixes[] = {"mpeg2", "jpeg", "paldv"};
    if (y4m_chroma_tag(layout) != "420" || chroma_location < 0 || chroma_location > 2)
        return "";
    return suffixes[chroma_location];
}

// What frame 0 says that YUV4MPEG2 has no word for, and the HDR or wide
// gamut it makes of the picture: an encoder that is not told shows it
// washed out or flat.
void warn_of_what_y4m_drops(const video_plan& plan, const char* stream)
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
                   "frame 0 describes %s, which a %s stream cannot carry: x265args, x264args or svtav1args give "
                   "them to the encoder, or mkv carries them%s%s.\n",
                   facts.c_str(), stream, depth_loss.empty() ? "" : "; and ", depth_loss.c_str());
}

void* y4m_open(const stream_start& start)
{
    const video_plan& plan = *start.video;
    if (plan.header_says_frame0)
        warn_of_values_left_out(plan.frame0, false);
    if (!start.reader_told)
        warn_of_what_y4m_drops(plan, "y4m");
    refuse_rate_without_duration(plan.vi->fps_numerator, plan.vi->fps_denominator);
    return new y4m_state{&plan};
}

void y4m_begin(void* state, const stream_start&, out_packet& out)
{
    const video_plan& plan = *static_cast<y4m_state*>(state)->plan;
    const AVS_VideoInfo& vi = *plan.vi;
    const frame_properties nothing_said;
    const frame_properties& said = plan.header_says_frame0 ? plan.frame0 : nothing_said;
    const std::string tag = y4m_chroma_tag(plan.layout);
    static const char* const field_letters[] = {"p", "t", "b"};
    diag_print(DIAG_INFO, "writing %d frames of %u/%u fps, %dx%d YUV%s %s video.\n", vi.num_frames, vi.fps_numerator,
               vi.fps_denominator, vi.width, vi.height, tag.c_str(), field_order_word(plan.header_order));
    const char* colour_range = said.colour_range == 0   ? " XCOLORRANGE=FULL"
                               : said.colour_range == 1 ? " XCOLORRANGE=LIMITED"
                                                        : "";
    char header[256];
    snprintf(header, sizeof header, "YUV4MPEG2 W%d H%d F%u:%u I%s A%d:%d C%s%s%s\n", vi.width, vi.height,
             vi.fps_numerator, vi.fps_denominator, field_letters[plan.header_order], static_cast<int>(said.sar_num),
             static_cast<int>(said.sar_den), tag.c_str(), chroma_siting_suffix(plan.layout, said.chroma_location),
             colour_range);
    packet_add_copy(out, std::string(header));
}

int64_t y4m_video_frame(void*, const frame_in& frame, out_packet& out)
{
    packet_add(out, FRAME_LINE, sizeof FRAME_LINE - 1);
    packet_add_pieces(out, frame.rows->data(), frame.rows->size(), frame.bytes);
    return 0;
}

void y4m_end(void* state, int)
{
    delete static_cast<y4m_state*>(state);
}

// --raw: no header, so nothing in it follows frame 0; the *args lines and
// --tell-encoder give the reader what a header would.
void* raw_open(const stream_start& start)
{
    const video_plan& plan = *start.video;
    if (!start.reader_told)
        warn_of_what_y4m_drops(plan, "raw");
    refuse_rate_without_duration(plan.vi->fps_numerator, plan.vi->fps_denominator);
    return new y4m_state{&plan};
}

void raw_begin(void* state, const stream_start&, out_packet&)
{
    const video_plan& plan = *static_cast<y4m_state*>(state)->plan;
    const AVS_VideoInfo& vi = *plan.vi;
    diag_print(DIAG_INFO, "writing %d frames of %u/%u fps, %dx%d YUV%s %s video, raw: no header, no FRAME lines.\n",
               vi.num_frames, vi.fps_numerator, vi.fps_denominator, vi.width, vi.height,
               y4m_chroma_tag(plan.layout).c_str(), field_order_word(plan.order));
}

int64_t raw_video_frame(void*, const frame_in& frame, out_packet& out)
{
    packet_add_pieces(out, frame.rows->data(), frame.rows->size(), frame.bytes);
    return 0;
}

}  // namespace

std::string y4m_chroma_tag(const video_layout& l)
{
    if (l.kind == PIXEL_MONO)
        return l.bits == 8 ? "mono" : "mono" + std::to_string(l.bits);
    if (l.kind != PIXEL_PLANAR_YUV || l.planes != 3)
        return "";
    const char* chroma = l.shift_w == 0 ? "444" : l.shift_w == 2 ? "411" : l.shift_h == 0 ? "422" : "420";
    return l.bits == 8 ? chroma : chroma + std::string("p") + std::to_string(l.bits);
}

const stream_format Y4M_FORMAT = {
    "y4m", TRACKS_VIDEO, 0, false, false, 0, y4m_open, y4m_begin, y4m_video_frame, nullptr, nullptr, nullptr, y4m_end,
};

const stream_format RAW_VIDEO_FORMAT = {
    "raw", TRACKS_VIDEO, 0, false, false, 0, raw_open, raw_begin, raw_video_frame, nullptr, nullptr, nullptr, y4m_end,
};
