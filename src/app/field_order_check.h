// Source plugins describe a frame's field order in the frame property
// _FieldBased and leave the clip's image_type flags at "frame-based", which
// the modes read. Where the two disagree, one warning says so.
#pragma once

#include "app/options.h"
#include "frameserver/frame_properties.h"

// Warns where frame 0's _FieldBased and the clip's flags give other field
// orders, naming both and what makes the mode follow the frame; silent where
// they agree or the frame says nothing.
void warn_of_field_order_mismatch(const frame_properties& properties, const AVS_VideoInfo& vi, run_mode mode);
