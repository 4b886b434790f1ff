// What a clip's first frame says of itself: the frame properties that
// AviSynth+ and its source plugins set, read in one place for every mode,
// and held there to what every target can hold (the containers' fields and
// the encoders' options). A frame server without property functions, a
// clip without frames and a frame that is not delivered leave them all
// absent, and so does a value that says nothing ("unspecified", 2). A value
// that a script set but no target can hold (a wrong type, a code H.273
// reserves, NaN, a luminance past what ST 2086 defines) is left out too,
// never wrapped or cut, and noted, so that the modes that carry it say so.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "frameserver/avs_c.h"
#include "frameserver/clip_traits.h"

constexpr int PROPERTY_ABSENT = -1;

// The display a film was graded on (SMPTE ST 2086), as source plugins set
// it: MasteringDisplayPrimariesX/Y (arrays of three, R, G, B),
// MasteringDisplayWhitePointX/Y, MasteringDisplayMin/MaxLuminance.
struct mastering_display {
    bool has_primaries = false;
    double primaries_x[3] = {}, primaries_y[3] = {};  // CIE 1931 x, y; red, green, blue
    double white_x = 0, white_y = 0;
    bool has_luminance = false;
    double min_luminance = 0, max_luminance = 0;  // cd/m²
};

struct frame_properties {
    int64_t sar_num = 0, sar_den = 0;       // _SARNum/_SARDen; 0 where absent or invalid
    int colour_range = PROPERTY_ABSENT;     // _ColorRange: 0 full, 1 limited
    int field_based = PROPERTY_ABSENT;      // _FieldBased: 0 progressive, 1 bottom field first, 2 top
    int chroma_location = PROPERTY_ABSENT;  // _ChromaLocation: 0 left, 1 center, 2 top left, ...
    int matrix = PROPERTY_ABSENT;           // _Matrix, _Primaries, _Transfer: H.273 code points
    int primaries = PROPERTY_ABSENT;
    int transfer = PROPERTY_ABSENT;
    mastering_display mastering;
    bool has_light_level = false;           // ContentLightLevelMax/Average (CTA-861.3), cd/m²
    double max_content_light = 0, max_frame_average_light = 0;
    int64_t duration_num = 0, duration_den = 0;  // _DurationNum/_DurationDen, seconds; 0 where absent
    bool says_hdr_metadata = false;  // any MasteringDisplay... or ContentLightLevel... property, whole or not
    std::vector<std::string> left_out;      // what was set but cannot be carried, one warning each
    std::vector<std::string> hdr_left_out;  // the same for the HDR10 metadata, which y4m never carries
};

// The limits of what the targets hold (ST 2086 and CTA-861.3 as HEVC's and
// AV1's metadata and the encoders define them).
constexpr double MAX_MASTERING_LUMINANCE = 10000;  // cd/m²
constexpr double MAX_LIGHT_LEVEL = 65535;          // cd/m², 16 bits

// Says, one warning each, what frame 0 set that is left out: everything,
// or only what is not HDR10 metadata (for a stream that carries none).
void warn_of_values_left_out(const frame_properties& properties, bool hdr_metadata_too);

// Where required (the output depends on them), a frame 0 the frame server
// cannot deliver ends the process with its reason.
frame_properties read_first_frame_properties(AVS_Clip* clip, AVS_ScriptEnvironment* env, const AVS_VideoInfo& vi,
                                             bool required = false);

// A frame's own duration in seconds (_DurationNum/_DurationDen, which a
// source plugin sets for variable-rate video); false where the frame server
// or the frame has none, leaving num and den as they were.
bool read_frame_duration(AVS_ScriptEnvironment* env, const AVS_VideoFrame* frame, int64_t* num, int64_t* den);

// The durations of the first count frames (each its own, else the clip's
// rate), fetched ahead of the stream: a variable-rate source strays from
// its average rate within its first few frames, and the frame server's
// cache usually still holds them when the stream fetches them again. Stops
// at a frame that is not delivered: the stream reports it when it comes to
// it.
std::vector<std::pair<int64_t, int64_t>> read_first_durations(AVS_Clip* clip, AVS_ScriptEnvironment* env,
                                                              const AVS_VideoInfo& vi, int count);

// The field order _FieldBased gives; the caller checks it is present.
inline field_order field_order_of_property(int field_based)
{
    return field_based == 1 ? FIELD_BFF : field_based == 2 ? FIELD_TFF : FIELD_PROGRESSIVE;
}

// Whether H.273 gives the code point a meaning (neither unspecified nor
// reserved), for MatrixCoefficients, ColourPrimaries and
// TransferCharacteristics.
bool is_known_matrix(int64_t code);
bool is_known_primaries(int64_t code);
bool is_known_transfer(int64_t code);
