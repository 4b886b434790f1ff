// Standard output belongs to the stream: what the frame server and its
// plugins print there, as they load, as the script is imported and in every
// frame, goes to standard error, in every mode and to every sink, and the
// payload stays byte for byte what the same script gives without the
// prints.

#include <gtest/gtest.h>

#include "harness.h"

namespace {

// The stand-in prints at load with AVS_STANDIN_PRINTS, and StandinPrint()
// at import and in every frame and audio request.
constexpr const char* CLIP = "BlankClip(length=4, width=32, height=16, pixel_type=\"YV12\", audio_rate=8000, channels=1)";

enum guard_sink { TO_STDOUT, TO_FILE, TO_PROGRAM };

struct guard_case {
    const char* label;
    std::vector<std::string> options;  // before the mode
    const char* mode;                  // nullptr: no mode, no script
    guard_sink sink;
    bool same_payload;                 // false where the payload holds timings (meter)
    std::vector<const char*> prints;   // when the prints must be seen on standard error
    const char* clip = CLIP;
};

const guard_case GUARD_CASES[] = {
    {"video", {}, "video", TO_STDOUT, true, {"load", "import", "frame 0", "frame 3"}},
    {"audio", {}, "audio", TO_STDOUT, true, {"load", "import", "samples 0"}},
    {"mkv", {}, "mkv", TO_STDOUT, true, {"load", "import", "frame 3"}},
    {"info", {}, "info", TO_STDOUT, true, {"load", "import"}},
    {"info as JSON", {"--json"}, "info", TO_STDOUT, true, {"load", "import"}},
    {"x264 arguments", {}, "x264args", TO_STDOUT, true, {"load", "import"}},
    {"Blu-ray arguments", {}, "x264bd", TO_STDOUT, true, {"load", "import"},
     "BlankClip(length=4, width=1920, height=1080, pixel_type=\"YV12\", fps=24000, fps_denominator=1001)"},
    {"meter", {}, "meter", TO_STDOUT, false, {"load", "import", "frame 3"}},
    {"video into a file", {}, "video", TO_FILE, true, {"load", "import", "frame 3"}},
    {"video into a program", {}, "video", TO_PROGRAM, true, {"load", "import", "frame 3"}},
    {"version", {"--version"}, nullptr, TO_STDOUT, true, {"load"}},
};

// The ways a plugin prints, as the stand-in names them.
std::vector<std::string> print_ways()
{
    std::vector<std::string> ways = {"printf", "cout", "write"};
    if (testing_windows_build())
        ways.push_back("WriteFile");
    return ways;
}

struct payload {
    run_result run;
    std::string bytes;
};

payload run_case(const guard_case& c, bool prints, int round)
{
    std::vector<std::string> args = c.options;
    std::string file;
    if (c.sink == TO_FILE) {
        file = write_script("guard/out" + std::to_string(round) + ".y4m", "");
        args.insert(args.end(), {"-o", server_path(file)});
    }
    run_options options;
    if (prints)
        options.env.push_back("AVS_STANDIN_PRINTS=1");
    if (c.mode) {
        args.push_back(c.mode);
        args.push_back(write_script("guard/clip" + std::to_string(round) + ".avs",
                                    std::string(c.clip) + (prints ? ".StandinPrint()" : "") + "\n"));
    }
    if (c.sink == TO_PROGRAM)
        args.push_back(helper_program("echo_args"));
    payload p;
    p.run = run_tool(args, options);
    p.bytes = c.sink == TO_FILE ? read_file(file) : p.run.out;
    return p;
}

}  // namespace

TEST(StdoutGuard, PrintsGoToStandardErrorAndTheStreamStaysExact)
{
    int round = 0;
    for (const guard_case& c : GUARD_CASES) {
        SCOPED_TRACE(c.label);
        const payload clean = run_case(c, false, round++);
        const payload printed = run_case(c, true, round++);
        ASSERT_EQ(clean.run.status, 0) << clean.run.err;
        ASSERT_EQ(printed.run.status, 0) << printed.run.err;
        ASSERT_FALSE(clean.bytes.empty());
        if (c.same_payload) {
            EXPECT_TRUE(printed.bytes == clean.bytes) << "the payload differs from the same script's without prints";
        }
        EXPECT_EQ(printed.run.out.find("standin:"), std::string::npos) << printed.run.out;
        EXPECT_EQ(clean.run.err.find("standin:"), std::string::npos) << clean.run.err;
        for (const std::string& way : print_ways()) {
            for (const char* when : c.prints) {
                const std::string line = "standin: " + way + " at " + when + "\n";
                EXPECT_NE(printed.run.err.find(line), std::string::npos) << line << printed.run.err;
            }
        }
    }
}
