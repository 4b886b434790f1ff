// The command line: clipspout [OPTIONS] MODE SCRIPT [PROGRAM [ARG...]].
// Options come before the mode; "--" ends them. What follows a stream
// mode's script is a program to start and its arguments, as they would
// follow "|". A command line of a mode and a script alone is read exactly as
// it always was.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/version.h"
#include "frameserver/video_plan.h"
#include "writers/format.h"

struct mode_row;

// -a NAME=VALUE: a global string variable set before the script runs.
struct script_argument {
    std::string name;
    std::string value;  // as the frame server gets it (see frameserver_text)
};

constexpr int FRAME_NOT_GIVEN = -1;

// The command line, read once: every name as the platform gives it back
// (UTF-8 on Windows, see command_arguments).
struct command_line {
    const mode_row* mode = nullptr;
    std::string script;
    int depth = DEPTH_DEFAULT;  // --depth (see frameserver/video_plan.h)
    rf64_use rf64 = RF64_NEVER;  // --rf64
    int64_t channel_mask = 0;    // --channel-mask: or CHANNEL_MASK_AUTO (frameserver/channel_mask.h)
    std::string timecodes;       // --timecodes FILE; empty: not given
    int start = FRAME_NOT_GIVEN, end = FRAME_NOT_GIVEN;  // -s, -e: first and last frame, inclusive
    std::vector<script_argument> arguments;
    bool version = false;          // --version: print versions, run nothing
    std::string output;            // -o FILE; empty: not given ("-" is standard output)
    std::vector<std::string> program;  // PROGRAM [ARG...] after the script; empty: none
    std::string frameserver;       // --frameserver: the library's file, or its folder
    bool progress = false;         // --progress: progress lines where standard error is no terminal
    bool tell_encoder = false;     // --tell-encoder: PROGRAM gets the options of its *args line
    bool raw = false;              // --raw: video's planes alone, without the header and FRAME lines
    int sample_format = 0;         // --sample-format: an AVS_SAMPLE_ type to convert the audio to; 0: the clip's own
    bool json = false;             // --json: info and meter report as one JSON object
    bool ascii = false;            // --ascii: meter's picture of speed in ASCII
    std::string log;               // --log FILE: meter's row a frame
    std::string frame_props;       // --frame-props FILE: a JSON line a frame
};

// Reads the arguments. The usage text (status 2), an option error (status
// 2) and --help (status 0) end the process here.
command_line parse_command_line(const std::vector<std::string>& args);

// Ends with an error, before anything is opened, where a file the tool
// would write is the script itself, another output of the same run, or
// (but for -o) the file standard output goes to.
void refuse_outputs_that_overwrite(const command_line& line);

// Once the script is imported: ends with an error where a file the tool
// would write is one the script holds open (a source film), which writing
// would destroy.
void refuse_outputs_the_script_holds(const command_line& line);
