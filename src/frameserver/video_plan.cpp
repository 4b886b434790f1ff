#include "frameserver/video_plan.h"

#include <cstdio>
#include <cstring>
#include <set>
#include <string>

#include "common/diag.h"
#include "common/numbers.h"
#include "frameserver/avs_library.h"
#include "frameserver/avs_values.h"

namespace {

// An alpha plane is found by its id, which only AviSynth+ gives.
bool alpha_planes_readable()
{
    return avs.avs_get_read_ptr_p && avs.avs_get_pitch_p && avs.avs_get_row_size_p && avs.avs_get_height_p;
}

// The layout of a format where the carrier takes it; false where there is
// none. An alpha plane is kept where the carrier takes it and ffmpeg has a
// raw FourCC for it, otherwise it is not written.
bool layout_of(const pixel_format& f, video_carrier carrier, video_layout* layout)
{
    if (f.bits > 16)
        return false;
    video_layout l{};
    l.kind = f.kind;
    l.bits = f.bits;
    l.sample_bytes = f.bits == 8 ? 1 : 2;
    l.pixel_bytes = l.sample_bytes;
    l.shift_w = f.shift_w;
    l.shift_h = f.shift_h;
    char shape[16] = "";  // "420", "444p10", "mono16"
    switch (f.kind) {
    case PIXEL_MONO:
        l.planes = 1;
        snprintf(shape, sizeof shape, f.bits == 8 ? "mono" : "mono%d", f.bits);
        break;
    case PIXEL_PLANAR_YUV: {
        const bool is_444 = f.shift_w == 0 && f.shift_h == 0, is_422 = f.shift_w == 1 && f.shift_h == 0,
                   is_420 = f.shift_w == 1 && f.shift_h == 1, is_411 = f.shift_w == 2 && f.shift_h == 0;
        if (!(is_444 || is_422 || is_420 || (is_411 && f.bits == 8)))
            return false;
        const char* chroma = is_444 ? "444" : is_422 ? "422" : is_420 ? "420" : "411";
        snprintf(shape, sizeof shape, f.bits == 8 ? "%s" : "%sp%d", chroma, f.bits);
        // ffmpeg has no 4:2:0 alpha at 12 bits, and none at 14.
        const bool alpha = carrier == CARRIER_MATROSKA && f.alpha && alpha_planes_readable() && !is_411 &&
                           (f.bits == 8 || f.bits == 10 || f.bits == 16 || (f.bits == 12 && !is_420));
        l.planes = alpha ? 4 : 3;
        snprintf(l.name, sizeof l.name, "YUV%s%s", alpha ? "A" : "", shape);
        break;
    }
    case PIXEL_PLANAR_RGB: {
        if (carrier != CARRIER_MATROSKA)
            return false;
        const bool alpha = f.alpha && alpha_planes_readable() && f.bits != 14;
        l.planes = alpha ? 4 : 3;
        snprintf(l.name, sizeof l.name, f.bits == 8 ? "RGB%sP" : "RGB%sP%d", alpha ? "A" : "", f.bits);
        break;
    }
    case PIXEL_PACKED_RGB:
        // Blue, green, red (and alpha) in each pixel, as ffmpeg's bgr24,
        // bgra, bgr48le and bgra64le have them.
        if (carrier != CARRIER_MATROSKA || (f.bits != 8 && f.bits != 16))
            return false;
        l.planes = 1;
        l.pixel_bytes = (f.alpha ? 4 : 3) * l.sample_bytes;
        snprintf(l.name, sizeof l.name, "RGB%d", l.pixel_bytes * 8);
        break;
    default:
        return false;
    }
    if (!l.name[0])
        snprintf(l.name, sizeof l.name, "YUV%s", shape);
    *layout = l;
    return true;
}

// The default y4m stream's table: which 8-bit layout a clip goes out in,
// and the conversion that leads to it.
struct conversion {
    int pixel_type;           // 0: any type not listed before it
    const char* filter;       // conversion to apply first, or null
    const char* target_name;  // for messages: "yv24", ...
    int target_type;          // the layout written
};

const conversion conversions[] = {
    {AVS_CS_YV24, nullptr, "yv24", AVS_CS_YV24},       {AVS_CS_BGR24, "ConvertToYV24", "yv24", AVS_CS_YV24},
    {AVS_CS_BGR32, "ConvertToYV24", "yv24", AVS_CS_YV24}, {AVS_CS_YV16, nullptr, "yv16", AVS_CS_YV16},
    {AVS_CS_YUY2, "ConvertToYV16", "yv16", AVS_CS_YV16}, {AVS_CS_YV411, nullptr, "yv411", AVS_CS_YV411},
    {AVS_CS_Y8, nullptr, "y8", AVS_CS_Y8},              {AVS_CS_YV12, nullptr, "yv12", AVS_CS_YV12},
    {0, "ConvertToYV12", "yv12", AVS_CS_YV12},
};

// Whether a clip of this pixel type is written in the target's layout as
// it is: the target's own type, or one with the same planes stored in
// another order (I420, as source plugins deliver 8-bit 4:2:0, keeps U
// before V). Planes are read by their ids, so their order in memory makes
// no difference.
bool has_layout(int pixel_type, int target_type)
{
    const pixel_format format = describe_pixel_type(pixel_type), target = describe_pixel_type(target_type);
    return format.bits == 8 && !format.alpha && format.kind == target.kind &&
           (format.kind == PIXEL_MONO || (format.shift_w == target.shift_w && format.shift_h == target.shift_h));
}

const conversion& conversion_for(int pixel_type)
{
    const conversion* row = conversions;
    while (row->pixel_type != 0 && row->pixel_type != pixel_type)
        ++row;
    if (row->pixel_type != 0)
        return *row;
    for (const conversion& written : conversions)
        if (!written.filter && has_layout(pixel_type, written.target_type))
            return written;
    return *row;
}

// Each conversion is said once: info --json plans the clip for y4m and
// for Matroska, which often convert alike.
void announce_conversion(const char* target_name)
{
    static std::set<std::string> announced;
    if (announced.insert(target_name).second)
        diag_print(DIAG_INFO, "converting video to %s.\n", target_name);
}

const AVS_VideoInfo* announce_and_convert(AVS_Clip** clip, AVS_ScriptEnvironment* env, const char* filter,
                                          const char* target_name, const AVS_Value* argument = nullptr)
{
    announce_conversion(target_name);
    *clip = convert_clip(*clip, env, filter, target_name, argument);
    return avs.avs_get_video_info(*clip);
}

const AVS_VideoInfo* convert_bits(AVS_Clip** clip, AVS_ScriptEnvironment* env, int bits)
{
    char target[16];
    snprintf(target, sizeof target, "%d bits", bits);
    const AVS_Value bits_value = int_value(bits);
    const AVS_VideoInfo* vi = announce_and_convert(clip, env, "ConvertBits", target, &bits_value);
    if (describe_pixel_type(vi->pixel_type).bits != bits)
        diag_print(DIAG_ERROR, "cannot convert video to %s.\n", target);
    return vi;
}

// What Matroska carries beyond y4m, as it is: RGB, and YUV with alpha.
bool carried_beyond_y4m(const pixel_format& f, video_carrier carrier)
{
    return carrier == CARRIER_MATROSKA &&
           (f.kind == PIXEL_PACKED_RGB || f.kind == PIXEL_PLANAR_RGB || (f.kind == PIXEL_PLANAR_YUV && f.alpha));
}

// The default: one of the 8-bit layouts.
const AVS_VideoInfo* prepare_8bit_video(AVS_Clip** clip, AVS_ScriptEnvironment* env, video_carrier carrier,
                                        video_layout* layout)
{
    const AVS_VideoInfo* vi = avs.avs_get_video_info(*clip);
    if (carried_beyond_y4m(describe_pixel_type(vi->pixel_type), carrier)) {
        if (describe_pixel_type(vi->pixel_type).bits != 8)
            vi = convert_bits(clip, env, 8);
    } else {
        const conversion& row = conversion_for(vi->pixel_type);
        if (row.filter) {
            announce_conversion(row.target_name);
            // The releases of AviSynth+ convert only 8-bit clips this way
            // ("ConvertToYV12: only 8 bit sources allowed"): a deeper one
            // is brought to 8 bits first, by the filter --depth=8 uses.
            if (describe_pixel_type(vi->pixel_type).bits != 8) {
                const AVS_Value bits = int_value(8);
                *clip = convert_clip(*clip, env, "ConvertBits", row.target_name, &bits);
            }
            *clip = convert_clip(*clip, env, row.filter, row.target_name);
            vi = avs.avs_get_video_info(*clip);
            // The stream's layout is fixed by the target; a clip in any
            // other layout would not match it.
            if (!has_layout(vi->pixel_type, row.target_type))
                diag_print(DIAG_ERROR, "cannot convert video to %s.\n", row.target_name);
        }
    }
    if (!layout_of(describe_pixel_type(vi->pixel_type), carrier, layout))
        diag_print(DIAG_ERROR, "cannot write video of pixel type %x.\n", static_cast<unsigned>(vi->pixel_type));
    return vi;
}

// --depth: keeps the layout, converting only what the carrier cannot take
// (for y4m: RGB to 4:4:4, YUY2 to 4:2:2) and the depth where a number asks
// for another (float becomes 16 bits).
const AVS_VideoInfo* prepare_deep_video(AVS_Clip** clip, AVS_ScriptEnvironment* env, int depth,
                                        video_carrier carrier, video_layout* layout)
{
    const AVS_VideoInfo* vi = avs.avs_get_video_info(*clip);
    pixel_format format = describe_pixel_type(vi->pixel_type);
    // Whether the carrier has the clip's chroma layout at all, whatever its
    // depth (float is brought to 16 bits below).
    pixel_format as_8bit = format;
    as_8bit.bits = 8;
    video_layout has_shape;
    if (format.kind == PIXEL_YUY2)
        vi = announce_and_convert(clip, env, "ConvertToYV16", "yv16");
    else if (carried_beyond_y4m(format, carrier))
        ;  // as it is
    else if (format.kind == PIXEL_PACKED_RGB && format.bits == 8)
        vi = announce_and_convert(clip, env, "ConvertToYV24", "yv24");  // known to every frame server
    else if (format.kind == PIXEL_PACKED_RGB || format.kind == PIXEL_PLANAR_RGB)
        vi = announce_and_convert(clip, env, "ConvertToYUV444", "yuv444");
    else if (!layout_of(as_8bit, carrier, &has_shape))
        vi = announce_and_convert(clip, env, "ConvertToYV12", "yv12");  // 4:1:0 and what is not known
    format = describe_pixel_type(vi->pixel_type);

    int bits = depth == DEPTH_KEEP ? (format.bits == 32 ? 16 : format.bits) : depth;
    // Readers know no 14-bit mono y4m stream ("Cmono14"): such a clip goes
    // out at 16 bits.
    if (carrier == CARRIER_Y4M && format.kind == PIXEL_MONO && bits == 14)
        bits = 16;
    // Packed RGB comes only at 8 and 16 bits; at any other depth it is
    // planar.
    if (format.kind == PIXEL_PACKED_RGB && bits != 8 && bits != 16) {
        vi = announce_and_convert(clip, env, format.alpha ? "ConvertToPlanarRGBA" : "ConvertToPlanarRGB",
                                  format.alpha ? "planar rgba" : "planar rgb");
        format = describe_pixel_type(vi->pixel_type);
    }
    if (bits != format.bits) {
        vi = convert_bits(clip, env, bits);
        format = describe_pixel_type(vi->pixel_type);
    }
    if (!layout_of(format, carrier, layout))
        diag_print(DIAG_ERROR, "cannot write video of pixel type %x at %d bits.\n",
                   static_cast<unsigned>(vi->pixel_type), format.bits);
    return vi;
}

struct plane_view {
    const unsigned char* start;  // the row written first
    int pitch;                   // from one row written to the next
    int row_bytes, height;
    int row_size, frame_height;  // what the frame holds: at least row_bytes and height
};

// The planes of a frame in the order they are written. Planar RGB keeps
// green, blue and red where YUV keeps Y, U and V, every plane at the full
// size and the main pitch; packed RGB lies bottom row first.
int planes_of(const AVS_VideoFrame* frame, const video_plan& plan, plane_view planes[4])
{
    const video_layout& l = plan.layout;
    const AVS_VideoInfo& vi = *plan.vi;
    const unsigned char* data = frame->vfb->data;
    if (l.kind == PIXEL_PACKED_RGB) {
        const int row_bytes = vi.width * l.pixel_bytes;
        planes[0] = {data + frame->offset + static_cast<int64_t>(vi.height - 1) * frame->pitch, -frame->pitch,
                     row_bytes, vi.height, frame->row_size, frame->height};
        return 1;
    }
    const int luma_bytes = vi.width * l.sample_bytes;
    planes[0] = {data + frame->offset, frame->pitch, luma_bytes, vi.height, frame->row_size, frame->height};
    if (l.kind == PIXEL_PLANAR_RGB) {
        planes[1] = {data + frame->offsetU, frame->pitch, luma_bytes, vi.height, frame->row_size, frame->height};
        planes[2] = {data + frame->offsetV, frame->pitch, luma_bytes, vi.height, frame->row_size, frame->height};
    } else {
        const int chroma_bytes = (vi.width >> l.shift_w) * l.sample_bytes, chroma_height = vi.height >> l.shift_h;
        planes[1] = {data + frame->offsetU, frame->pitchUV, chroma_bytes, chroma_height, frame->row_sizeUV,
                     frame->heightUV};
        planes[2] = {data + frame->offsetV, frame->pitchUV, chroma_bytes, chroma_height, frame->row_sizeUV,
                     frame->heightUV};
    }
    if (l.planes == 4) {
        // Only AviSynth+ has alpha; it finds the plane by its id.
        planes[3] = {avs.avs_get_read_ptr_p(frame, AVS_PLANAR_A), avs.avs_get_pitch_p(frame, AVS_PLANAR_A),
                     luma_bytes, vi.height, avs.avs_get_row_size_p(frame, AVS_PLANAR_A),
                     avs.avs_get_height_p(frame, AVS_PLANAR_A)};
    }
    return l.planes;
}

}  // namespace

AVS_Clip* convert_clip(AVS_Clip* clip, AVS_ScriptEnvironment* env, const char* filter, const char* target_name,
                       const AVS_Value* argument)
{
    std::string failure = std::string("cannot convert video to ") + target_name + ".\n";
    return take_filtered_clip(invoke_filter(clip, env, filter, argument, argument ? 1 : 0), env, failure.c_str());
}

video_plan plan_video(AVS_Clip** clip, AVS_ScriptEnvironment* env, int depth, video_carrier carrier)
{
    video_plan plan;
    plan.depth = depth;
    const AVS_VideoInfo* vi = avs.avs_get_video_info(*clip);
    if (vi->width == 0)
        diag_print(DIAG_ERROR, "clip has no video.\n");
    // Only AviSynth+ has alpha planes, and finds them by their ids (packed
    // RGB32 keeps alpha in each pixel).
    const pixel_format source = describe_pixel_type(vi->pixel_type);
    plan.source_bits = source.bits;
    if (carrier == CARRIER_MATROSKA && source.alpha && source.kind != PIXEL_PACKED_RGB && !alpha_planes_readable())
        diag_print(DIAG_INFO, "the frame server gives no plane by its id (AviSynth+ does): the alpha plane is left "
                              "out.\n");
    plan.vi = depth == DEPTH_DEFAULT ? prepare_8bit_video(clip, env, carrier, &plan.layout)
                                     : prepare_deep_video(clip, env, depth, carrier, &plan.layout);
    // What frame 0 of the clip as written says: a conversion records the
    // matrix and range it used.
    plan.frame0 = read_first_frame_properties(*clip, env, *plan.vi, true);
    plan.order = plan.frame0.field_based != PROPERTY_ABSENT ? field_order_of_property(plan.frame0.field_based)
                                                            : clip_field_order(*plan.vi);
    // The classic y4m stream says only what the clip's flags say; a deeper
    // one what frame 0 says of itself.
    plan.header_says_frame0 = depth != DEPTH_DEFAULT;
    plan.header_order = plan.header_says_frame0 ? plan.order : clip_field_order(*plan.vi);
    if (plan.frame0.sar_num > 0) {
        plan.sar_num = plan.frame0.sar_num;
        plan.sar_den = plan.frame0.sar_den;
        reduce_fraction(&plan.sar_num, &plan.sar_den);
    }
    return plan;
}

AVS_VideoFrame* fetch_frame(AVS_Clip* clip, int n, std::string* why)
{
    AVS_VideoFrame* frame = avs.avs_get_frame(clip, n);
    if (!frame) {
        const char* error = avs.avs_clip_get_error(clip);
        const std::string reason = one_line(error ? error : "no frame delivered");
        diag_print(DIAG_WARN, "frame %d: %s\n", n, reason.c_str());
        if (why)
            *why = "frame " + std::to_string(n) + ": " + reason;
    }
    return frame;
}

AVS_VideoFrame* fetch_frame_or_fail(AVS_Clip* clip, int n)
{
    AVS_VideoFrame* frame = avs.avs_get_frame(clip, n);
    if (!frame) {
        const char* error = avs.avs_clip_get_error(clip);
        diag_print(DIAG_ERROR, "cannot read frame %d: %s.\n", n,
                   one_line(error ? error : "no frame delivered").c_str());
    }
    return frame;
}

int64_t frame_bytes(const video_plan& plan)
{
    const video_layout& l = plan.layout;
    const int64_t width = plan.vi->width, height = plan.vi->height;
    if (l.kind == PIXEL_PACKED_RGB)
        return width * height * l.pixel_bytes;
    const int64_t luma = width * height;
    const int64_t chroma = l.kind == PIXEL_PLANAR_RGB ? luma : (width >> l.shift_w) * (height >> l.shift_h);
    const int64_t alpha = l.planes == 4 ? luma : 0;
    return (luma + (l.planes == 1 ? 0 : 2 * chroma) + alpha) * l.sample_bytes;
}

bool add_frame_rows(std::vector<out_chunk>& chunks, const AVS_VideoFrame* frame, const video_plan& plan)
{
    plane_view planes[4];
    const int count = planes_of(frame, plan, planes);
    // A frame smaller than the clip says would make the rows overrun it.
    for (int i = 0; i < count; ++i)
        if (!planes[i].start || planes[i].row_size < planes[i].row_bytes || planes[i].frame_height < planes[i].height)
            return false;
    for (int i = 0; i < count; ++i) {
        const unsigned char* row = planes[i].start;
        for (int y = 0; y < planes[i].height; ++y, row += planes[i].pitch) {
            // Where the pitch equals the row (AviSynth+ at widths that are a
            // multiple of 64), a plane is one run: one piece, not a piece a
            // row.
            out_chunk* last = chunks.empty() ? nullptr : &chunks.back();
            if (last && static_cast<const unsigned char*>(last->data) + last->size == row)
                last->size += static_cast<size_t>(planes[i].row_bytes);
            else
                chunks.push_back({row, static_cast<size_t>(planes[i].row_bytes)});
        }
    }
    return true;
}

std::string hdr_depth_loss(const video_plan& plan)
{
    const int transfer = plan.frame0.transfer;
    if (plan.depth != DEPTH_DEFAULT || plan.source_bits <= 8 || plan.layout.bits != 8 || (transfer != 16 && transfer != 18))
        return "";
    const std::string bits = plan.source_bits == 32 ? "float" : std::to_string(plan.source_bits) + "-bit";
    return "the clip's " + bits + " " + (transfer == 16 ? "PQ" : "HLG") +
           " picture goes out at 8 bits, which bands its gradients: --depth=keep keeps its depth";
}
