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

// A one-element argument array; element must outlive the array's use.
inline AVS_Value single_argument(const AVS_Value* element)
{
    AVS_Value v{};
    v.type = AVS_TAG_ARRAY;
    v.array_size = 1;
    v.d.array = element;
    return v;
}

// When value is a frame-server error, passes its message on as a warning:
// users cannot mend what they never see.
void warn_error_value(const AVS_Value& value);
