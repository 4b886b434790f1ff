// The command line: clipspout [OPTIONS] MODE SCRIPT [PROGRAM [ARG...]].
// Options come before the mode; "--" ends them. What follows a stream
// mode's script is a program to start and its arguments, as they would
// follow "|". A command line of a mode and a script alone is read exactly as
// it always was.
#pragma once

#include <string>
#include <vector>

#include "common/version.h"
#include "frameserver/video_plan.h"
#include "writers/audio_stream.h"
#include "writers/video_stream.h"

enum run_mode {
    MODE_AUDIO = 0,
    MODE_VIDEO = 1,
    MODE_INFO = 2,
    MODE_X264BD = 3,
    MODE_USAGE = 4,
    MODE_MKV = 5,
    MODE_X264ARGS = 6,
    MODE_X265ARGS = 7,
    MODE_SVTAV1ARGS = 8,
    MODE_METER = 9,
};

// -a NAME=VALUE: a global string variable set before the script runs.
struct script_argument {
    std::string name;
    std::string value;  // as the frame server gets it (see read_argument_text)
};

constexpr int FRAME_NOT_GIVEN = -1;

struct command_line {
    run_mode mode = MODE_USAGE;
    int script_index = 0;  // argv index of the script path
    int depth = DEPTH_DEFAULT;  // --depth (see frameserver/video_plan.h)
    audio_options audio;        // --rf64, --channel-mask (see audio_stream.h)
    int timecodes_index = 0;    // --timecodes: argv index of the file name, 0 if not given,
    size_t timecodes_skip = 0;  // and where in that argument it starts
    int start = FRAME_NOT_GIVEN, end = FRAME_NOT_GIVEN;  // -s, -e: first and last frame, inclusive
    std::vector<script_argument> arguments;
    bool version = false;  // --version: print versions, run nothing
    int output_index = 0;      // -o FILE: argv index of the file name, 0 if not given,
    size_t output_skip = 0;    // and where in that argument it starts
    int program_index = 0;     // PROGRAM [ARG...] after the script: argv index of PROGRAM, 0 if none
    bool tell_encoder = false; // --tell-encoder: PROGRAM gets the options of its *args line
    bool json = false;         // --json: info and meter report as one JSON object
    bool ascii = false;        // --ascii: meter's picture of speed in ASCII
    int log_index = 0;         // --log FILE: meter's row a frame; argv index, 0 if not given,
    size_t log_skip = 0;       // and where in that argument it starts
    int frame_props_index = 0; // --frame-props FILE: a JSON line a frame; likewise
    size_t frame_props_skip = 0;
};

// Whether the mode writes a stream (to standard output, -o FILE or a
// PROGRAM).
bool writes_stream(run_mode mode);

// Reads the arguments. The usage text (status 2), an option error (status
// 2) and --help (status 0) end the process here.
command_line parse_command_line(int argc, char** argv);

// Ends with an error, before anything is opened, where a file the tool
// would write is the script itself, another output of the same run, or
// (but for -o) the file standard output goes to.
void refuse_outputs_that_overwrite(const command_line& line, char** argv);
