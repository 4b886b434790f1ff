#include "app/field_order_check.h"

#include "common/diag.h"

void warn_of_field_order_mismatch(const frame_properties& properties, const AVS_VideoInfo& vi, run_mode mode)
{
    if (properties.field_based == PROPERTY_ABSENT)
        return;
    const field_order frame = field_order_of_property(properties.field_based);
    const field_order flags = clip_field_order(vi);
    if (frame == flags)
        return;
    static const char* const readings[] = {"progressive", "interlaced, top field first",
                                           "interlaced, bottom field first"};
    static const char* const script_fixes[] = {"AssumeFrameBased()", "AssumeFieldBased().AssumeTFF()",
                                               "AssumeFieldBased().AssumeBFF()"};
    const char* reader = mode == MODE_VIDEO ? "the stream" : mode == MODE_INFO ? "info" : "x264bd";
    const char* remedy = mode == MODE_VIDEO ? "--depth writes the frame's field order, or " : "";
    diag_print(DIAG_WARN,
               "frame 0 is %s (_FieldBased %d), but the clip's flags say %s, and %s follows the flags: %s%s in the "
               "script makes them agree.\n",
               readings[frame], properties.field_based, readings[flags], reader, remedy, script_fixes[frame]);
}
