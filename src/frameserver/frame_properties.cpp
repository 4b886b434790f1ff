#include "frameserver/frame_properties.h"

#include <cmath>

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

// Reads properties of one frame's map.
struct property_reader {
    AVS_ScriptEnvironment* env;
    const AVS_Map* map;

    // An error is non-zero for a key that is missing or of another type.
    bool integer(const char* key, int64_t* value) const
    {
        int error = 0;
        *value = avs.avs_prop_get_int(env, map, key, 0, &error);
        return error == 0;
    }

    // A number, stored as a float or (as some plugins do) an integer.
    bool number(const char* key, int index, double* value) const
    {
        int error = 1;
        if (avs.avs_prop_get_float)
            *value = avs.avs_prop_get_float(env, map, key, index, &error);
        if (error) {
            error = 0;
            *value = static_cast<double>(avs.avs_prop_get_int(env, map, key, index, &error));
        }
        return error == 0 && std::isfinite(*value);
    }

    // Set at all, whatever its type (1: unset).
    bool present(const char* key) const
    {
        int error = 0;
        avs.avs_prop_get_int(env, map, key, 0, &error);
        return error != 1;
    }

    int code_point(const char* key, bool (*known)(int64_t)) const
    {
        int64_t value = 0;
        return integer(key, &value) && known(value) ? static_cast<int>(value) : PROPERTY_ABSENT;
    }
};

bool is_chromaticity(double v)
{
    return v > 0 && v <= 1;
}

mastering_display read_mastering_display(const property_reader& read)
{
    mastering_display m;
    bool primaries = read.number("MasteringDisplayWhitePointX", 0, &m.white_x) &&
                     read.number("MasteringDisplayWhitePointY", 0, &m.white_y) && is_chromaticity(m.white_x) &&
                     is_chromaticity(m.white_y);
    for (int i = 0; i < 3 && primaries; ++i)
        primaries = read.number("MasteringDisplayPrimariesX", i, &m.primaries_x[i]) &&
                    read.number("MasteringDisplayPrimariesY", i, &m.primaries_y[i]) &&
                    is_chromaticity(m.primaries_x[i]) && is_chromaticity(m.primaries_y[i]);
    m.has_primaries = primaries;
    m.has_luminance = read.number("MasteringDisplayMinLuminance", 0, &m.min_luminance) &&
                      read.number("MasteringDisplayMaxLuminance", 0, &m.max_luminance) && m.min_luminance >= 0 &&
                      m.max_luminance > 0;
    return m;
}

}  // namespace

frame_properties read_first_frame_properties(AVS_Clip* clip, AVS_ScriptEnvironment* env, const AVS_VideoInfo& vi)
{
    frame_properties properties;
    if (!avs.avs_get_frame_props_ro || !avs.avs_prop_get_int || vi.width == 0 || vi.num_frames <= 0)
        return properties;
    AVS_VideoFrame* frame = avs.avs_get_frame(clip, 0);
    if (!frame)
        return properties;  // a mode that writes frames reports it
    if (const AVS_Map* map = avs.avs_get_frame_props_ro(env, frame)) {
        const property_reader read = {env, map};
        int64_t num = 0, den = 0, value = 0;
        if (read.integer("_SARNum", &num) && read.integer("_SARDen", &den) && num > 0 && den > 0 &&
            num <= INT32_MAX && den <= INT32_MAX) {
            properties.sar_num = num;
            properties.sar_den = den;
        }
        if (read.integer("_ColorRange", &value) && (value == 0 || value == 1))
            properties.colour_range = static_cast<int>(value);
        if (read.integer("_FieldBased", &value) && value >= 0 && value <= 2)
            properties.field_based = static_cast<int>(value);
        if (read.integer("_ChromaLocation", &value) && value >= 0 && value <= 5)
            properties.chroma_location = static_cast<int>(value);
        properties.matrix = read.code_point("_Matrix", is_known_matrix);
        properties.primaries = read.code_point("_Primaries", is_known_primaries);
        properties.transfer = read.code_point("_Transfer", is_known_transfer);
        properties.mastering = read_mastering_display(read);
        read_frame_duration(env, frame, &properties.duration_num, &properties.duration_den);
        for (const char* key :
             {"MasteringDisplayPrimariesX", "MasteringDisplayPrimariesY", "MasteringDisplayWhitePointX",
              "MasteringDisplayWhitePointY", "MasteringDisplayMinLuminance", "MasteringDisplayMaxLuminance",
              "ContentLightLevelMax", "ContentLightLevelAverage"})
            properties.says_hdr_metadata = properties.says_hdr_metadata || read.present(key);
        properties.has_light_level = read.number("ContentLightLevelMax", 0, &properties.max_content_light) &&
                                     read.number("ContentLightLevelAverage", 0, &properties.max_frame_average_light) &&
                                     properties.max_content_light >= 0 && properties.max_frame_average_light >= 0;
    }
    avs.avs_release_video_frame(frame);
    return properties;
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
