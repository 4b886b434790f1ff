#include "frameserver/avs_values.h"

#include "common/diag.h"

void warn_error_value(const AVS_Value& value)
{
    if (value.type == AVS_TAG_ERROR && value.d.string && value.d.string[0])
        diag_print(DIAG_WARN, "%s\n", one_line(value.d.string).c_str());
}
