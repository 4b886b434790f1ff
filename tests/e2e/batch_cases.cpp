// Frame ranges, script arguments and chunked runs, as cases that both
// frame servers must pass: the stand-in (batch_test.cpp) and the real
// AviSynth+ (real_server_test.cpp).

#include "batch_cases.h"

#include <gtest/gtest.h>

namespace {

// The frames of an 8-bit 4:2:0 YUV4MPEG2 stream, the header set aside;
// empty when the stream is not whole frames.
std::vector<std::string> stream_frames(const std::string& stream)
{
    size_t header_end = stream.find('\n');
    long long width = number_after(stream, " W"), height = number_after(stream, " H");
    if (header_end == std::string::npos || width <= 0 || height <= 0 ||
        stream.substr(0, header_end).find(" C420") == std::string::npos)
        return {};
    const size_t size = static_cast<size_t>(width * height * 3 / 2);
    std::vector<std::string> frames;
    for (size_t at = header_end + 1; at < stream.size(); at += 6 + size) {
        if (stream.compare(at, 6, "FRAME\n") != 0 || stream.size() - at < 6 + size)
            return {};
        frames.push_back(stream.substr(at + 6, size));
    }
    return frames;
}

std::vector<std::string> frame_range(const std::vector<std::string>& frames, int first, int last)
{
    if (first < 0 || last >= static_cast<int>(frames.size()) || last < first)
        return {};
    return std::vector<std::string>(frames.begin() + first, frames.begin() + last + 1);
}

std::vector<std::string> with_range(int start, int end, std::vector<std::string> args)
{
    std::vector<std::string> line;
    if (start >= 0)
        line.insert(line.end(), {"-s", std::to_string(start)});
    if (end >= 0)
        line.insert(line.end(), {"--end=" + std::to_string(end)});
    line.insert(line.end(), args.begin(), args.end());
    return line;
}

}  // namespace

void check_frame_ranges(const std::string& clip_script, const run_options& options)
{
    // 12 frames at 24 fps with 48 kHz audio: 2000 sample frames a frame.
    const std::string script = write_script("ranged.avs", clip_script);
    run_result whole = run_tool({"video", script}, options);
    ASSERT_EQ(whole.status, 0) << whole.err;
    const std::vector<std::string> frames = stream_frames(whole.out);
    ASSERT_EQ(frames.size(), 12u);
    run_result whole_audio = run_tool({"audio", script}, options);
    ASSERT_EQ(whole_audio.status, 0) << whole_audio.err;
    const std::string samples = whole_audio.out.substr(80);
    const size_t frame_samples = samples.size() / 12;  // bytes of a frame's samples

    struct {
        int start, end;  // -1: not given
        int first, last;
    } ranges[] = {
        {0, 2, 0, 2},   {9, 11, 9, 11}, {4, 6, 4, 6}, {5, 5, 5, 5},  {0, 0, 0, 0},
        {0, 11, 0, 11}, {-1, 3, 0, 3},  {8, -1, 8, 11}, {11, 11, 11, 11},
    };
    for (const auto& r : ranges) {
        SCOPED_TRACE("-s " + std::to_string(r.start) + " -e " + std::to_string(r.end));
        const int count = r.last - r.first + 1;
        run_result video = run_tool(with_range(r.start, r.end, {"video", script}), options);
        EXPECT_EQ(video.status, 0) << video.err;
        EXPECT_TRUE(stream_frames(video.out) == frame_range(frames, r.first, r.last)) << "not those frames";
        EXPECT_NE(video.err.find("writing " + std::to_string(count) + " frames"), std::string::npos) << video.err;

        run_result audio = run_tool(with_range(r.start, r.end, {"audio", script}), options);
        EXPECT_EQ(audio.status, 0) << audio.err;
        EXPECT_TRUE(audio.out.substr(80) == samples.substr(r.first * frame_samples, count * frame_samples))
            << "not those frames' samples";

        run_result info = run_tool(with_range(r.start, r.end, {"info", script}), options);
        std::string report = lf_text(info.out);
        EXPECT_NE(report.find("v:frames      " + std::to_string(count) + "\n"), std::string::npos) << report;
        EXPECT_NE(report.find("a:samples     " + std::to_string(count * 2000) + "\n"), std::string::npos) << report;
    }

    // The Blu-ray arguments are about the whole clip.
    run_result bd = run_tool({"x264bd", script}, options);
    run_result bd_ranged = run_tool({"-s", "3", "-e", "4", "x264bd", script}, options);
    EXPECT_EQ(bd_ranged.out, bd.out);
    EXPECT_EQ(bd_ranged.err, bd.err);

    struct {
        std::vector<std::string> args;
        std::string err;
    } invalid[] = {
        {{"-s", "5", "-e", "4"}, "clipspout [error]: the range ends at frame 4, before it starts at frame 5.\n"},
        {{"-s", "12"}, "clipspout [error]: the range starts at frame 12, outside the clip's 12 frames.\n"},
        {{"-e", "12"}, "clipspout [error]: the range ends at frame 12, outside the clip's 12 frames.\n"},
        {{"--start=3", "--end=40"}, "clipspout [error]: the range ends at frame 40, outside the clip's 12 frames.\n"},
        {{"-s", "14", "-e", "13"}, "clipspout [error]: the range starts at frame 14, outside the clip's 12 frames.\n"},
        {{"-s", "-1"}, "clipspout [error]: bad value \"-1\" for --start: a frame number, 0 or more.\n"},
        {{"-e", "1.5"}, "clipspout [error]: bad value \"1.5\" for --end: a frame number, 0 or more.\n"},
        {{"--start="}, "clipspout [error]: bad value \"\" for --start: a frame number, 0 or more.\n"},
        {{"-s", "99999999999"}, "clipspout [error]: bad value \"99999999999\" for --start: a frame number, 0 or more.\n"},
    };
    for (const auto& c : invalid) {
        for (const char* mode : {"video", "audio", "info"}) {
            std::vector<std::string> line = c.args;
            line.insert(line.end(), {mode, script});
            SCOPED_TRACE(testing::PrintToString(line));
            run_result r = run_tool(line, options);
            EXPECT_EQ(r.status, 2);
            EXPECT_EQ(r.err, c.err);
            EXPECT_EQ(r.out, "");
        }
    }
}

void check_script_arguments(const run_options& options)
{
    // A template: the clip's size and length, and the script that makes it,
    // all come from arguments.
    std::string inner = write_script("inner.avs", "BlankClip(length=Int(Value(len)), width=Int(Value(w)), height=16, "
                                                  "pixel_type=\"YV12\")\n");
    std::string outer = write_script("template.avs", "Assert(VarExist(\"len\"), \"len is not given\")\nImport(src)\n");
    run_result r = run_tool({"-a", "len=7", "--arg", "w=48", "--arg=src=" + inner, "info", outer}, options);
    EXPECT_EQ(r.status, 0) << r.err;
    std::string report = lf_text(r.out);
    EXPECT_NE(report.find("v:width       48\n"), std::string::npos) << report;
    EXPECT_NE(report.find("v:frames      7\n"), std::string::npos) << report;

    r = run_tool({"-a", "w=48", "--arg=src=" + inner, "info", outer}, options);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "clipspout [warn]: len is not given (" + outer +
                         ", line 1)\nclipspout [error]: avs files return value is not a clip.\n");

    // A value arrives byte for byte: its length in bytes is the clip's, and
    // the script's own failure shows it.
    std::string measure = write_script("measure.avs", "BlankClip(length=StrLen(title), width=16, height=16)\n");
    std::string show = write_script("show.avs", "Assert(false, title)\n");
    for (const std::string value : {"plain", "with  two spaces", "say \"hi\" and 'bye'", "日本語 Кириллица", "",
                                    "a=b=c", " leading and trailing "}) {
        SCOPED_TRACE(value);
        r = run_tool({"-a", "title=" + value, "info", measure}, options);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_NE(lf_text(r.out).find("v:frames      " + std::to_string(value.size()) + "\n"), std::string::npos);
        if (value.empty())
            continue;
        r = run_tool({"-a", "title=" + value, "info", show}, options);
        EXPECT_EQ(r.err.rfind("clipspout [warn]: " + value, 0), 0u) << r.err;
    }

    struct {
        std::vector<std::string> args;
        std::string err;
    } invalid[] = {
        {{"-a", "novalue"}, "clipspout [error]: bad value \"novalue\" for --arg: use NAME=VALUE.\n"},
        {{"--arg=x"}, "clipspout [error]: bad value \"x\" for --arg: use NAME=VALUE.\n"},
        {{"-a", "=value"},
         "clipspout [error]: bad name \"\" for --arg: a script variable's name is a letter or \"_\", then letters, "
         "digits or \"_\".\n"},
        {{"-a", "9lives=1"},
         "clipspout [error]: bad name \"9lives\" for --arg: a script variable's name is a letter or \"_\", then "
         "letters, digits or \"_\".\n"},
        {{"-a", "my-name=1"},
         "clipspout [error]: bad name \"my-name\" for --arg: a script variable's name is a letter or \"_\", then "
         "letters, digits or \"_\".\n"},
        {{"-a"}, "clipspout [error]: option -a needs a value.\n"},
    };
    for (const auto& c : invalid) {
        std::vector<std::string> line = c.args;
        if (line.size() > 1 || line[0] != "-a")
            line.insert(line.end(), {"info", measure});
        SCOPED_TRACE(testing::PrintToString(line));
        r = run_tool(line, options);
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.err, c.err);
        EXPECT_EQ(r.out, "");
    }
}

void check_parallel_chunks(const std::string& clip_script, const run_options& options)
{
    const std::string script = write_script("chunked.avs", clip_script);
    const std::string folder = script.substr(0, script.rfind('/'));
    run_result whole = run_tool({"video", script}, options);
    run_result whole_audio = run_tool({"audio", script}, options);
    ASSERT_EQ(whole.status, 0) << whole.err;
    ASSERT_EQ(whole_audio.status, 0) << whole_audio.err;
    const std::string tool = tool_command(options);
    // Four jobs at once, one range each: GNU parallel pairs the two lists.
    const std::string ranges = " ::: 0 3 6 9 ::: 2 5 8 11";
    int status = -1;
    shell("cd '" + folder + "' && parallel --will-cite -j 4 --link --halt now,fail=1 \"" + tool +
              " -s {1} -e {2} video chunked.avs > chunk{#}.y4m 2>/dev/null && " + tool +
              " -s {1} -e {2} audio chunked.avs > chunk{#}.wav 2>/dev/null\"" + ranges,
          &status);
    ASSERT_EQ(status, 0);
    std::vector<std::string> joined;
    std::string joined_samples;
    for (int n = 1; n <= 4; ++n) {
        std::vector<std::string> frames = stream_frames(read_file(folder + "/chunk" + std::to_string(n) + ".y4m"));
        EXPECT_EQ(frames.size(), 3u) << "chunk " << n;
        joined.insert(joined.end(), frames.begin(), frames.end());
        joined_samples += read_file(folder + "/chunk" + std::to_string(n) + ".wav").substr(80);
    }
    EXPECT_TRUE(joined == stream_frames(whole.out)) << "the chunks' frames, joined, are not the whole clip's";
    EXPECT_TRUE(joined_samples == whole_audio.out.substr(80)) << "the chunks' samples, joined, are not the track";

    // Each chunk encoded by x264 straight from the pipe.
    std::string logs = shell("cd '" + folder + "' && parallel --will-cite -j 4 --link \"" + tool +
                                 " -s {1} -e {2} video chunked.avs 2>/dev/null | x264 --demuxer y4m --preset "
                                 "ultrafast -o chunk{#}.264 - 2>&1\"" + ranges,
                             &status);
    EXPECT_EQ(status, 0) << logs;
    int encoded = 0;
    for (size_t at = logs.find("encoded "); at != std::string::npos; at = logs.find("encoded ", at + 1))
        encoded += atoi(logs.c_str() + at + 8);
    EXPECT_EQ(encoded, 12) << logs;
}
