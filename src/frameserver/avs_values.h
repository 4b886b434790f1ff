// Values the tool builds itself to pass arguments to the frame server.
#pragma once

#include "frameserver/avs_c.h"

inline AVS_Value string_value(const char* text)
{
    AVS_Value v{};
    v.type = AVS_TAG_STRING;
    v.d.string = text;
    return v;
}

inline AVS_Value int_value(int number)
{
    AVS_Value v{};
    v.type = AVS_TAG_INT;
    v.d.integer = number;
    return v;
}

inline AVS_Value bool_value(bool flag)
{
    AVS_Value v{};
    v.type = AVS_TAG_BOOL;
    v.d.boolean = flag;
    return v;
}

// An argument array over count elements, which must outlive its use. The
// array is the caller's own: it is never handed to avs_release_value.
inline AVS_Value argument_array(const AVS_Value* elements, int count)
{
    AVS_Value v{};
    v.type = AVS_TAG_ARRAY;
    v.array_size = static_cast<short>(count);
    v.d.array = elements;
    return v;
}

inline AVS_Value single_argument(const AVS_Value* element)
{
    return argument_array(element, 1);
}

// When value is a frame-server error, passes its message on as a warning:
// users cannot mend what they never see.
void warn_error_value(const AVS_Value& value);

// Calls filter with the clip and count more arguments. Takes over clip (its
// handle is released); returns the frame server's result, which the caller
// releases after taking what it needs.
AVS_Value invoke_filter(AVS_Clip* clip, AVS_ScriptEnvironment* env, const char* filter, const AVS_Value* extra,
                        int count);

// The clip in a result of the frame server's (the result is released);
// where it holds no clip, passes on the frame server's message as a warning
// and ends the process with failure, a message of the caller's ("cannot
// convert video to yv24.\n").
AVS_Clip* take_filtered_clip(AVS_Value result, AVS_ScriptEnvironment* env, const char* failure);
