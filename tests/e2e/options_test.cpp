// Options before the mode: what each command line does, end to end.

#include <gtest/gtest.h>

#include "harness.h"

TEST(Options, EachCommandLine)
{
    std::string script = write_script("options.avs", "BlankClip(length=2, width=16, height=16, pixel_type=\"YV12\")\n");
    std::string dash = write_script("-dash.avs", "BlankClip(length=2, width=16, height=16, pixel_type=\"YV12\")\n");
    const std::string header = "YUV4MPEG2 W16 H16 F24:1 Ip A0:0 C420";
    struct {
        std::vector<std::string> args;
        int status;
        std::string out_start;  // what standard output starts with
        std::string err;        // standard error, or "*" for any
    } cases[] = {
        // Options before the mode, in both spellings, and "--".
        {{"--depth=keep", "video", script}, 0, header + " XCOLORRANGE=LIMITED\n", "*"},
        {{"--depth", "8", "video", script}, 0, header + " XCOLORRANGE=LIMITED\n", "*"},
        {{"--depth=10", "--", "video", script}, 0, "YUV4MPEG2 W16 H16 F24:1 Ip A0:0 C420p10", "*"},
        {{"--", "video", script}, 0, header + "\n", "*"},
        {{"--depth=keep", "info", script}, 0, "v:width       16", ""},  // other modes ignore it
        // Unknown options and bad values name what is wrong; nothing is written.
        {{"--deep=10", "video", script}, 2, "",
         "clipspout [error]: unknown option \"--deep=10\" (clipspout --help lists the options).\n"},
        {{"-d", "video", script}, 2, "",
         "clipspout [error]: unknown option \"-d\" (clipspout --help lists the options).\n"},
        {{"--depth=9", "video", script}, 2, "",
         "clipspout [error]: bad value \"9\" for --depth: use keep, 8, 10, 12, 14 or 16.\n"},
        {{"--depth=", "video", script}, 2, "",
         "clipspout [error]: bad value \"\" for --depth: use keep, 8, 10, 12, 14 or 16.\n"},
        {{"--depth"}, 2, "", "clipspout [error]: option --depth needs a value.\n"},
        {{"--rf64=sometimes", "audio", script}, 2, "",
         "clipspout [error]: bad value \"sometimes\" for --rf64: use never, auto or always.\n"},
        {{"--rf64"}, 2, "", "clipspout [error]: option --rf64 needs a value.\n"},
        {{"--channel-mask=5.1", "audio", script}, 2, "",
         "clipspout [error]: bad value \"5.1\" for --channel-mask: use auto, or a speaker mask in decimal or 0x "
         "hex.\n"},
        {{"--channel-mask=0x", "audio", script}, 2, "", "*"},
        {{"--channel-mask=-3", "audio", script}, 2, "", "*"},
        {{"--channel-mask=0x100000000", "audio", script}, 2, "", "*"},
        {{"--channel-mask=0x3g", "audio", script}, 2, "", "*"},
        {{"--channel-mask=0x3F", "--rf64=always", "info", script}, 0, "v:width       16", ""},  // audio only
        // After "--" an argument that starts with "-" is a positional one;
        // options come only before the mode.
        {{"--", "--depth=10", script}, 2, "", USAGE_TEXT},
        {{"video", "--depth=10", script}, 2, "", USAGE_TEXT},
        {{"--depth=10", "video"}, 2, "", USAGE_TEXT},
        // A word after the script is a program to start.
        {{"--depth=10", "video", script, "no-such-program-here"}, 2, "", "*"},
        {{"--depth=10", "Video", script}, 2, "", USAGE_TEXT},
        {{"video", "--", script}, 2, "", USAGE_TEXT},
        // The usage errors of a command line without options are as they were.
        {{"x264", script}, 2, "", USAGE_TEXT},
        {{"Audio", script}, 2, "", USAGE_TEXT},
        {{"", script}, 2, "", USAGE_TEXT},
        {{"info"}, 2, "", USAGE_TEXT},
        {{"info", script, "extra"}, 2, "", USAGE_TEXT},
        {{}, 2, "", USAGE_TEXT},
        {{"info", dash}, 0, "v:width       16", ""},
        // --help and --version answer on standard output.
        {{"--help"}, 0, USAGE_TEXT + std::string("More modes:\n   mkv    - output video and audio as one matroska"),
         ""},
        {{"--depth=10", "--help", "video"}, 0, USAGE_TEXT, ""},
        {{"--version"}, 0, "clipspout " CLIPSPOUT_TEST_VERSION "\nframe server: clipspout's stand-in frame server\ninterface version: 11\n", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        run_result r = run_tool(c.args);
        EXPECT_EQ(r.status, c.status) << r.err;
        std::string out = lf_text(r.out);
        EXPECT_EQ(out.substr(0, c.out_start.size()), c.out_start);
        if (c.out_start.empty()) {
            EXPECT_EQ(out, "");
        }
        if (c.err != "*") {
            EXPECT_EQ(r.err, c.err);
        }
    }

    run_options absent;
    absent.frameserver = NO_FRAMESERVER;
    run_result r = run_tool({"--version"}, absent);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(lf_text(r.out), "clipspout " CLIPSPOUT_TEST_VERSION "\n");
    EXPECT_EQ(r.err.rfind("clipspout [warn]: no frame server to report: cannot load " + frameserver_library(), 0), 0u)
        << r.err;
}
