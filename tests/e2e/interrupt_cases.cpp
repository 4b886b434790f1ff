#include "interrupt_cases.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <sstream>
#include <vector>

#include <unistd.h>

namespace {

const char BIG_CLIP[] = "BlankClip(length=300, width=640, height=360, pixel_type=\"YV12\", fps=25)\n";

int lines_of(const std::string& text)
{
    int lines = 0;
    for (char c : text)
        lines += c == '\n';
    return lines;
}

bool ends_with(const std::string& text, const std::string& end)
{
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// A signal while the script is imported: nothing written, no program
// started, no file created, and the run says so.
void check_before_the_first_byte(const run_options& base, const std::string& script, const std::string& mark)
{
    const std::string folder = std::filesystem::path(script).parent_path().string();
    const std::string marker = folder + "/started", out = folder + "/out.y4m", tc = folder + "/tc.txt";
    const std::string stream = "clipspout [error]: interrupted before the stream began.\n";
    const std::string report = "clipspout [error]: interrupted before the report was printed.\n";
    const struct {
        std::vector<std::string> args;
        int signal;
        std::string says;
    } cases[] = {
        {{"video", script}, SIGINT, stream},
        {{"video", script, "sh", "-c", "touch '" + marker + "'; cat >/dev/null"}, SIGTERM, stream},
        {{"--timecodes", tc, "video", script}, SIGHUP, stream},
        {{"-o", out, "mkv", script}, SIGINT, stream},
        {{"audio", script}, SIGTERM, stream},
        {{"info", script}, SIGINT, report},
        {{"--json", "info", script}, SIGHUP, report},
        {{"x264args", script}, SIGTERM, report},
        {{"x265args", script}, SIGINT, report},
        {{"svtav1args", script}, SIGINT, report},
        {{"x264bd", script}, SIGINT, report},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args) + " " + std::to_string(c.signal));
        for (const std::string& file : {marker, out, tc})
            std::filesystem::remove(file);
        run_options options = base;
        options.signal = c.signal;
        options.signal_on_stderr = mark;
        const run_result r = run_tool(c.args, options);
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.out, "");
        EXPECT_TRUE(ends_with(r.err, c.says)) << r.err;
        for (const std::string& file : {marker, out, tc})
            EXPECT_FALSE(std::filesystem::exists(file)) << file << " was made";
    }
    // A second signal ends the run at once.
    run_options twice = base;
    twice.signal = SIGINT;
    twice.signal_on_stderr = mark;
    twice.signal_count = 2;
    const run_result r = run_tool({"video", script}, twice);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("clipspout [error]: interrupted.\n"), std::string::npos) << r.err;
}

// Mid-stream, each signal alike: the stream stops after a whole frame, and
// the side files hold every frame written, whole.
void check_mid_stream(const run_options& base, const std::string& script)
{
    const std::string folder = std::filesystem::path(script).parent_path().string();
    const std::string tc = folder + "/mid.tc", props = folder + "/mid.json";
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        SCOPED_TRACE(signal);
        run_options options = base;
        options.signal = signal;
        options.signal_on_stderr = "writing 300 frames";
        options.signal_after_ms = 200;
        // The reader starts late, so that the signal surely finds the tool
        // in a write the pipe holds up, however busy the machine.
        const run_result r = run_tool({"--timecodes", tc, "--frame-props", props, "video", script, "sh", "-c",
                                       "sleep 3; cat >/dev/null"},
                                      options);
        EXPECT_EQ(r.status, 2);
        const size_t at = r.err.find("clipspout [error]: interrupted after ");
        ASSERT_NE(at, std::string::npos) << r.err;
        const int written = std::stoi(r.err.substr(at + 37));
        EXPECT_GT(written, 0) << r.err;
        EXPECT_LT(written, 300) << r.err;
        EXPECT_EQ(lines_of(read_file(tc)), written + 1) << "the timecodes, after their first line";
        const std::string lines = read_file(props);
        EXPECT_EQ(lines_of(lines), written);
        EXPECT_TRUE(ends_with(lines, "}\n")) << "a line cut short";
    }
}

// A reader that never reads, and a named pipe no one opens: one signal
// ends the run, and no program is left behind.
void check_readers_that_never_read(const run_options& base, const std::string& script)
{
    run_options options = base;
    options.signal = SIGTERM;
    options.signal_on_stderr = "writing 300 frames";
    options.signal_after_ms = 200;
    // A hang, not a speed: the tool gives a reader 5 s, its program 3 s.
    options.timeout_seconds = 90;
    // A duration of this test's own, to find the program by.
    const std::string nap = "41." + std::to_string(getpid());
    const run_result r = run_tool({"video", script, "sh", "-c", "exec sleep " + nap}, options);
    EXPECT_FALSE(r.timed_out);
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("clipspout [error]: interrupted after "), std::string::npos) << r.err;
    EXPECT_EQ(shell("pgrep -f 'sleep 41[.]" + std::to_string(getpid()) + "' || true"), "") << "the program was left running";

    const std::string fifo = std::filesystem::path(script).parent_path().string() + "/nobody.fifo";
    std::filesystem::remove(fifo);
    ASSERT_EQ(shell("mkfifo '" + fifo + "' && echo made"), "made\n");
    run_options unopened = options;
    unopened.signal_on_stderr.clear();
    unopened.signal_after_ms = 500;
    const run_result f = run_tool({"-o", fifo, "video", script}, unopened);
    EXPECT_FALSE(f.timed_out);
    EXPECT_EQ(f.status, 2);
    EXPECT_TRUE(ends_with(f.err, "clipspout [error]: interrupted before the stream began.\n")) << f.err;
}

// meter reports what it measured of a run cut short.
void check_meter_interrupted(const run_options& base, const std::string& folder)
{
    const std::string script = write_script(folder + "/long.avs", "BlankClip(length=1000000, width=64, height=48, "
                                                                  "pixel_type=\"YV12\", fps=25)\n");
    run_options options = base;
    options.signal = SIGINT;
    options.signal_on_stderr = "fetching";
    options.signal_after_ms = 100;
    const run_result json = run_tool({"--json", "meter", script}, options);
    EXPECT_EQ(json.status, 2);
    EXPECT_NE(json.err.find("clipspout [error]: interrupted after "), std::string::npos) << json.err;
    EXPECT_NE(json.out.find("\"interrupted\": true"), std::string::npos) << json.out;
    EXPECT_NE(json.out.find("\"total\": 1000000"), std::string::npos) << json.out;
    const run_result text = run_tool({"meter", script}, options);
    EXPECT_EQ(text.status, 2);
    EXPECT_NE(lf_text(text.out).find("cut short     interrupted ("), std::string::npos) << text.out;
}

}  // namespace

void check_signals_at_every_moment(const run_options& options, const std::string& pause, const std::string& mark)
{
    const std::string slow = write_script("signals/slow.avs", pause + "\nBlankClip(length=300, width=640, height=360, "
                                                                      "pixel_type=\"YV12\", fps=25, audio_rate=48000, "
                                                                      "channels=2)\n");
    check_before_the_first_byte(options, slow, mark);
    const std::string big = write_script("signals/big.avs", BIG_CLIP);
    check_mid_stream(options, big);
    check_readers_that_never_read(options, big);
    check_meter_interrupted(options, "signals");
}
