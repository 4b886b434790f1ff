// The table of modes: each mode is one row, and the options' checks and
// the run sequence read the table, not the mode's name.
#pragma once

#include "app/options.h"
#include "frameserver/avs_c.h"

// The options that go with some modes only.
enum : unsigned {
    OPT_OUTPUT = 1 << 0,       // -o and a PROGRAM: the stream's sink
    OPT_JSON = 1 << 1,         // --json
    OPT_METER = 1 << 2,        // --log, --ascii
    OPT_FRAME_PROPS = 1 << 3,  // --frame-props
    OPT_TELL_ENCODER = 1 << 4, // --tell-encoder
    OPT_RAW = 1 << 5,          // --raw
    OPT_SAMPLE_FORMAT = 1 << 6, // --sample-format
};

// What a handler is given: the command line, and the clip it may replace
// with a converted one (the old one is then released).
struct mode_call {
    const command_line& line;
    AVS_Clip** clip;
    AVS_ScriptEnvironment* env;
};

struct mode_row {
    const char* keyword;
    void (*run)(const mode_call& call);
    unsigned options;       // OPT_ bits it takes
    bool writes_stream;     // to standard output, -o FILE or a PROGRAM
    bool trims;             // -s/-e reach it (x264bd is about the whole clip)
    bool has_fields;        // its output has a field order (audio's has none)
    // Whether frame 0's properties shape the output: always (mkv, the
    // *args lines), or with --depth (and for the properties note, also
    // --timecodes).
    bool follows_frame0, follows_frame0_with_depth;
    // The reader that follows the clip's flags, for the field-order
    // warning, and what else makes it follow the frame; null where the
    // mode reads no flags or must not fetch ahead (meter times every fetch
    // from the first).
    const char* flags_reader;
    const char* flags_remedy;
    // Reports what it measured of a run cut short, marked so (meter).
    bool says_cut_short;
};

// The row of a keyword, or null.
const mode_row* find_mode(const char* keyword);

// Whether frame 0's properties shape what the mode writes for this line.
bool follows_frame0(const command_line& line);

// Where frame 0's _FieldBased and the clip's flags give other field
// orders, one warning names both and what makes the mode follow the frame;
// silent where they agree, the frame says nothing, or the mode follows the
// frame anyway.
void warn_of_field_order_mismatch(const command_line& line, AVS_Clip* clip, AVS_ScriptEnvironment* env);
