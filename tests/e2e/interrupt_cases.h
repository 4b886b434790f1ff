// Signals at every moment of a run (native builds): before the stream,
// during a report, mid-stream, against a reader that never reads, and in
// meter; on either frame server.
#pragma once

#include <string>

#include "harness.h"

// pause: a script line that makes the import slow and says so on standard
// error with mark (the stand-in's StandinPause, the fault plugin's
// ClipspoutPause on AviSynth+).
void check_signals_at_every_moment(const run_options& options, const std::string& pause, const std::string& mark);
