#include "report_cases.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <sstream>
#include <vector>

namespace {

std::string quoted(const std::string& word)
{
    std::string text = "'";
    for (char c : word)
        text += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return text + "'";
}

std::vector<std::string> lines_of(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

bool real(const run_options& options)
{
    return options.frameserver == real_frameserver();
}

}  // namespace

std::string parse_json(const std::string& text)
{
    const std::string file = write_script("reports/parse.json", text);
    int status = -1;
    shell("jq -e . " + quoted(file) + " >/dev/null", &status);
    if (status != 0)
        return "";
    // The system's Python where there is one: a version manager's shim
    // costs a second a start.
    return shell("$(command -v /usr/bin/python3 || command -v python3) -c 'import json, sys; "
                 "print(json.dumps(json.load(open(sys.argv[1], \"rb\")), sort_keys=True))' " + quoted(file) +
                 " 2>/dev/null");
}

std::string json_field(const std::string& text, const std::string& path)
{
    std::string value = shell("jq -c " + quoted(path) + " " + quoted(write_script("reports/field.json", text)));
    if (!value.empty() && value.back() == '\n')
        value.pop_back();
    return value;
}

void check_info_json(const run_options& options)
{
    // Data with quotes and a newline, as text (the character U+00FF, bytes
    // C3 BF) and as bytes that are not UTF-8 (0xFF, and for the stand-in,
    // which makes any bytes, a NUL too): the two must not read alike.
    const std::string text_data = real(options)
                                      ? "\"say \" + Chr(34) + \"hi\" + Chr(34) + Chr(10) + \"x\xc3\xbf\""
                                      : "StandinBytes(\"73617920226869220a78c3bf\")";
    const std::string byte_data = real(options)
                                      ? "\"say \" + Chr(34) + \"hi\" + Chr(34) + Chr(10) + \"x\" + Chr(255)"
                                      : "StandinBytes(\"73617920226869220a7800ff\")";
    const std::string bytes_base64 = real(options) ? "\"c2F5ICJoaSIKeP8=\"" : "\"c2F5ICJoaSIKeAD/\"";
    const std::string clip = "BlankClip(length=4, width=64, height=48, pixel_type=\"YV12\", fps=25, audio_rate=48000, "
                             "channels=2)\n";
    const struct {
        const char* what;
        std::string value;  // as the script sets it
        std::string json;   // as the report gives its type and value, or its type alone
    } properties[] = {
        {"an integer", "9", "{\"type\": \"int\", \"value\": 9}"},
        {"a float", "0.5", "{\"type\": \"float\", \"value\": 0.5}"},
        {"an array", "[1, 2, 3]", "{\"type\": \"int\", \"value\": [1, 2, 3]}"},
        {"text data", text_data, "{\"type\": \"data\", \"value\": \"say \\\"hi\\\"\\nx\xc3\xbf\"}"},
        {"data that is not text", byte_data, "{\"type\": \"data\", \"base64\": " + bytes_base64 + "}"},
        {"NaN", "Value(\"nan\")", "{\"type\": \"float\", \"value\": null}"},
        {"a clip", "BlankClip()", "{\"elements\": 1, \"type\": \"clip\"}"},
    };
    for (const auto& p : properties) {
        SCOPED_TRACE(p.what);
        const std::string script = write_script("reports/props.avs", clip + "propSet(\"key\", " + p.value + ")\n");
        const run_result r = run_tool({"--json", "info", script}, options);
        ASSERT_EQ(r.status, 0) << r.err;
        const std::string parsed = parse_json(r.out);
        ASSERT_NE(parsed, "") << "not JSON: " << r.out;
        EXPECT_EQ(parse_json(json_field(r.out, ".video.frame0_properties.key")), parse_json(p.json)) << r.out;
    }

    // The facts of info, and what video and mkv would write.
    const std::string script = write_script("reports/info.avs", clip + "AssumeFieldBased().AssumeBFF()\n"
                                                                      "propSet(\"_SARNum\", 4).propSet(\"_SARDen\", 3)"
                                                                      ".propSet(\"_FieldBased\", 1)\n");
    const run_result json = run_tool({"--json", "info", script}, options);
    ASSERT_EQ(json.status, 0) << json.err;
    const run_result text = run_tool({"info", script}, options);
    const std::vector<std::string> fields = {".video.width", ".video.height", ".video.frames",
                                             ".audio.sample_rate", ".audio.channels", ".audio.samples",
                                             ".audio.bit_depth"};
    // The text truncates to whole seconds; JSON is exact.
    EXPECT_NE(lf_text(text.out).find("v:duration    " + json_field(json.out, ".video.duration_seconds | floor") + "\n"),
              std::string::npos);
    const run_result film = run_tool({"--json", "info", write_script("reports/film.avs",
                                                                      "BlankClip(length=360, fps=24000, "
                                                                      "fps_denominator=1001, audio_rate=48000, "
                                                                      "pixel_type=\"YUV420P10\")\n")},
                                     options);
    ASSERT_EQ(film.status, 0) << film.err;
    EXPECT_EQ(json_field(film.out, "[.video.duration_seconds, .audio.duration_seconds]"), "[15.015,15.015]");
    // Both streams the report describes convert alike: said once.
    EXPECT_EQ(film.err, "clipspout [info]: converting video to yv12.\n");
    for (const std::string& field : fields)
        EXPECT_NE(lf_text(text.out).find(" " + json_field(json.out, field) + "\n"), std::string::npos) << field;
    EXPECT_NE(lf_text(text.out).find("v:fps         " + json_field(json.out, ".video.fps_numerator") + "/" +
                                     json_field(json.out, ".video.fps_denominator") + "\n"),
              std::string::npos);
    EXPECT_EQ(json_field(json.out, ".video.field_order"), "\"bff\"");
    EXPECT_EQ(json_field(json.out, ".video.pixel_type"), "\"a0000008\"");
    EXPECT_EQ(json_field(json.out, ".streams.video"),
              "{\"layout\":\"YUV420\",\"depth\":8,\"y4m_tag\":\"C420\",\"width\":64,\"height\":48,\"field_order\":"
              "\"bff\",\"sar\":null}");
    EXPECT_EQ(json_field(json.out, ".streams.mkv"),
              "{\"layout\":\"YUV420\",\"depth\":8,\"fourcc\":\"I420\",\"width\":64,\"height\":48,\"field_order\":"
              "\"bff\",\"sar\":\"4:3\"}");
    // With --depth=keep the y4m stream says what frame 0 says, and its
    // header agrees.
    const run_result keep = run_tool({"--depth=10", "--json", "info", script}, options);
    EXPECT_EQ(json_field(keep.out, ".streams.video"),
              "{\"layout\":\"YUV420p10\",\"depth\":10,\"y4m_tag\":\"C420p10\",\"width\":64,\"height\":48,"
              "\"field_order\":\"bff\",\"sar\":\"4:3\"}");
    const run_result header = run_tool({"--depth=10", "video", script}, options);
    EXPECT_EQ(header.out.substr(0, header.out.find('\n')), "YUV4MPEG2 W64 H48 F25:1 Ib A4:3 C420p10 XCOLORRANGE=LIMITED");
    // No audio: null; without --json, info is as it always was.
    const run_result silent = run_tool(
        {"--json", "info", write_script("reports/silent.avs", "BlankClip(length=2, pixel_type=\"YV12\").KillAudio()\n")},
        options);
    EXPECT_EQ(json_field(silent.out, ".audio"), "null");
    EXPECT_EQ(lf_text(text.out).rfind("v:width       64\nv:height      48\n", 0), 0u);
}

std::string meter_figures_disagree(const std::string& json)
{
    // Each printed figure is rounded (seconds to 6 decimals, busy cores and
    // rates to 3): the products agree within what the rounding leaves.
    static const char* const checks[][2] = {
        {"the fields and their types",
         "[.unit, .fetched, .total, .wall_seconds, .per_second, .delivery_ms.fastest, .delivery_ms.median, "
         ".delivery_ms.p95, .delivery_ms.slowest, .delivery_ms.slowest_at, .peak_memory_mb, .user_seconds, "
         ".system_seconds, .busy_cores, .frame_server, .speed_picture] | map(type) == [\"string\", \"number\", "
         "\"number\", \"number\", \"number\", \"number\", \"number\", \"number\", \"number\", "
         "\"number\", \"number\", \"number\", \"number\", \"number\", \"object\", \"string\"]"},
        {"busy cores = (user + system) / wall",
         "(.busy_cores * .wall_seconds - .user_seconds - .system_seconds) as $d | ($d * $d | sqrt) <= "
         "0.0005 * .wall_seconds + 0.000002 + .busy_cores * 0.0000005"},
        {"per_second = fetched / wall",
         "(.per_second * .wall_seconds - .fetched) as $d | ($d * $d | sqrt) <= 0.0005 * .wall_seconds + "
         ".per_second * 0.0000005"},
        {"the delivery times in order",
         ".delivery_ms | .fastest <= .median and .median <= .p95 and .p95 <= .slowest"},
        {"the slowest delivery within the wall time", ".delivery_ms.slowest <= .wall_seconds * 1000 + 0.002"},
        {"no negative figure", "[.wall_seconds, .user_seconds, .system_seconds, .busy_cores] | min >= 0"},
    };
    std::string disagree;
    for (const auto& check : checks)
        if (json_field(json, check[1]) != "true")
            disagree += std::string(disagree.empty() ? "" : "; ") + check[0];
    return disagree;
}

void check_meter_of_no_frames(const run_options& options)
{
    // A clip of no frames: the report names no frame at all.
    const std::string script =
        write_script("reports/none.avs", "BlankClip(length=0, width=64, height=48, pixel_type=\"YV12\", fps=25)\n");
    const run_result text = run_tool({"meter", script}, options);
    ASSERT_EQ(text.status, 0) << text.err;
    EXPECT_NE(lf_text(text.out).find("frames        0\n"), std::string::npos) << text.out;
    EXPECT_NE(lf_text(text.out).find("slowest       0.000 ms\n"), std::string::npos) << text.out;
    EXPECT_EQ(lf_text(text.out).find("-1"), std::string::npos) << text.out;
    const run_result json = run_tool({"--json", "meter", script}, options);
    ASSERT_EQ(json.status, 0) << json.err;
    EXPECT_EQ(json_field(json.out, "[.fetched, .first_frame, .last_frame, .delivery_ms.slowest_at, .interrupted, "
                                   ".error]"),
              "[0,null,null,null,false,null]")
        << json.out;
}

void check_meter_cut_short_by_a_frame(const run_options& options, const std::string& fault,
                                      const std::string& message)
{
    // What was measured is reported, marked as cut short, and the run fails.
    const std::string script = write_script("reports/fault.avs", "BlankClip(length=30, width=64, height=48, "
                                                                 "pixel_type=\"YV12\", fps=25)\n" + fault + "\n");
    const run_result r = run_tool({"meter", script}, options);
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(lf_text(r.out).find("frames        7 (0 to 6)\n"), std::string::npos) << r.out;
    EXPECT_NE(lf_text(r.out).find("cut short     frame 7: " + message + " (7 of 30 frames fetched)\n"), std::string::npos)
        << r.out;
    EXPECT_NE(r.err.find("clipspout [warn]: frame 7: " + message + "\n"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("clipspout [error]: only fetched 7 of 30 frames.\n"), std::string::npos) << r.err;
    const run_result json = run_tool({"--json", "meter", script}, options);
    EXPECT_EQ(json.status, 2);
    EXPECT_EQ(json_field(json.out, "[.fetched, .total, .interrupted, .error]"),
              "[7,30,false,\"frame 7: " + message + "\"]")
        << json.out;
    EXPECT_EQ(meter_figures_disagree(json.out), "") << json.out;
}

void check_meter(const run_options& options)
{
    const std::string clip = "BlankClip(length=30, width=64, height=48, pixel_type=\"YV12\", fps=25)\n"
                             "propSet(\"_Matrix\", 1)\n";
    const std::string script = write_script("reports/meter.avs", clip);
    const std::string folder = script.substr(0, script.rfind('/'));
    const struct {
        std::vector<std::string> range;
        int first, frames;
    } ranges[] = {{{}, 0, 30}, {{"-s", "5", "-e", "14"}, 5, 10}};
    for (const auto& range : ranges) {
        SCOPED_TRACE(range.first);
        const std::string log = folder + "/meter.csv", props = folder + "/meter.props";
        std::vector<std::string> args = range.range;
        for (const std::string& a : {std::string("--log"), log, std::string("--frame-props"), props,
                                     std::string("meter"), script})
            args.push_back(a);
        const run_result text = run_tool(args, options);
        ASSERT_EQ(text.status, 0) << text.err;
        const std::string last = std::to_string(range.first + range.frames - 1);
        EXPECT_NE(lf_text(text.out).find("frames        " + std::to_string(range.frames) + " (" +
                                         std::to_string(range.first) + " to " + last + ")\n"),
                  std::string::npos)
            << text.out;
        EXPECT_NE(text.err.find("finished, fetched " + std::to_string(range.frames) + " frames [100%]"),
                  std::string::npos);
        // A CSV row a frame: frame, start, milliseconds, resident memory.
        const std::vector<std::string> rows = lines_of(read_file(log));
        ASSERT_EQ(rows.size(), static_cast<size_t>(range.frames) + 1);
        EXPECT_EQ(rows[0], "frame,start_s,ms,rss_mb");
        for (int n = 0; n < range.frames; ++n) {
            long frame = -1;
            double start = -1, ms = -1, rss = -1;
            EXPECT_EQ(sscanf(rows[static_cast<size_t>(n) + 1].c_str(), "%ld,%lf,%lf,%lf", &frame, &start, &ms, &rss),
                      4);
            EXPECT_EQ(frame, range.first + n);
            EXPECT_GE(ms, 0);
            EXPECT_GT(rss, 0) << "resident memory in MB";
        }
        // A JSON line a frame, with its properties, numbered as the log's
        // rows are, so that a batch tool can join the two files.
        std::string expected;
        for (int n = 0; n < range.frames; ++n)
            expected += "[" + std::to_string(range.first + n) + ",1]\n";
        EXPECT_EQ(shell("jq -c '[.frame, .properties._Matrix.value]' " + quoted(props)), expected);

        // The same facts as JSON.
        std::vector<std::string> json_args = range.range;
        for (const std::string& a : {std::string("--json"), std::string("meter"), script})
            json_args.push_back(a);
        const run_result json = run_tool(json_args, options);
        ASSERT_NE(parse_json(json.out), "") << json.out;
        EXPECT_EQ(json_field(json.out, "[.unit, .fetched, .total, .first_frame, .last_frame]"),
                  "[\"frames\"," + std::to_string(range.frames) + "," + std::to_string(range.frames) + "," +
                      std::to_string(range.first) + "," + last + "]");
        EXPECT_EQ(meter_figures_disagree(json.out), "") << json.out;
        EXPECT_EQ(json_field(json.out, ".peak_memory_mb > 0"), "true");
        EXPECT_EQ(json_field(json.out, ".speed_picture | length"),
                  std::to_string(range.frames < 60 ? range.frames : 60));
    }
    // The same frames video writes, and --frame-props for video and mkv.
    for (const char* mode : {"video", "mkv"}) {
        const std::string props = folder + "/" + mode + ".props";
        const run_result r = run_tool({"--frame-props", props, mode, script}, options);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(lines_of(read_file(props)).size(), 30u) << mode;
    }
    // ASCII where asked.
    const run_result ascii = run_tool({"--ascii", "meter", script}, options);
    const std::string picture = lf_text(ascii.out).substr(lf_text(ascii.out).find("speed         ") + 14);
    EXPECT_EQ(picture.find_first_not_of("_.-=#\n"), std::string::npos) << picture;
    EXPECT_EQ(picture.size(), 31u);

    // Audio alone, a second at a time.
    const run_result audio = run_tool(
        {"--json", "meter", write_script("reports/sound.avs", "BlankClip(length=60, fps=24, audio_rate=48000)"
                                                               ".KillVideo()\n")},
        options);
    EXPECT_EQ(audio.status, 0) << audio.err;
    EXPECT_EQ(json_field(audio.out, "[.unit, .fetched, .total]"), "[\"seconds\",3,3]");
    // 2.5 s fetched as 3 blocks: the lines say so, not "2 seconds" then "3".
    for (const char* said : {"fetching 2.500 seconds of 48000 Hz, 1 channel audio in 3 blocks of a second.",
                             "finished, fetched 3 blocks [100%]."})
        EXPECT_NE(audio.err.find(said), std::string::npos) << audio.err;

    // Options that go with other modes.
    for (const std::vector<std::string>& misuse : {std::vector<std::string>{"--json", "video", script},
                                                   std::vector<std::string>{"--log", folder + "/x", "info", script},
                                                   std::vector<std::string>{"--frame-props", folder + "/x", "info",
                                                                            script}}) {
        const run_result r = run_tool(misuse, options);
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.out, "");
        EXPECT_NE(r.err.find("goes with"), std::string::npos) << r.err;
    }
}
