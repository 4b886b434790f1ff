// --timecodes and the chroma siting under --depth: cases every frame server
// with frame properties must pass, run against the one options names.
#pragma once

#include "harness.h"

void check_timecodes(const run_options& options);
void check_chroma_siting(const run_options& options);
