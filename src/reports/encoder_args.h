// The argument lines that tell x264, x265 and SVT-AV1 what the stream that
// "video" writes cannot: its colour description, range, chroma siting,
// aspect ratio, field order and HDR10 metadata, from frame 0 of the clip as
// written (the video plan), in each encoder's own words.
#pragma once

#include <string>
#include <vector>

#include "frameserver/avs_c.h"
#include "frameserver/video_plan.h"

enum encoder_kind { ENCODER_X264, ENCODER_X265, ENCODER_SVTAV1 };

// What the encoder reads: the y4m stream, whose header says the size, rate
// and layout, or the raw planes of --raw, which the line must describe.
enum encoder_input { INPUT_Y4M, INPUT_RAW };

struct encoder_line {
    std::string refusal;             // non-empty: why the encoder cannot take the stream
    std::string args;                // the argument line, names quoted as a command line has them
    std::vector<std::string> argv;   // the same, one argument each
    std::vector<std::string> notes;  // what the line leaves out that frame 0 says, one warning each
};

encoder_line encoder_args_for(encoder_kind encoder, const video_plan& plan, encoder_input input);

// The mastering display as the encoder takes it, in the order G, B, R, WP,
// L(max,min): x264 and x265 in units of 0.00002 (chromaticity) and
// 0.0001 cd/m² (luminance), rounded to the nearest; SVT-AV1 in decimals and
// cd/m².
std::string mastering_display_text(encoder_kind encoder, const mastering_display& display);

// The line for the stream of the plan, with a warning for each note and
// each value frame 0 sets that no encoder can hold; a stream the encoder
// cannot take ends the process with an error.
encoder_line settle_encoder_line(encoder_kind encoder, const video_plan& plan, encoder_input input);

// Prints the line for the stream "video" writes of the plan (no line end).
void suggest_encoder_args(encoder_kind encoder, const video_plan& plan, encoder_input input);

// The encoder a program is, by its file name without a folder or ".exe",
// in any case: x264, x265 or SvtAv1EncApp; false for any other.
bool encoder_of_program(const std::string& program, encoder_kind* encoder);

// --tell-encoder: the line's options, one argument each, to go right after
// the program's name, so that the user's own arguments after them win (x264,
// x265 and SvtAv1EncApp each take the last of a repeated option).
// SvtAv1EncApp warns of each repeat, so an option the user gives it
// (user_args) is left out of the tool's copy.
std::vector<std::string> options_to_tell(encoder_kind encoder, const encoder_line& line,
                                         const std::vector<std::string>& user_args);
