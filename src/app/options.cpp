#include "app/options.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "common/diag.h"

static const char usage_lines[] =
    "clipspout for AviSynth 2.6.0 Alpha 2\n"
    "Usage: clipspout [audio|video|info|x264] input.avs\n"
    "   audio  - output wav extensible format audio to stdout.\n"
    "   video  - output yuv4mpeg2 format video to stdout.\n"
    "   info   - output information about aviscript clip.\n"
    "   x264bd - suggest x264 arguments for bluray disc encoding.\n";

static const char options_section[] =
    "Options, before the mode (clipspout [OPTIONS] MODE SCRIPT):\n"
    "   --depth=keep|8|10|12|14|16\n"
    "          video: keep the clip's chroma layout and write keep: its own depth\n"
    "          (32-bit float as 16), or the depth given; without it every clip\n"
    "          becomes 8-bit (4:4:4, 4:2:2, 4:1:1, 4:2:0 or mono)\n"
    "   --help     this text\n"
    "   --version  the versions of clipspout and of the frame server\n"
    "   --         ends the options\n";

[[noreturn]] static void print_usage()
{
    fputs(usage_lines, stderr);
    exit(2);
}

static run_mode parse_mode(const char* keyword)
{
    static const char* const keywords[] = {"audio", "video", "info", "x264bd"};
    for (int mode = MODE_AUDIO; mode < MODE_USAGE; ++mode)
        if (strcmp(keyword, keywords[mode]) == 0)
            return static_cast<run_mode>(mode);
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

// An option that takes a value: "--name=value" or "--name value". Returns
// the value when argv[*i] is that option, advancing *i past a separate
// value; null when it is another option.
static const char* option_value(int argc, char** argv, int* i, const char* name)
{
    size_t length = strlen(name);
    const char* arg = argv[*i];
    if (strncmp(arg, name, length) != 0)
        return nullptr;
    if (arg[length] == '=')
        return arg + length + 1;
    if (arg[length] != '\0')
        return nullptr;
    if (*i + 1 >= argc)
        diag_print(DIAG_ERROR, "option %s needs a value.\n", name);
    return argv[++*i];
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
            fputs(options_section, stdout);
            exit(fflush(stdout) == 0 ? 0 : 2);
        }
        if (strcmp(arg, "--version") == 0) {
            line.version = true;
            continue;
        }
        if (const char* value = option_value(argc, argv, &i, "--depth")) {
            line.depth = parse_depth(value);
            continue;
        }
        diag_print(DIAG_ERROR, "unknown option \"%s\" (clipspout --help lists the options).\n", arg);
    }
    if (line.version)
        return line;
    if (argc - i != 2)
        print_usage();
    line.mode = parse_mode(argv[i]);
    if (line.mode == MODE_USAGE)
        print_usage();
    line.script_index = i + 1;
    return line;
}
