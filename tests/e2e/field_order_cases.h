// Frame 0's _FieldBased against the clip's flags: cases that every frame
// server with frame properties must pass, run against the one options names.
#pragma once

#include "harness.h"

void check_field_order_properties(const run_options& options);
