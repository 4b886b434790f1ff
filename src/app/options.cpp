#include "app/options.h"

#include <cstddef>

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/modes.h"
#include "common/diag.h"
#include "common/platform.h"
#include "frameserver/channel_mask.h"
#include "reports/encoder_args.h"

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
    "   --sample-format=16|24|32|float\n"
    "                     audio, mkv, meter, info: the sound in these samples,\n"
    "                     converted by the frame server (flac takes integers)\n"
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
    "   --raw             video: the planes alone, without the stream header and\n"
    "                     the FRAME lines; the *args lines and --tell-encoder\n"
    "                     then also give the size, rate, layout and depth\n"
    "   --progress        video, audio, mkv, meter: where standard error is no\n"
    "                     terminal, progress too, a line each, two a second\n"
    "   --frameserver=PATH\n"
    "                     the frame-server library to load: its file, or a\n"
    "                     folder that holds it; no other is searched for\n"
    "   --help            this text\n"
    "   --version         the versions of clipspout and of the frame server\n"
    "   --                ends the options\n";

[[noreturn]] static void print_usage()
{
    fputs(usage_lines, stderr);
    exit(2);
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

static int parse_sample_format(const char* value)
{
    static const struct {
        const char* name;
        int type;
    } formats[] = {{"16", AVS_SAMPLE_INT16}, {"24", AVS_SAMPLE_INT24}, {"32", AVS_SAMPLE_INT32},
                   {"float", AVS_SAMPLE_FLOAT}};
    for (const auto& f : formats)
        if (strcmp(value, f.name) == 0)
            return f.type;
    diag_print(DIAG_ERROR, "bad value \"%s\" for --sample-format: use 16, 24, 32 or float.\n", value);
    return 0;  // not reached
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

static script_argument parse_script_argument(const std::string& value)
{
    const char* text = value.c_str();
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
    argument.value = frameserver_text(equals + 1);
    return argument;
}

// An option that takes a value: "--name=value" or "--name value", or for a
// short name "-n value". Puts the value in *value, advancing *i past a
// separate one; false where args[*i] is another option.
static bool option_value(const std::vector<std::string>& args, size_t* i, const char* name, const char* short_name,
                         std::string* value)
{
    const std::string& arg = args[*i];
    const size_t length = strlen(name);
    const bool separate = short_name && arg == short_name;
    if (!separate && arg.compare(0, length, name) == 0 && arg.size() > length && arg[length] == '=') {
        *value = arg.substr(length + 1);
        return true;
    }
    if (!separate && arg != name)
        return false;
    if (*i + 1 >= args.size())
        diag_print(DIAG_ERROR, "option %s needs a value.\n", arg.c_str());
    *value = args[++*i];
    return true;
}

// An option that names a file; an empty name is an error.
static bool file_option(const std::vector<std::string>& args, size_t* i, const char* name, const char* short_name,
                        std::string* path)
{
    if (!option_value(args, i, name, short_name, path))
        return false;
    if (path->empty())
        diag_print(DIAG_ERROR, "option %s needs a file name.\n", name);
    return true;
}

// Each option that goes with some modes only, and the modes it goes with:
// -o, a PROGRAM and --tell-encoder give one place for the stream, and the
// encoder is told only what its *args line says of a y4m stream.
static void check_what_goes_with_the_mode(const command_line& line)
{
    const unsigned takes = line.mode->options;
    if (!line.output.empty() && !(takes & OPT_OUTPUT))
        diag_print(DIAG_ERROR, "-o writes a stream: it goes with video, audio or mkv.\n");
    if (!line.output.empty() && !line.program.empty())
        diag_print(DIAG_ERROR, "-o and a program to start both say where the stream goes: give one.\n");
    if (line.json && !(takes & OPT_JSON))
        diag_print(DIAG_ERROR, "--json goes with info or meter.\n");
    if ((!line.log.empty() || line.ascii) && !(takes & OPT_METER))
        diag_print(DIAG_ERROR, "%s goes with meter.\n", !line.log.empty() ? "--log" : "--ascii");
    if (!line.frame_props.empty() && !(takes & OPT_FRAME_PROPS))
        diag_print(DIAG_ERROR, "--frame-props goes with video, mkv or meter.\n");
    if (line.sample_format && !(takes & OPT_SAMPLE_FORMAT))
        diag_print(DIAG_ERROR, "--sample-format goes with audio, mkv, meter or info.\n");
    if (line.raw && !(takes & OPT_RAW))
        diag_print(DIAG_ERROR, "--raw goes with video, x264args, x265args or svtav1args.\n");
    if (!line.tell_encoder)
        return;
    encoder_kind encoder;
    if (!(takes & OPT_TELL_ENCODER) || line.program.empty() || !encoder_of_program(line.program[0], &encoder))
        diag_print(DIAG_ERROR, "--tell-encoder goes with video and a program named x264, x265 or SvtAv1EncApp "
                               "(mkv carries the same to ffmpeg by itself).\n");
}

command_line parse_command_line(const std::vector<std::string>& args)
{
    command_line line;
    size_t i = 1;
    for (; i < args.size() && args[i][0] == '-'; ++i) {
        const std::string& arg = args[i];
        if (arg == "--") {
            ++i;
            break;
        }
        if (arg == "--help") {
            fputs(usage_lines, stream_out());
            fputs(more_modes_section, stream_out());
            fputs(options_section, stream_out());
            exit(fflush(stream_out()) == 0 ? 0 : 2);
        }
        if (arg == "--version") {
            line.version = true;
            continue;
        }
        std::string value;
        if (option_value(args, &i, "--depth", nullptr, &value)) {
            line.depth = parse_depth(value.c_str());
            continue;
        }
        if (file_option(args, &i, "--timecodes", nullptr, &line.timecodes))
            continue;
        if (option_value(args, &i, "--rf64", nullptr, &value)) {
            line.rf64 = parse_rf64(value.c_str());
            continue;
        }
        if (option_value(args, &i, "--sample-format", nullptr, &value)) {
            line.sample_format = parse_sample_format(value.c_str());
            continue;
        }
        if (option_value(args, &i, "--channel-mask", nullptr, &value)) {
            line.channel_mask = parse_channel_mask(value.c_str());
            continue;
        }
        if (option_value(args, &i, "--start", "-s", &value)) {
            line.start = parse_frame("--start", value.c_str());
            continue;
        }
        if (option_value(args, &i, "--end", "-e", &value)) {
            line.end = parse_frame("--end", value.c_str());
            continue;
        }
        if (option_value(args, &i, "--arg", "-a", &value)) {
            line.arguments.push_back(parse_script_argument(value));
            continue;
        }
        if (file_option(args, &i, "--output", "-o", &line.output))
            continue;
        if (arg == "--tell-encoder" || arg == "--progress" || arg == "--raw") {
            (arg == "--progress" ? line.progress : arg == "--raw" ? line.raw : line.tell_encoder) = true;
            continue;
        }
        if (arg == "--json" || arg == "--ascii") {
            (arg[2] == 'j' ? line.json : line.ascii) = true;
            continue;
        }
        if (file_option(args, &i, "--frameserver", nullptr, &line.frameserver))
            continue;
        if (file_option(args, &i, "--log", nullptr, &line.log) ||
            file_option(args, &i, "--frame-props", nullptr, &line.frame_props))
            continue;
        diag_print(DIAG_ERROR, "unknown option \"%s\" (clipspout --help lists the options).\n", arg.c_str());
    }
    if (line.version)
        return line;
    if (args.size() - i < 2)
        print_usage();
    line.mode = find_mode(args[i].c_str());
    // A report has no stream to hand on: a third word stays what it always
    // was, a usage error. So does an option after the mode, which would
    // otherwise be read as the script's name (./-name.avs names such a
    // script).
    if (!line.mode || (args.size() - i > 2 && (!line.mode->writes_stream || args[i + 1][0] == '-')))
        print_usage();
    line.script = args[i + 1];
    line.program.assign(args.begin() + static_cast<std::ptrdiff_t>(i) + 2, args.end());
    check_what_goes_with_the_mode(line);
    return line;
}

// A file the tool writes must be neither the script (a slip such as
// --timecodes film.avs would empty it before the frame server reads it)
// nor another file of the same run or the file standard output goes to,
// whose bytes would interleave with it.
namespace {

struct named_file {
    const char* option;
    const std::string& path;
};

std::vector<named_file> files_written(const command_line& line)
{
    std::vector<named_file> outputs;
    if (!line.output.empty() && line.output != "-" && !is_named_pipe_name(line.output))
        outputs.push_back({"-o", line.output});
    if (!line.timecodes.empty())
        outputs.push_back({"--timecodes", line.timecodes});
    if (!line.frame_props.empty())
        outputs.push_back({"--frame-props", line.frame_props});
    if (!line.log.empty())
        outputs.push_back({"--log", line.log});
    return outputs;
}

}  // namespace

void refuse_outputs_the_script_holds(const command_line& line)
{
    for (const named_file& output : files_written(line)) {
        // -o onto the file standard output goes to is standard output's
        // own place (and on Windows that handle holds it).
        if (strcmp(output.option, "-o") == 0 && is_standard_output_file(output.path))
            continue;
        if (file_held_open(output.path))
            diag_print(DIAG_ERROR,
                       "%s names \"%s\", a file that is open as the script runs (a source it reads): writing would "
                       "destroy it.\n",
                       output.option, output.path.c_str());
    }
}

void refuse_outputs_that_overwrite(const command_line& line)
{
    const std::vector<named_file> outputs = files_written(line);
    for (size_t i = 0; i < outputs.size(); ++i) {
        const named_file& output = outputs[i];
        if (same_file(output.path, line.script))
            diag_print(DIAG_ERROR, "%s names the script \"%s\" itself: writing would destroy it.\n", output.option,
                       output.path.c_str());
        // (-o takes standard output's place: the same file there is no clash.)
        if (strcmp(output.option, "-o") != 0 && is_standard_output_file(output.path))
            diag_print(DIAG_ERROR, "%s names \"%s\", where standard output goes: give each its own.\n",
                       output.option, output.path.c_str());
        for (size_t j = 0; j < i; ++j)
            if (same_file(output.path, outputs[j].path))
                diag_print(DIAG_ERROR, "%s and %s name the same file \"%s\": give each its own.\n",
                           outputs[j].option, output.option, output.path.c_str());
    }
}
