// The live progress line: shown on a terminal, never in a pipe.

#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>

#include "harness.h"

namespace {

// Runs the tool with standard error on a pseudo-terminal (script from
// util-linux) and standard output into a file; returns what the terminal
// showed, with the terminal's "\r\n" line ends read back as "\n".
std::string on_terminal(const std::string& mode, const std::string& script, const std::string& out)
{
    std::string command = tool_command() + " " + mode + " '" + script + "' > '" + out + "'";
    std::string quoted;
    for (char c : command)
        quoted += c == '"' ? std::string("\\\"") : std::string(1, c);
    std::string screen = shell("script -qfec \"" + quoted + "\" /dev/null");
    std::string lf;
    for (size_t i = 0; i < screen.size(); ++i)
        if (!(screen[i] == '\r' && i + 1 < screen.size() && screen[i + 1] == '\n'))
            lf += screen[i];
    return lf;
}

void expect_progress(const std::string& screen, const std::string& first_line, const std::string& first_update,
                     const std::string& summary)
{
    EXPECT_EQ(screen.rfind(first_line + "\rclipspout [info]: " + first_update, 0), 0u) << screen;
    // The line is blanked before the summary, which replaces it whole.
    size_t blank = screen.rfind("\r ");
    ASSERT_NE(blank, std::string::npos) << screen;
    size_t end = screen.find_first_not_of(' ', blank + 1);
    EXPECT_EQ(screen.substr(end), "\r" + summary) << screen;
}

}  // namespace

TEST(Progress, ShownOnATerminalAndReplacedByTheSummary)
{
    if (frameserver_library() == "avisynth.dll")
        GTEST_SKIP() << "Wine draws a Windows console on the terminal itself; its bytes are not the tool's";
    std::string out = write_script("progress.out", "");
    std::string video = write_script("progress_video.avs", "BlankClip(length=60, width=64, height=48, "
                                                             "pixel_type=\"YV12\", fps=25, audio_rate=0)\n");
    std::string screen = on_terminal("video", video, out);
    expect_progress(screen, "clipspout [info]: writing 60 frames of 25/1 fps, 64x48 YUV420 progressive video.\n",
                    "1 of 60 frames [1%], ", "\rclipspout [info]: finished, wrote 60 frames [100%].\n");
    // Progress never reaches the stream.
    EXPECT_EQ(read_file(out).size(), std::string("YUV4MPEG2 W64 H48 F25:1 Ip A0:0 C420\n").size() + 60 * (6 + 64 * 48 * 3 / 2));

    std::string audio = write_script("progress_audio.avs",
                                     "BlankClip(length=60, fps=24, audio_rate=48000, channels=2).KillVideo()\n");
    screen = on_terminal("audio", audio, out);
    expect_progress(screen, "clipspout [info]: writing 2 seconds of 48000 Hz, 2 channel audio.\n",
                    "1 of 2 seconds [50%], ", "\rclipspout [info]: finished, wrote 2 seconds [100%].\n");
    EXPECT_EQ(read_file(out).size(), 80 + 120000 * 4u);
}

TEST(Progress, NeverInAPipe)
{
    std::string video = write_script("pipe_video.avs", "BlankClip(length=60, width=64, height=48, "
                                                       "pixel_type=\"YV12\", fps=25, audio_rate=0)\n");
    run_result r = run_tool({"video", video});
    EXPECT_EQ(r.err, "clipspout [info]: writing 60 frames of 25/1 fps, 64x48 YUV420 progressive video.\n"
                     "\rclipspout [info]: finished, wrote 60 frames [100%].\n");
}

// --progress where standard error is a pipe: every update a line of its
// own in the documented form, the counts rising to the whole.
TEST(Progress, LinesForAReaderWithProgress)
{
    struct progress_case {
        const char* mode;
        const char* script;
        long long total;
        const char* unit;
    };
    const progress_case cases[] = {
        {"video", "BlankClip(length=60, width=64, height=48, pixel_type=\"YV12\", fps=25, audio_rate=0)\n", 60,
         "frames"},
        {"audio", "BlankClip(length=240, fps=24, audio_rate=48000, channels=2).KillVideo()\n", 10, "seconds"},
    };
    for (const progress_case& c : cases) {
        SCOPED_TRACE(c.mode);
        const run_result r = run_tool({"--progress", c.mode, write_script(std::string("lines_") + c.mode + ".avs",
                                                                            c.script)});
        EXPECT_EQ(r.status, 0);
        std::istringstream lines(lf_text(r.err));
        std::string line;
        long long last = -1, updates = 0;
        while (std::getline(lines, line)) {
            if (line.find("]: writing ") != std::string::npos || line.find("]: finished") != std::string::npos)
                continue;  // the first line, and the summary after the last update
            // The documented form, read back and written again: any other
            // byte in the line makes the two differ.
            long long done = 0, total = 0;
            int percent = 0, hours = 0, minutes = 0, seconds = 0;
            double speed = 0;
            char unit[16] = "", speed_unit[32] = "", left[32] = "";
            ASSERT_EQ(sscanf(line.c_str(), "clipspout [info]: %lld of %lld %15s [%d%%], %lf%31[^,], %31s left", &done,
                             &total, unit, &percent, &speed, speed_unit, left),
                      7)
                << line;
            char again[256];
            snprintf(again, sizeof again, "clipspout [info]: %lld of %lld %s [%d%%], %.1f%s, %s left", done, total,
                     unit, percent, speed, speed_unit, left);
            EXPECT_EQ(line, again);
            EXPECT_TRUE(std::string(speed_unit) == " fps" || std::string(speed_unit) == "x real time") << line;
            EXPECT_TRUE(std::string(left) == "-" || sscanf(left, "%d:%2d:%2d", &hours, &minutes, &seconds) == 3)
                << line;
            EXPECT_EQ(total, c.total);
            EXPECT_EQ(std::string(unit), c.unit);
            EXPECT_GE(done, last);
            EXPECT_EQ(percent, done * 100 / c.total);
            last = done;
            ++updates;
        }
        EXPECT_GE(updates, 2) << "the first update and the last" << r.err;
        EXPECT_EQ(last, c.total) << "the last line says the whole";
    }
}
