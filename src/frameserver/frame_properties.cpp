#include "frameserver/frame_properties.h"

#include "frameserver/avs_library.h"

frame_properties read_first_frame_properties(AVS_Clip* clip, AVS_ScriptEnvironment* env, const AVS_VideoInfo& vi)
{
    frame_properties properties;
    if (!avs.avs_get_frame_props_ro || !avs.avs_prop_get_int || vi.width == 0 || vi.num_frames <= 0)
        return properties;
    AVS_VideoFrame* frame = avs.avs_get_frame(clip, 0);
    if (!frame)
        return properties;  // a mode that writes frames reports it
    if (const AVS_Map* map = avs.avs_get_frame_props_ro(env, frame)) {
        // An error is non-zero for a key that is missing or not an integer.
        auto integer = [&](const char* key, int64_t* value) {
            int error = 0;
            *value = avs.avs_prop_get_int(env, map, key, 0, &error);
            return error == 0;
        };
        int64_t num = 0, den = 0, value = 0;
        if (integer("_SARNum", &num) && integer("_SARDen", &den) && num > 0 && den > 0 && num <= INT32_MAX &&
            den <= INT32_MAX) {
            properties.sar_num = num;
            properties.sar_den = den;
        }
        if (integer("_ColorRange", &value) && (value == 0 || value == 1))
            properties.colour_range = static_cast<int>(value);
        if (integer("_FieldBased", &value) && value >= 0 && value <= 2)
            properties.field_based = static_cast<int>(value);
        if (integer("_ChromaLocation", &value) && value >= 0 && value <= 5)
            properties.chroma_location = static_cast<int>(value);
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
