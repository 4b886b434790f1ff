#include "interface_cases.h"

#include <gtest/gtest.h>

#include <cstdio>

std::string no_properties_note(int interface_version)
{
    return "clipspout [info]: the frame server (interface version " + std::to_string(interface_version) +
           ") has frame-property functions, but they work only from interface version 9 (AviSynth+ 3.7.1): colour, "
           "HDR metadata, frame timing and field order from frame properties are left out.\n";
}

void check_without_working_properties(const run_options& options, int interface_version)
{
    // Everything the tool would take from frame 0: colour, range, siting,
    // aspect ratio, field order, HDR10 and each frame's duration.
    const std::string script = write_script(
        "props.avs",
        "BlankClip(length=3, width=64, height=32, pixel_type=\"YUV420P10\", fps=25, audio_rate=48000)\n"
        "propSet(\"_Matrix\", 9).propSet(\"_Primaries\", 9).propSet(\"_Transfer\", 16).propSet(\"_ColorRange\", 0)\n"
        "propSet(\"_ChromaLocation\", 2).propSet(\"_SARNum\", 4).propSet(\"_SARDen\", 3).propSet(\"_FieldBased\", 2)\n"
        "propSet(\"ContentLightLevelMax\", 1000).propSet(\"ContentLightLevelAverage\", 400)\n"
        "propSet(\"_DurationNum\", 1).propSet(\"_DurationDen\", 50)\n");
    std::string timecodes = write_script("props.tc", "");
    std::remove(timecodes.c_str());
    const std::string note = no_properties_note(interface_version);
    const struct {
        std::vector<std::string> args;  // before the script
        bool noted;                     // the note is due
        std::string out;                // what stdout starts with
    } cases[] = {
        {{"info"}, true, "v:width       64\n"},
        {{"--depth=keep", "video"}, true, "YUV4MPEG2 W64 H32 F25:1 Ip A0:0 C420p10\n"},
        {{"video"}, true, "YUV4MPEG2 W64 H32 F25:1 Ip A0:0 C420\n"},
        {{"--timecodes", timecodes, "video"}, true, "YUV4MPEG2 W64 H32 F25:1 Ip A0:0 C420\n"},
        {{"--depth=keep", "x265args"}, true, "--frames 3 --output-depth 10"},
        {{"x264args"}, true, "--frames 3 --output-depth 8"},
        {{"svtav1args"}, true, "--frames 3 --input-depth 8"},
        {{"audio"}, false, "RIFF"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        std::vector<std::string> args = c.args;
        args.push_back(script);
        const run_result r = run_tool(args, options);
        EXPECT_EQ(r.signal, 0);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.frameserver_note, c.noted ? note : "");
        // Nothing taken from the properties: no range, aspect ratio or
        // field order in the header, no colour or HDR option in a line.
        const std::string out = lf_text(r.out);
        EXPECT_EQ(out.substr(0, c.out.size()), c.out);
        if (c.args.back().find("args") != std::string::npos) {
            EXPECT_EQ(out, c.out);
        }
    }
    // Timed by the clip's rate, not by the durations the script set.
    EXPECT_EQ(read_file(timecodes), "# timestamp format v2\n0.000000\n40.000000\n80.000000\n");

    const run_result mkv = run_tool({"mkv", script}, options);
    ASSERT_EQ(mkv.status, 0) << mkv.err;
    EXPECT_EQ(mkv.frameserver_note, note);
    const std::string saved = write_script("props.mkv", mkv.out);
    EXPECT_EQ(shell("ffprobe -v error -select_streams v -show_entries stream=color_space,color_transfer,field_order,"
                    "sample_aspect_ratio,r_frame_rate -of csv=p=0 '" + saved + "'"),
              "1:1,unknown,unknown,progressive,25/1\n");
    EXPECT_EQ(shell("ffprobe -v error -select_streams v -show_entries packet=pts -of csv=p=0 '" + saved + "'"),
              "0\n40\n80\n");
}
