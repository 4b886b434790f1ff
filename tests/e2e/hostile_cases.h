// What a hostile script can make of the frame server's answers: frame
// properties of any type and value, absurd rates and durations, no frames
// at all, a clip held in a property, and closed standard streams. Cases
// that both frame servers must pass, run against the one options names.
//
// For each, the tool ends either with a stream that its readers take whole
// and a warning for what it left out, or with status 2, a message and
// nothing on standard output; never with a signal or a line an encoder
// refuses.
#pragma once

#include "harness.h"

// Properties no target can hold: each of mkv and the three encoder lines
// leaves the value out and says so; each line goes through its encoder,
// whose output carries only what was left in.
void check_hostile_properties(const run_options& options);

// Rates and durations: frames shorter than a millisecond keep their own
// timestamps in mkv, times past what a stream can say end with status 2
// before the stream starts.
void check_hostile_timing(const run_options& options);

// A clip without frames, a clip held in a frame property, and the tool
// started with its standard streams closed.
void check_hostile_runs(const run_options& options);

// A frame 0 the frame server cannot deliver (fault: the script line that
// makes it so; message: the server's reason) is an error in every mode
// whose output depends on it; reads_properties: the server has working
// frame-property functions (without them only --json info reads frame 0).
void check_frame0_failures(const run_options& options, const std::string& fault, const std::string& message,
                           bool reads_properties);
