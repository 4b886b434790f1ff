// What the video becomes on its way out, decided in one place for every
// stream and argument line: the conversions the frame server applies first,
// the layout of each frame's bytes, and what frame 0 of the clip as written
// says of the picture.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/platform.h"
#include "frameserver/avs_c.h"
#include "frameserver/clip_traits.h"
#include "frameserver/frame_properties.h"

// The depth asked for: DEPTH_DEFAULT brings every clip to one of the 8-bit
// layouts; DEPTH_KEEP keeps the clip's layout and depth (float becomes 16
// bits); 8 to 16 keep the layout at that depth.
constexpr int DEPTH_DEFAULT = 0;
constexpr int DEPTH_KEEP = -1;

// What a stream can carry.
enum video_carrier {
    CARRIER_Y4M,       // planar YUV and mono
    CARRIER_MATROSKA,  // also RGB, packed or planar, and alpha, wherever ffmpeg reads a FourCC for it
};

struct video_layout {
    pixel_kind kind;        // PIXEL_PLANAR_YUV, PIXEL_MONO, PIXEL_PLANAR_RGB or PIXEL_PACKED_RGB
    int planes;             // as written: 1 (mono, packed RGB), 3, or 4 with alpha
    int shift_w, shift_h;   // chroma subsampling
    int bits;               // per sample
    int sample_bytes;       // per sample: 1, or 2 (16-bit little-endian words, as the frame server holds them)
    int pixel_bytes;        // packed RGB: per pixel (3, 4, 6 or 8); otherwise sample_bytes
    char name[24];          // for messages: "YUV420", "YUV444p10", "YUVA420", "RGB32", "RGBP10"
};

struct video_plan {
    const AVS_VideoInfo* vi = nullptr;  // of the clip as written
    video_layout layout{};
    int depth = DEPTH_DEFAULT;          // as asked
    field_order order = FIELD_PROGRESSIVE;  // frame 0's _FieldBased where it has one, else the clip's flags
    int64_t sar_num = 0, sar_den = 0;   // frame 0's _SARNum/_SARDen in lowest terms (64:64 is 1:1); 0 where absent
    frame_properties frame0;            // of the clip as written, after any conversion
    // What a y4m header says: by default the clip's own flags and nothing
    // of frame 0 (the classic header); with --depth frame 0's own words.
    bool header_says_frame0 = false;
    field_order header_order = FIELD_PROGRESSIVE;
    int source_bits = 8;                // of the clip before the plan converted it (32: float)
};

// Where the default depth brings a deeper clip with the PQ or HLG transfer
// to 8 bits, which bands its gradients: what is lost and the option that
// keeps it; empty otherwise.
std::string hdr_depth_loss(const video_plan& plan);

// Brings the clip into a layout the carrier takes: by default the 8-bit
// layouts, converting as YUV4MPEG2 always has ("converting video to yv12."),
// with --depth the clip's own layout at the depth asked. A converted clip
// replaces *clip, whose handle is then released. A clip without video, or
// one that cannot be brought into a layout, ends the process with an error.
video_plan plan_video(AVS_Clip** clip, AVS_ScriptEnvironment* env, int depth, video_carrier carrier);

// Frame n of the clip, or null, with the frame server's reason as a
// warning (and in *why, where given), where it cannot deliver it.
AVS_VideoFrame* fetch_frame(AVS_Clip* clip, int n, std::string* why = nullptr);

// Frame n of the clip, where what is printed depends on it: one the frame
// server cannot deliver ends the process with its reason ("cannot read
// frame 0: ...").
AVS_VideoFrame* fetch_frame_or_fail(AVS_Clip* clip, int n);

// Bytes of one frame as written.
int64_t frame_bytes(const video_plan& plan);

// Appends every row of the frame, in the layout's plane order and top row
// first, as pieces that point straight into the frame buffer (rows that lie
// back to back become one piece). False, with nothing appended, where the
// frame is smaller than the clip says.
bool add_frame_rows(std::vector<out_chunk>& chunks, const AVS_VideoFrame* frame, const video_plan& plan);

// Applies a conversion filter to the clip, with one more argument if given.
// Takes over clip (releases it) and returns the new clip; a result that is
// not a clip ends the process with "cannot convert video to <target_name>.".
AVS_Clip* convert_clip(AVS_Clip* clip, AVS_ScriptEnvironment* env, const char* filter, const char* target_name,
                       const AVS_Value* argument = nullptr);
