// x264args, x265args and svtav1args: cases that every frame server with
// frame properties must pass, run against the one options names.
#pragma once

#include "harness.h"

// The lines for properties a script sets, after the conversions of
// "video", the refusals and the ranges; the warning "video" gives where
// frame 0 says what y4m cannot carry; the line taken apart by a shell.
void check_encoder_lines(const run_options& options);

// Every code point the tool names, given to the encoder itself: it must
// take the name, and write the code point that Matroska carries for the
// same property (as ffprobe reads both). encoder is "x264", "x265" or
// "svtav1".
void check_encoder_names(const run_options& options, const std::string& encoder);

// The command that encodes a y4m stream on standard input with the line
// (in $ARGS, taken apart by eval) into out.
std::string encode_command(const std::string& encoder, const std::string& out);
