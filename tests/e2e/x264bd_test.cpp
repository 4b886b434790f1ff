// The x264bd line as a shell sees it, and a real x264 taking it.

#include <gtest/gtest.h>

#include "harness.h"

TEST(X264bd, PrintsOneLineWithoutLineEnd)
{
    run_result r = run_tool({"x264bd", write_script("bd.avs", "BlankClip(width=1920, height=1080, fps=24000, "
                                                                  "fps_denominator=1001)\n")});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, "--weightp 1 --bframes 3 --nal-hrd vbr --vbv-maxrate 15000 --vbv-bufsize 30000 --level 4.1 "
                     "--keyint 24 --b-pyramid strict --open-gop --bluray-compat --slices 4 --ref 4  --aud "
                     "--colorprim \"bt709\" --transfer \"bt709\" --colormatrix \"bt709\"");
}

TEST(X264bd, UnsupportedCombinationIsRefused)
{
    run_result r = run_tool({"x264bd", write_script("bd_bad.avs", "BlankClip(width=1920, height=1080, fps=30)\n")});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "clipspout [error]: 1920x1080 @ 30/1 fps not supported.\n");
    EXPECT_EQ(r.out, "");

    r = run_tool({"x264bd", write_script("bd_audio.avs", "BlankClip().KillVideo()\n")});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "clipspout [error]: 0x0 @ 0/0 fps not supported.\n");
}

TEST(X264bd, RealX264AcceptsTheLine)
{
    const char* clips[] = {
        "BlankClip(length=4, width=1920, height=1080, pixel_type=\"YV12\", fps=30000, fps_denominator=1001)\n"
        "AssumeFieldBased().AssumeBFF()\n",
        "BlankClip(length=4, width=1280, height=720, pixel_type=\"YV12\", fps=25)\n",
        "BlankClip(length=4, width=720, height=480, pixel_type=\"YV12\", fps=30000, fps_denominator=1001)\n",
    };
    std::string out = write_script("bd.264", "");
    for (const char* text : clips) {
        std::string script = write_script("bd_x264.avs", text);
        int status = -1;
        std::string tool = tool_command();
        // The colour names are quoted for a command line, so a POSIX shell
        // takes the line through eval.
        std::string log = shell("eval x264 --quiet \"$(" + tool + " x264bd '" + script + "')\" --demuxer y4m -o '" + out +
                                    "' <(" + tool + " video '" + script + "' 2>/dev/null) 2>&1 && echo accepted",
                                &status);
        EXPECT_EQ(status, 0) << text << log;
        EXPECT_NE(log.find("accepted"), std::string::npos) << text << log;
        EXPECT_GT(read_file(out).size(), 0u) << text;
    }
}
