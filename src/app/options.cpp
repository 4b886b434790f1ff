#include "app/options.h"

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "common/diag.h"
#include "common/platform.h"
#include "reports/encoder_args.h"
#include "writers/channel_mask.h"

static const char usage_lines[] =
    "clipspout for AviSynth 2.6.0 Alpha 2\n"
    "Usage: clipspout [audio|video|info|x264] input.avs\n"
    "   audio  - output wav extensible format audio to stdout.\n"
    "   video  - output yuv4mpeg2 format video to stdout.\n"
    "   info   - output information about aviscript clip.\n"
    "   x264bd - suggest x264 arguments for bluray disc encoding.\n";

static const char more_modes_section[] =
    "More modes:\n"
    "   mkv    - output video and audio as one matroska stream to stdout,\n"
    "            with the clip's colour, hdr metadata, timing, field order\n"
    "            and aspect ratio.\n"
    "   x264args, x265args, svtav1args\n"
    "          - print the encoder's options for what the video stream\n"
    "            cannot say: depth, colour, range, chroma siting, aspect\n"
    "            ratio, field order, hdr10 metadata.\n"
    "   meter  - fetch every frame as the script gives it, write nothing, and\n"
    "            report the script's speed, memory and cpu.\n";

static const char options_section[] =
    "A program after the script of video, audio or mkv is started with its\n"
    "arguments and reads the stream on its standard input, as after \"|\" in\n"
    "a shell, in any shell: clipspout [OPTIONS] MODE SCRIPT [PROGRAM [ARG...]]\n"
    "(clipspout video film.avs x264 --demuxer y4m -o film.264 -).\n"
    "\n"
    "Options, before the mode (clipspout [OPTIONS] MODE SCRIPT):\n"
    "   -s N, --start=N   the first frame (from 0); the range reaches every\n"
    "                     mode but x264bd through the frame server's Trim\n"
    "   -e N, --end=N     the last frame, included\n"
    "   -a NAME=VALUE, --arg NAME=VALUE\n"
    "                     sets the script's global string variable NAME\n"
    "                     (repeatable; VarExist(\"NAME\") tells it was given)\n"
    "   --depth=keep|8|10|12|14|16\n"
    "                     video, mkv, *args: keep the clip's chroma layout,\n"
    "                     at its own depth (keep; 32-bit float as 16) or the\n"
    "                     one given;\n"
    "                     without it every clip becomes 8-bit 4:4:4, 4:2:2,\n"
    "                     4:1:1, 4:2:0 or mono (mkv: RGB stays RGB, alpha\n"
    "                     stays)\n"
    "   --timecodes FILE, --timecodes=FILE\n"
    "                     video: writes each frame's start time (timestamp\n"
    "                     format v2) to FILE, from its own duration where the\n"
    "                     source gives one (variable frame rate), for\n"
    "                     mkvmerge --timestamps 0:FILE\n"
    "   --rf64=never|auto|always\n"
    "                     audio: the RF64 header, whose 64-bit sizes carry a\n"
    "                     stream past 4 GiB (a film in 5.1 at 24 bits): auto\n"
    "                     where the plain header's sizes would not fit;\n"
    "                     never (the default) keeps the plain header\n"
    "   --channel-mask=auto|NUMBER\n"
    "                     audio: the speaker positions in the header (default\n"
    "                     0, none): auto takes the frame server's own mask, or\n"
    "                     the usual layout for the channel count (6: 5.1,\n"
    "                     0x3F); a NUMBER (decimal or 0x hex) names one speaker\n"
    "                     a channel\n"
    "   --json            info, meter: the report as one JSON object\n"
    "   --frame-props FILE\n"
    "                     video, mkv, meter: each frame's properties, one JSON\n"
    "                     line a frame, to FILE\n"
    "   --log FILE        meter: one CSV row a frame (frame, start in seconds,\n"
    "                     milliseconds to deliver, resident memory in MB)\n"
    "   --ascii           meter: the picture of speed in ASCII, not blocks\n"
    "   -o FILE, --output=FILE\n"
    "                     video, audio, mkv: the stream goes to FILE (created\n"
    "                     or emptied; - is standard output); on Windows\n"
    "                     \\\\.\\pipe\\NAME serves a named pipe to one reader\n"
    "   --tell-encoder    video with a PROGRAM x264, x265 or SvtAv1EncApp:\n"
    "                     gives it the options of its *args line first; the\n"
    "                     program's own arguments after them win\n"
    "   --help            this text\n"
    "   --version         the versions of clipspout and of the frame server\n"
    "   --                ends the options\n";

[[noreturn]] static void print_usage()
{
    fputs(usage_lines, stderr);
    exit(2);
}

static run_mode parse_mode(const char* keyword)
{
    static const struct {
        const char* keyword;
        run_mode mode;
    } modes[] = {{"audio", MODE_AUDIO}, {"video", MODE_VIDEO}, {"info", MODE_INFO}, {"x264bd", MODE_X264BD},
                 {"mkv", MODE_MKV}, {"x264args", MODE_X264ARGS}, {"x265args", MODE_X265ARGS},
                 {"svtav1args", MODE_SVTAV1ARGS}, {"meter", MODE_METER}};
    for (const auto& m : modes)
        if (strcmp(keyword, m.keyword) == 0)
            return m.mode;
    return MODE_USAGE;
}

static int parse_depth(const char* value)
{
    if (strcmp(value, "keep") == 0)
        return DEPTH_KEEP;
    for (int bits : {8, 10, 12, 14, 16})
        if (strcmp(value, std::to_string(bits).c_str()) == 0)
            return bits;
    diag_print(DIAG_ERROR, "bad value \"%s\" for --depth: use keep, 8, 10, 12, 14 or 16.\n", value);
    return DEPTH_DEFAULT;  // not reached
}

static rf64_use parse_rf64(const char* value)
{
    static const char* const names[] = {"never", "auto", "always"};
    for (int use = RF64_NEVER; use <= RF64_ALWAYS; ++use)
        if (strcmp(value, names[use]) == 0)
            return static_cast<rf64_use>(use);
    diag_print(DIAG_ERROR, "bad value \"%s\" for --rf64: use never, auto or always.\n", value);
    return RF64_NEVER;  // not reached
}

static int64_t parse_channel_mask(const char* value)
{
    if (strcmp(value, "auto") == 0)
        return CHANNEL_MASK_AUTO;
    const bool hex = value[0] == '0' && (value[1] == 'x' || value[1] == 'X');
    const char* digits = hex ? value + 2 : value;
    char* end = nullptr;
    unsigned long long mask = strtoull(digits, &end, hex ? 16 : 10);
    if (!isxdigit(static_cast<unsigned char>(digits[0])) || *end != '\0' || mask > UINT32_MAX)
        diag_print(DIAG_ERROR,
                   "bad value \"%s\" for --channel-mask: use auto, or a speaker mask in decimal or 0x hex.\n",
                   value);
    return static_cast<int64_t>(mask);
}

static int parse_frame(const char* option, const char* value)
{
    char* end = nullptr;
    long long frame = strtoll(value, &end, 10);
    if (value[0] < '0' || value[0] > '9' || *end != '\0' || frame > INT32_MAX)
        diag_print(DIAG_ERROR, "bad value \"%s\" for %s: a frame number, 0 or more.\n", value, option);
    return static_cast<int>(frame);
}

static bool is_identifier(const std::string& name)
{
    if (name.empty() || !(isalpha(static_cast<unsigned char>(name[0])) || name[0] == '_'))
        return false;
    for (char c : name)
        if (!(isalnum(static_cast<unsigned char>(c)) || c == '_'))
            return false;
    return true;
}

static script_argument parse_script_argument(char** argv, int index, size_t skip)
{
    const char* text = argv[index] + skip;
    const char* equals = strchr(text, '=');
    if (!equals)
        diag_print(DIAG_ERROR, "bad value \"%s\" for --arg: use NAME=VALUE.\n", text);
    script_argument argument;
    argument.name.assign(text, equals);
    if (!is_identifier(argument.name))
        diag_print(DIAG_ERROR,
                   "bad name \"%s\" for --arg: a script variable's name is a letter or \"_\", then letters, "
                   "digits or \"_\".\n",
                   argument.name.c_str());
    // The name is ASCII; the value is passed as it was typed.
    argument.value = read_argument_text(argv, index, skip + argument.name.size() + 1);
    return argument;
}

// An option that takes a value: "--name=value" or "--name value", or for a
// short name "-n value". Returns the argv index of the value and, in *skip,
// where in that argument the value starts, advancing *i past a separate
// value; 0 when argv[*i] is another option.
static int option_value(int argc, char** argv, int* i, const char* name, const char* short_name, size_t* skip)
{
    const char* arg = argv[*i];
    size_t length = strlen(name);
    bool separate = short_name && strcmp(arg, short_name) == 0;
    if (!separate && strncmp(arg, name, length) == 0 && arg[length] == '=') {
        *skip = length + 1;
        return *i;
    }
    if (!separate && strcmp(arg, name) != 0)
        return 0;
    if (*i + 1 >= argc)
        diag_print(DIAG_ERROR, "option %s needs a value.\n", arg);
    *skip = 0;
    return ++*i;
}

// An option that names a file: the argv index of the name and where in
// that argument it starts; an empty name is an error.
static bool file_option(int argc, char** argv, int* i, const char* name, const char* short_name, int* index,
                        size_t* skip)
{
    size_t at_skip = 0;
    const int at = option_value(argc, argv, i, name, short_name, &at_skip);
    if (!at)
        return false;
    if (argv[at][at_skip] == '\0')
        diag_print(DIAG_ERROR, "option %s needs a file name.\n", name);
    *index = at;
    *skip = at_skip;
    return true;
}

// -o, a PROGRAM and --tell-encoder: one place for the stream, and the
// encoder told only what its *args line says of a y4m stream.
static void check_where_the_stream_goes(const command_line& line, char** argv)
{
    if (line.output_index && !writes_stream(line.mode))
        diag_print(DIAG_ERROR, "-o writes a stream: it goes with video, audio or mkv.\n");
    if (line.output_index && line.program_index)
        diag_print(DIAG_ERROR, "-o and a program to start both say where the stream goes: give one.\n");
    if (line.json && line.mode != MODE_INFO && line.mode != MODE_METER)
        diag_print(DIAG_ERROR, "--json goes with info or meter.\n");
    if ((line.log_index || line.ascii) && line.mode != MODE_METER)
        diag_print(DIAG_ERROR, "%s goes with meter.\n", line.log_index ? "--log" : "--ascii");
    if (line.frame_props_index && line.mode != MODE_VIDEO && line.mode != MODE_MKV && line.mode != MODE_METER)
        diag_print(DIAG_ERROR, "--frame-props goes with video, mkv or meter.\n");
    if (!line.tell_encoder)
        return;
    encoder_kind encoder;
    if (line.mode != MODE_VIDEO || !line.program_index || !encoder_of_program(argv[line.program_index], &encoder))
        diag_print(DIAG_ERROR, "--tell-encoder goes with video and a program named x264, x265 or SvtAv1EncApp "
                               "(mkv carries the same to ffmpeg by itself).\n");
}

command_line parse_command_line(int argc, char** argv)
{
    command_line line;
    int i = 1;
    for (; i < argc && argv[i][0] == '-'; ++i) {
        const char* arg = argv[i];
        if (strcmp(arg, "--") == 0) {
            ++i;
            break;
        }
        if (strcmp(arg, "--help") == 0) {
            fputs(usage_lines, stdout);
            fputs(more_modes_section, stdout);
            fputs(options_section, stdout);
            exit(fflush(stdout) == 0 ? 0 : 2);
        }
        if (strcmp(arg, "--version") == 0) {
            line.version = true;
            continue;
        }
        size_t skip = 0;
        if (int at = option_value(argc, argv, &i, "--depth", nullptr, &skip)) {
            line.depth = parse_depth(argv[at] + skip);
            continue;
        }
        if (file_option(argc, argv, &i, "--timecodes", nullptr, &line.timecodes_index, &line.timecodes_skip))
            continue;
        if (int at = option_value(argc, argv, &i, "--rf64", nullptr, &skip)) {
            line.audio.rf64 = parse_rf64(argv[at] + skip);
            continue;
        }
        if (int at = option_value(argc, argv, &i, "--channel-mask", nullptr, &skip)) {
            line.audio.channel_mask = parse_channel_mask(argv[at] + skip);
            continue;
        }
        if (int at = option_value(argc, argv, &i, "--start", "-s", &skip)) {
            line.start = parse_frame("--start", argv[at] + skip);
            continue;
        }
        if (int at = option_value(argc, argv, &i, "--end", "-e", &skip)) {
            line.end = parse_frame("--end", argv[at] + skip);
            continue;
        }
        if (int at = option_value(argc, argv, &i, "--arg", "-a", &skip)) {
            line.arguments.push_back(parse_script_argument(argv, at, skip));
            continue;
        }
        if (file_option(argc, argv, &i, "--output", "-o", &line.output_index, &line.output_skip))
            continue;
        if (strcmp(arg, "--tell-encoder") == 0) {
            line.tell_encoder = true;
            continue;
        }
        if (strcmp(arg, "--json") == 0 || strcmp(arg, "--ascii") == 0) {
            (arg[2] == 'j' ? line.json : line.ascii) = true;
            continue;
        }
        if (file_option(argc, argv, &i, "--log", nullptr, &line.log_index, &line.log_skip) ||
            file_option(argc, argv, &i, "--frame-props", nullptr, &line.frame_props_index, &line.frame_props_skip))
            continue;
        diag_print(DIAG_ERROR, "unknown option \"%s\" (clipspout --help lists the options).\n", arg);
    }
    if (line.version)
        return line;
    if (argc - i < 2)
        print_usage();
    line.mode = parse_mode(argv[i]);
    // A report has no stream to hand on: a third word stays what it always
    // was, a usage error. So does an option after the mode, which would
    // otherwise be read as the script's name (./-name.avs names such a
    // script).
    if (line.mode == MODE_USAGE || (argc - i > 2 && (!writes_stream(line.mode) || argv[i + 1][0] == '-')))
        print_usage();
    line.script_index = i + 1;
    if (argc - i > 2)
        line.program_index = i + 2;
    check_where_the_stream_goes(line, argv);
    return line;
}

bool writes_stream(run_mode mode)
{
    return mode == MODE_VIDEO || mode == MODE_AUDIO || mode == MODE_MKV;
}

// A file the tool writes must be neither the script (a slip such as
// --timecodes film.avs would empty it before the frame server reads it)
// nor another file of the same run or the file standard output goes to,
// whose bytes would interleave with it.
void refuse_outputs_that_overwrite(const command_line& line, char** argv)
{
    struct named_file {
        const char* option;
        int index;
        size_t skip;
    };
    std::vector<named_file> outputs;
    if (line.output_index) {
        const std::string name = argv[line.output_index] + line.output_skip;
        if (name != "-" && !is_named_pipe_name(name))
            outputs.push_back({"-o", line.output_index, line.output_skip});
    }
    if (line.timecodes_index)
        outputs.push_back({"--timecodes", line.timecodes_index, line.timecodes_skip});
    if (line.frame_props_index)
        outputs.push_back({"--frame-props", line.frame_props_index, line.frame_props_skip});
    if (line.log_index)
        outputs.push_back({"--log", line.log_index, line.log_skip});
    for (size_t i = 0; i < outputs.size(); ++i) {
        const named_file& output = outputs[i];
        if (same_file(argv, output.index, output.skip, line.script_index, 0))
            diag_print(DIAG_ERROR, "%s names the script \"%s\" itself: writing would destroy it.\n", output.option,
                       argv[output.index] + output.skip);
        // (-o takes standard output's place: the same file there is no clash.)
        if (strcmp(output.option, "-o") != 0 && is_standard_output_file(argv, output.index, output.skip))
            diag_print(DIAG_ERROR, "%s names \"%s\", where standard output goes: give each its own.\n",
                       output.option, argv[output.index] + output.skip);
        for (size_t j = 0; j < i; ++j)
            if (same_file(argv, output.index, output.skip, outputs[j].index, outputs[j].skip))
                diag_print(DIAG_ERROR, "%s and %s name the same file \"%s\": give each its own.\n",
                           outputs[j].option, output.option, argv[output.index] + output.skip);
    }
}
