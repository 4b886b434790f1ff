#include "frameserver/frame_properties.h"

#include <cmath>
#include <cstdio>
#include <utility>

#include "common/diag.h"
#include "common/json.h"

#include "frameserver/avs_library.h"

bool is_known_matrix(int64_t code)
{
    // 0 identity (RGB), 1 BT.709, 4 FCC, 5/6 BT.601, 7 SMPTE 240M, 8 YCgCo,
    // 9/10 BT.2020, 11 SMPTE 2085, 12/13 chromaticity-derived, 14 ICtCp.
    return code >= 0 && code <= 14 && code != 2 && code != 3;
}

bool is_known_primaries(int64_t code)
{
    // 1 BT.709, 4 to 12 (BT.470, BT.601, SMPTE 240M, film, BT.2020, XYZ,
    // DCI-P3, Display P3), 22 EBU Tech 3213.
    return code == 1 || (code >= 4 && code <= 12) || code == 22;
}

bool is_known_transfer(int64_t code)
{
    // 1 BT.709 to 18 ARIB STD-B67 (HLG), 16 being SMPTE ST 2084 (PQ).
    return code == 1 || (code >= 4 && code <= 18);
}

namespace {


// Reads properties of one frame's map, and notes each value that is set
// but is not what its key must hold.
struct property_reader {
    AVS_ScriptEnvironment* env;
    const AVS_Map* map;
    std::vector<std::string>* notes;

    void note(const std::string& text) const { notes->push_back(text); }

    // Set at all, whatever its type (1: unset).
    bool present(const char* key) const
    {
        int error = 0;
        avs.avs_prop_get_int(env, map, key, 0, &error);
        return error != 1;
    }

    // An integer; a value of another type is noted.
    bool integer(const char* key, int64_t* value) const
    {
        int error = 0;
        *value = avs.avs_prop_get_int(env, map, key, 0, &error);
        if (error == 2)
            note(std::string(key) + " is not an integer");
        return error == 0;
    }

    // A number, stored as a float or (as some plugins do) an integer; NaN
    // and the infinities are noted.
    bool number(const char* key, int index, double* value) const
    {
        int error = 1;
        if (avs.avs_prop_get_float)
            *value = avs.avs_prop_get_float(env, map, key, index, &error);
        if (error) {
            error = 0;
            *value = static_cast<double>(avs.avs_prop_get_int(env, map, key, index, &error));
        }
        if (error == 2)
            note(std::string(key) + " is not a number");
        else if (error == 4)
            note(std::string(key) + " has no element " + std::to_string(index));
        else if (error == 0 && !std::isfinite(*value))
            note(std::string(key) + " is " + shortest_number_text(*value) + ", not a number a stream can carry");
        return error == 0 && std::isfinite(*value);
    }

    // An H.273 code point: 2 (unspecified) says nothing, a reserved one is
    // noted.
    int code_point(const char* key, bool (*known)(int64_t), const char* what) const
    {
        int64_t value = 0;
        if (!integer(key, &value) || value == 2)
            return PROPERTY_ABSENT;
        if (!known(value)) {
            note(std::string(key) + " " + std::to_string(value) + " is no " + what + " H.273 defines");
            return PROPERTY_ABSENT;
        }
        return static_cast<int>(value);
    }

    // An integer from first to last; another is noted.
    int in_range(const char* key, int64_t first, int64_t last, const char* meaning) const
    {
        int64_t value = 0;
        if (!integer(key, &value))
            return PROPERTY_ABSENT;
        if (value < first || value > last) {
            note(std::string(key) + " " + std::to_string(value) + " is not " + meaning);
            return PROPERTY_ABSENT;
        }
        return static_cast<int>(value);
    }
};

// The display a film was graded on: chromaticities are CIE 1931 x and y,
// from 0 to 1 (HEVC's SEI holds them in 0.00002 steps up to 50000, AV1's
// in 16 bits); the maximum luminance is at most 10000 cd/m² (ST 2086, as
// the encoders take it) and the minimum below it.
mastering_display read_mastering_display(const property_reader& read)
{
    mastering_display m;
    static const char* const primaries_keys[] = {"MasteringDisplayPrimariesX", "MasteringDisplayPrimariesY"};
    static const char* const white_keys[] = {"MasteringDisplayWhitePointX", "MasteringDisplayWhitePointY"};
    const bool any_primaries = read.present(primaries_keys[0]) || read.present(primaries_keys[1]) ||
                               read.present(white_keys[0]) || read.present(white_keys[1]);
    bool primaries = any_primaries;
    const size_t notes_before = read.notes->size();
    for (int i = 0; i < 4 && primaries; ++i) {
        const char* key = i < 2 ? white_keys[i] : primaries_keys[i - 2];
        for (int c = 0; c < (i < 2 ? 1 : 3) && primaries; ++c) {
            double& v = i == 0 ? m.white_x : i == 1 ? m.white_y : i == 2 ? m.primaries_x[c] : m.primaries_y[c];
            if (!read.number(key, c, &v))
                primaries = false;
            else if (!(v > 0 && v <= 1)) {
                read.note(std::string(key) + " " + shortest_number_text(v) + " is no chromaticity (above 0, at most 1)");
                primaries = false;
            }
        }
    }
    if (any_primaries && !primaries && read.notes->size() == notes_before)
        read.note("MasteringDisplayPrimariesX/Y and WhitePointX/Y are not all set");
    if (any_primaries && !primaries)
        read.note("so the mastering display's primaries are left out");
    m.has_primaries = primaries;

    const bool any_luminance =
        read.present("MasteringDisplayMinLuminance") || read.present("MasteringDisplayMaxLuminance");
    const size_t luminance_notes = read.notes->size();
    bool luminance = any_luminance && read.number("MasteringDisplayMinLuminance", 0, &m.min_luminance) &&
                     read.number("MasteringDisplayMaxLuminance", 0, &m.max_luminance);
    if (any_luminance && !luminance && read.notes->size() == luminance_notes)
        read.note("MasteringDisplayMinLuminance and MaxLuminance are not both set");
    if (luminance && !(m.max_luminance > 0 && m.max_luminance <= MAX_MASTERING_LUMINANCE)) {
        read.note("MasteringDisplayMaxLuminance " + shortest_number_text(m.max_luminance) +
                  " cd/m² is past what ST 2086 holds (above 0, at most 10000)");
        luminance = false;
    } else if (luminance && !(m.min_luminance >= 0 && m.min_luminance < m.max_luminance)) {
        read.note("MasteringDisplayMinLuminance " + shortest_number_text(m.min_luminance) + " cd/m² is not below the maximum, " +
                  shortest_number_text(m.max_luminance));
        luminance = false;
    }
    if (any_luminance && !luminance)
        read.note("so the mastering display's luminance is left out");
    m.has_luminance = luminance;
    return m;
}

// MaxCLL and MaxFALL (CTA-861.3): whole cd/m² in 16 bits.
bool read_light_levels(const property_reader& read, double* max_content, double* max_average)
{
    const bool any = read.present("ContentLightLevelMax") || read.present("ContentLightLevelAverage");
    const size_t notes_before = read.notes->size();
    bool fits = any && read.number("ContentLightLevelMax", 0, max_content) &&
                read.number("ContentLightLevelAverage", 0, max_average);
    if (any && !fits && read.notes->size() == notes_before)
        read.note("ContentLightLevelMax and ContentLightLevelAverage are not both set");
    for (const auto& level : {std::make_pair("ContentLightLevelMax", max_content),
                              std::make_pair("ContentLightLevelAverage", max_average)}) {
        // Compared before rounding: rounding a value past 64 bits is
        // undefined.
        if (fits && !(*level.second >= 0 && *level.second < MAX_LIGHT_LEVEL + 0.5)) {
            read.note(std::string(level.first) + " " + shortest_number_text(*level.second) +
                      " cd/m² does not fit the 16 bits a light level has (0 to 65535)");
            fits = false;
        }
    }
    if (any && !fits)
        read.note("so the light levels are left out");
    return fits;
}

}  // namespace

frame_properties read_first_frame_properties(AVS_Clip* clip, AVS_ScriptEnvironment* env, const AVS_VideoInfo& vi,
                                             bool required)
{
    frame_properties properties;
    if (!avs.avs_get_frame_props_ro || !avs.avs_prop_get_int || vi.width == 0 || vi.num_frames <= 0)
        return properties;
    AVS_VideoFrame* frame = avs.avs_get_frame(clip, 0);
    if (!frame && required) {
        const char* error = avs.avs_clip_get_error(clip);
        diag_print(DIAG_ERROR, "cannot read frame 0: %s.\n", one_line(error ? error : "no frame delivered").c_str());
    }
    if (!frame)
        return properties;  // a warning's reading: the stream, if any, reports it
    if (const AVS_Map* map = avs.avs_get_frame_props_ro(env, frame)) {
        const property_reader read = {env, map, &properties.left_out};
        int64_t num = 0, den = 0;
        const bool has_num = read.present("_SARNum") && read.integer("_SARNum", &num);
        const bool has_den = read.present("_SARDen") && read.integer("_SARDen", &den);
        if (has_num && has_den && num > 0 && den > 0 && num <= INT32_MAX && den <= INT32_MAX) {
            properties.sar_num = num;
            properties.sar_den = den;
        } else if (has_num && has_den) {
            read.note("_SARNum/_SARDen " + std::to_string(num) + ":" + std::to_string(den) +
                      " is no aspect ratio (both from 1 to 2147483647)");
        }
        if (read.present("_ColorRange"))
            properties.colour_range = read.in_range("_ColorRange", 0, 1, "0 (full) or 1 (limited)");
        if (read.present("_FieldBased"))
            properties.field_based = read.in_range("_FieldBased", 0, 2, "0, 1 or 2 (progressive, bff, tff)");
        if (read.present("_ChromaLocation"))
            properties.chroma_location = read.in_range("_ChromaLocation", 0, 5, "a chroma location (0 to 5)");
        if (read.present("_Matrix"))
            properties.matrix = read.code_point("_Matrix", is_known_matrix, "matrix");
        if (read.present("_Primaries"))
            properties.primaries = read.code_point("_Primaries", is_known_primaries, "primaries");
        if (read.present("_Transfer"))
            properties.transfer = read.code_point("_Transfer", is_known_transfer, "transfer");
        read_frame_duration(env, frame, &properties.duration_num, &properties.duration_den);

        // HDR10 metadata, noted apart: a y4m stream never carries it.
        const property_reader read_hdr = {env, map, &properties.hdr_left_out};
        properties.mastering = read_mastering_display(read_hdr);
        properties.has_light_level = read_light_levels(read_hdr, &properties.max_content_light,
                                                       &properties.max_frame_average_light);
        for (const char* key :
             {"MasteringDisplayPrimariesX", "MasteringDisplayPrimariesY", "MasteringDisplayWhitePointX",
              "MasteringDisplayWhitePointY", "MasteringDisplayMinLuminance", "MasteringDisplayMaxLuminance",
              "ContentLightLevelMax", "ContentLightLevelAverage"})
            properties.says_hdr_metadata = properties.says_hdr_metadata || read.present(key);
    }
    avs.avs_release_video_frame(frame);
    return properties;
}

void warn_of_values_left_out(const frame_properties& properties, bool hdr_metadata_too)
{
    // The notes of one value read as one sentence: the value, then what is
    // left out for it.
    auto warn = [](const std::vector<std::string>& notes) {
        for (size_t i = 0; i < notes.size(); ++i) {
            const bool follows = i + 1 < notes.size() && notes[i + 1].rfind("so ", 0) == 0;
            if (notes[i].rfind("so ", 0) == 0)
                continue;
            diag_print(DIAG_WARN, "frame 0's %s: %s.\n", notes[i].c_str(),
                       follows ? notes[i + 1].substr(3).c_str() : "it is left out");
        }
    };
    warn(properties.left_out);
    if (hdr_metadata_too)
        warn(properties.hdr_left_out);
}

bool read_frame_duration(AVS_ScriptEnvironment* env, const AVS_VideoFrame* frame, int64_t* num, int64_t* den)
{
    if (!avs.avs_get_frame_props_ro || !avs.avs_prop_get_int)
        return false;
    const AVS_Map* map = avs.avs_get_frame_props_ro(env, frame);
    if (!map)
        return false;
    int num_error = 0, den_error = 0;
    const int64_t n = avs.avs_prop_get_int(env, map, "_DurationNum", 0, &num_error);
    const int64_t d = avs.avs_prop_get_int(env, map, "_DurationDen", 0, &den_error);
    if (num_error || den_error || n <= 0 || d <= 0)
        return false;
    *num = n;
    *den = d;
    return true;
}

std::vector<std::pair<int64_t, int64_t>> read_first_durations(AVS_Clip* clip, AVS_ScriptEnvironment* env,
                                                              const AVS_VideoInfo& vi, int count)
{
    std::vector<std::pair<int64_t, int64_t>> durations;
    for (int n = 0; n < count && n < vi.num_frames; ++n) {
        AVS_VideoFrame* ahead = avs.avs_get_frame(clip, n);
        if (!ahead)
            break;  // the stream reports it when it comes to it
        int64_t num = vi.fps_denominator, den = vi.fps_numerator;
        read_frame_duration(env, ahead, &num, &den);
        avs.avs_release_video_frame(ahead);
        durations.emplace_back(num, den);
    }
    return durations;
}
