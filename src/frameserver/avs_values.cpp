#include "frameserver/avs_values.h"

#include "common/diag.h"
#include "frameserver/avs_library.h"

void warn_error_value(const AVS_Value& value)
{
    if (value.type == AVS_TAG_ERROR && value.d.string && value.d.string[0])
        diag_print(DIAG_WARN, "%s\n", one_line(value.d.string).c_str());
}

AVS_Value invoke_filter(AVS_Clip* clip, AVS_ScriptEnvironment* env, const char* filter, const AVS_Value* extra,
                        int count)
{
    AVS_Value args[4];
    if (count > 3)
        diag_print(DIAG_ERROR, "too many arguments for %s.\n", filter);
    avs.avs_set_to_clip(&args[0], clip);
    avs.avs_release_clip(clip);
    for (int i = 0; i < count; ++i)
        args[i + 1] = extra[i];
    AVS_Value result = avs.avs_invoke(env, filter, argument_array(args, count + 1), nullptr);
    // The array and the extra arguments are the tool's own and are not
    // released; the clip value came from the frame server.
    avs.avs_release_value(args[0]);
    return result;
}

AVS_Clip* take_filtered_clip(AVS_Value result, AVS_ScriptEnvironment* env, const char* failure)
{
    if (result.type != AVS_TAG_CLIP) {
        warn_error_value(result);
        diag_print(DIAG_ERROR, "%s", failure);
    }
    AVS_Clip* clip = avs.avs_take_clip(result, env);
    avs.avs_release_value(result);
    return clip;
}
