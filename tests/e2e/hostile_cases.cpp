#include "hostile_cases.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <sstream>
#include <vector>

#include "encoder_args_cases.h"
#include "matroska_cases.h"

namespace {

// A 4:2:0 clip that says everything: BT.2020 and PQ, limited range, top
// left siting, an aspect ratio of 4:3 and HDR10 metadata. Each case then
// sets one thing a hostile script could.
const std::string clip = "BlankClip(length=3, width=96, height=96, pixel_type=\"YV12\", fps=25)\n";
const std::string says_everything =
    "propSet(\"_Matrix\", 9).propSet(\"_Primaries\", 9).propSet(\"_Transfer\", 16).propSet(\"_ColorRange\", 1)\n"
    "propSet(\"_ChromaLocation\", 2).propSet(\"_SARNum\", 4).propSet(\"_SARDen\", 3)\n"
    "propSet(\"MasteringDisplayPrimariesX\", [0.68, 0.265, 0.15]).propSet(\"MasteringDisplayPrimariesY\", "
    "[0.32, 0.69, 0.06])\n"
    "propSet(\"MasteringDisplayWhitePointX\", 0.3127).propSet(\"MasteringDisplayWhitePointY\", 0.329)\n"
    "propSet(\"MasteringDisplayMinLuminance\", 0.0001).propSet(\"MasteringDisplayMaxLuminance\", 1000.0)\n"
    "propSet(\"ContentLightLevelMax\", 1000.0).propSet(\"ContentLightLevelAverage\", 400.0)\n";

// What a stream or an encode tells its reader, in ffprobe's words; an
// aspect ratio a reader takes for none ("N/A", "0:1", "1:1") is "none", and
// light levels of 0 (CTA-861.3's "unknown") are none.
struct picture_facts {
    std::string primaries = "bt2020", transfer = "smpte2084", space = "bt2020nc", sar = "4:3";
    bool display_primaries = true, display_luminance = true, light_levels = true;
};

std::string facts_text(const picture_facts& f)
{
    return f.primaries + ", " + f.transfer + ", " + f.space + ", sar " + f.sar +
           (f.display_primaries ? ", display primaries" : "") + (f.display_luminance ? ", display luminance" : "") +
           (f.light_levels ? ", light levels" : "");
}

std::map<std::string, std::string> stream_fields(const std::string& file)
{
    std::istringstream lines(shell("ffprobe -v error -select_streams v:0 -show_entries stream=color_primaries,"
                                   "color_transfer,color_space,sample_aspect_ratio -of default=nw=1 '" + file + "'"));
    std::map<std::string, std::string> fields;
    for (std::string line; std::getline(lines, line);)
        fields.emplace(line.substr(0, line.find('=')), line.substr(line.find('=') + 1));
    return fields;
}

// The number after "key=" or "key = " in text, or -1.
double value_after(const std::string& text, const std::string& key)
{
    size_t at = text.find(key);
    if (at == std::string::npos)
        return -1;
    at = text.find_first_of("=", at) + 1;
    while (at < text.size() && text[at] == ' ')
        ++at;
    return strtod(text.c_str() + at, nullptr);
}

// The HDR10 metadata of a file: a Matroska stream's Colour element, an
// HEVC or AV1 encode's first frame, or H.264's SEI (which ffmpeg 5.1 does
// not export: its headers as trace_headers prints them).
picture_facts facts_of(const std::string& file, const std::string& kind)
{
    std::map<std::string, std::string> fields = stream_fields(file);
    picture_facts f;
    f.primaries = fields["color_primaries"];
    f.transfer = fields["color_transfer"];
    f.space = fields["color_space"];
    f.sar = fields["sample_aspect_ratio"];
    if (f.sar == "N/A" || f.sar == "0:1" || f.sar == "1:1" || f.sar.empty())
        f.sar = "none";
    if (kind == "x264") {
        const std::string trace = shell("ffmpeg -i '" + file + "' -c copy -bsf:v trace_headers -f null - 2>&1");
        f.display_primaries = value_after(trace, " white_point_x ") > 0;
        f.display_luminance = value_after(trace, " max_display_mastering_luminance ") > 0;
        f.light_levels = value_after(trace, " max_content_light_level ") > 0;
        return f;
    }
    const std::string side_data =
        kind == "mkv" ? shell("ffprobe -v error -select_streams v -show_streams '" + file + "'")
                      : shell("ffprobe -v error -select_streams v -read_intervals %+#1 -show_frames '" + file + "'");
    f.display_primaries = value_after(side_data, "white_point_x=") > 0;
    f.display_luminance = value_after(side_data, "max_luminance=") > 0;
    f.light_levels = value_after(side_data, "max_content=") > 0;
    return f;
}

long long packets_of(const std::string& file)
{
    const std::string packets =
        shell("ffprobe -v error -select_streams v -show_entries packet=pts -of csv=p=0 '" + file + "'");
    return static_cast<long long>(std::count(packets.begin(), packets.end(), '\n'));
}

// What a script on this frame server can say: AviSynth+ before 3.7.4
// keeps a script's integers in 32 bits and its floats in single precision
// (Value("1e300") is infinity there). The stand-in keeps both as 3.7.5
// does.
bool server_says(const run_options& options, const std::string& assertion)
{
    if (options.frameserver != real_frameserver())
        return true;
    return run_tool({"info", write_script("hostile/probe.avs", "Assert(" + assertion + ")\nBlankClip()\n")}, options)
               .status == 0;
}

bool keeps_64_bit_integers(const run_options& options)
{
    return server_says(options, "IsInt(10000000000000)");
}

bool keeps_doubles(const run_options& options)
{
    return server_says(options, "Value(\"1e300\") < Value(\"inf\")");
}

}  // namespace

void check_hostile_properties(const run_options& options)
{
    struct hostile_case {
        const char* what;
        std::string script;  // the clip and what it sets
        const char* warning;  // said by mkv and by every encoder line
        picture_facts left;   // what the streams carry: everything but what is left out
        bool sar_in_matroska = false;  // the aspect ratio fits Matroska but no encoder's 16 bits
    };
    std::vector<hostile_case> cases;
    auto add = [&](const char* what, const std::string& tail, const char* warning, auto&& change) {
        hostile_case c{what, clip + says_everything + tail, warning, picture_facts()};
        change(c);
        cases.push_back(c);
    };
    add("a string where an integer belongs", "propSet(\"_Transfer\", \"pq\")\n",
        "frame 0's _Transfer is not an integer: it is left out.", [](hostile_case& c) { c.left.transfer = "unknown"; });
    add("codes H.273 reserves", "propSet(\"_Primaries\", 3).propSet(\"_Matrix\", 200)\n",
        "frame 0's _Primaries 3 is no primaries H.273 defines: it is left out.", [](hostile_case& c) {
            c.left.primaries = "unknown";
            c.left.space = "unknown";
        });
    add("NaN", "propSet(\"MasteringDisplayMaxLuminance\", Value(\"nan\"))\n",
        "frame 0's MasteringDisplayMaxLuminance is nan, not a number a stream can carry: the mastering display's "
        "luminance is left out.",
        [](hostile_case& c) { c.left.display_luminance = false; });
    add("an infinite light level", "propSet(\"ContentLightLevelMax\", Value(\"inf\"))\n",
        "frame 0's ContentLightLevelMax is inf, not a number a stream can carry: the light levels are left out.",
        [](hostile_case& c) { c.left.light_levels = false; });
    add("10^300 cd/m²", "propSet(\"MasteringDisplayMaxLuminance\", Value(\"1e300\"))\n",
        keeps_doubles(options)
            ? "frame 0's MasteringDisplayMaxLuminance 1e+300 cd/m² is past what ST 2086 holds (above 0, at most "
              "10000): the mastering display's luminance is left out."
            : "frame 0's MasteringDisplayMaxLuminance is inf, not a number a stream can carry: the mastering "
              "display's luminance is left out.",
        [](hostile_case& c) { c.left.display_luminance = false; });
    add("a light level of 2^40", "propSet(\"ContentLightLevelMax\", 1099511627776)\n",
        "frame 0's ContentLightLevelMax 1099511627776 cd/m² does not fit the 16 bits a light level has (0 to "
        "65535): the light levels are left out.",
        [](hostile_case& c) { c.left.light_levels = false; });
    add("a minimum above the maximum", "propSet(\"MasteringDisplayMinLuminance\", 2000.0)\n",
        "frame 0's MasteringDisplayMinLuminance 2000 cd/m² is not below the maximum, 1000: the mastering display's "
        "luminance is left out.",
        [](hostile_case& c) { c.left.display_luminance = false; });
    add("a chromaticity past 1", "propSet(\"MasteringDisplayWhitePointX\", 1.5)\n",
        "frame 0's MasteringDisplayWhitePointX 1.5 is no chromaticity (above 0, at most 1): the mastering "
        "display's primaries are left out.",
        [](hostile_case& c) { c.left.display_primaries = false; });
    add("the identity matrix on 4:2:0", "propSet(\"_Matrix\", 0)\n", "identity", [](hostile_case& c) {
        c.left.space = "unknown";
    });
    add("an aspect ratio past 16 bits", "propSet(\"_SARNum\", 1000000).propSet(\"_SARDen\", 1)\n",
        "1000000:1 (in lowest terms) does not fit", [](hostile_case& c) {
            c.left.sar = "1000000:1";
            c.sar_in_matroska = true;
        });
    add("an aspect ratio that does not reduce into 16 bits", "propSet(\"_SARNum\", 65537).propSet(\"_SARDen\", 65536)\n",
        "65537:65536 (in lowest terms) does not fit", [](hostile_case& c) {
            c.left.sar = "65537:65536";
            c.sar_in_matroska = true;
        });
    add("an aspect ratio that reduces into 16 bits", "propSet(\"_SARNum\", 262144).propSet(\"_SARDen\", 131072)\n",
        nullptr, [](hostile_case& c) { c.left.sar = "2:1"; });

    const std::string out = write_script("hostile/out.bin", "");
    for (const hostile_case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string script = write_script("hostile/clip.avs", c.script);
        // mkv: read whole, with what was left in.
        const run_result mkv = run_tool({"mkv", script}, options);
        EXPECT_EQ(mkv.status, 0) << mkv.err;
        if (c.warning && !c.sar_in_matroska) {
            EXPECT_NE(mkv.err.find(c.warning), std::string::npos) << mkv.err;
        }
        const std::string saved = write_script("hostile/clip.mkv", mkv.out);
        EXPECT_EQ(packets_of(saved), 3);
        EXPECT_EQ(facts_text(facts_of(saved, "mkv")), facts_text(c.left));

        for (const std::string encoder : {"x264", "x265", "svtav1"}) {
            SCOPED_TRACE(encoder);
            const run_result line = run_tool({encoder + "args", script}, options);
            ASSERT_EQ(line.status, 0) << line.err;
            // SVT-AV1 has no aspect ratio at all, and says so of any. The
            // encoders take a mastering display only whole.
            picture_facts expected = c.left;
            if (encoder == "svtav1" || c.sar_in_matroska)
                expected.sar = "none";
            expected.display_primaries = expected.display_luminance = c.left.display_primaries && c.left.display_luminance;
            if (c.warning && !(c.sar_in_matroska && encoder == "svtav1")) {
                EXPECT_NE(line.err.find(c.warning), std::string::npos) << line.err;
            }
            int status = -1;
            const std::string log =
                shell("ARGS=" + shell("printf %q '" + line.out + "'") + "; " + tool_command(options) + " video '" +
                          script + "' 2>/dev/null | " + encode_command(encoder, out) + " 2>&1",
                      &status);
            ASSERT_EQ(status, 0) << line.out << "\n" << log;
            EXPECT_EQ(facts_text(facts_of(out, encoder)), facts_text(expected)) << line.out;
        }
    }

    // Interlaced video at a height x264 cannot code in field pairs (4:2:0 by
    // 4 rows, else by 2). Where the stream's header says progressive, the
    // line leaves the field order out and x264 encodes the frames as they
    // are; where the header says interlaced, x264 takes that from the
    // stream and refuses it whatever the line says, so the line is refused.
    // x265 only marks the frames and takes any height.
    const struct {
        const char* depth;
        const char* script;
        const char* x264_says;
        bool x264_takes;
    } heights[] = {
        {"--depth=keep",
         "BlankClip(length=3, width=96, height=98, pixel_type=\"YV12\", fps=25).AssumeFieldBased().AssumeTFF()\n",
         "clipspout [error]: x264 codes interlaced video only at a height divisible by 4 (here 98), and the stream's "
         "header says it is interlaced: ",
         false},
        {"--depth=keep",
         "BlankClip(length=3, width=96, height=97, pixel_type=\"YV24\", fps=25).AssumeFieldBased().AssumeTFF()\n",
         "clipspout [error]: x264 codes interlaced video only at a height divisible by 2 (here 97)", false},
        // By default the header follows the clip's flags (progressive here);
        // frame 0 says top field first.
        {"--depth=default", "BlankClip(length=3, width=96, height=97, pixel_type=\"YV24\", fps=25)\n"
                            "propSet(\"_FieldBased\", 2)\n",
         "clipspout [warn]: x264 codes interlaced video only at a height divisible by 2 (here 97): the "
         "top-field-first frames are encoded as progressive.\n",
         true},
    };
    for (const auto& h : heights) {
        SCOPED_TRACE(h.script);
        const std::string script = write_script("hostile/field.avs", h.script);
        std::vector<std::string> depth;
        if (std::string(h.depth) != "--depth=default")
            depth.push_back(h.depth);
        auto args = [&](const std::string& mode) {
            std::vector<std::string> a = depth;
            a.push_back(mode);
            a.push_back(script);
            return a;
        };
        const run_result x264 = run_tool(args("x264args"), options);
        EXPECT_EQ(x264.status, h.x264_takes ? 0 : 2) << x264.err;
        EXPECT_NE(x264.err.find(h.x264_says), std::string::npos) << x264.err;
        EXPECT_EQ(x264.out.find("ff"), std::string::npos) << x264.out;
        const run_result x265 = run_tool(args("x265args"), options);
        EXPECT_NE(x265.out.find("--interlace \"tff\""), std::string::npos) << x265.out;
        for (const std::string encoder : {"x264", "x265"}) {
            const run_result line = encoder == "x264" ? x264 : x265;
            if (line.status != 0)
                continue;
            int status = -1;
            const std::string log = shell("ARGS=" + shell("printf %q '" + line.out + "'") + "; " +
                                              tool_command(options) + " " + (depth.empty() ? "" : depth[0]) +
                                              " video '" + script + "' 2>/dev/null | " +
                                              encode_command(encoder, out) + " 2>&1",
                                          &status);
            EXPECT_EQ(status, 0) << encoder << ": " << line.out << "\n" << log;
        }
    }
}

void check_hostile_timing(const run_options& options)
{
    const std::string film = "BlankClip(length=24, width=32, height=16, pixel_type=\"YV12\", fps=25)\n";
    auto timed = [&](const std::string& num, const std::string& den) {
        return film + "propSet(\"_DurationNum\", " + num + ").propSet(\"_DurationDen\", " + den + ")\n";
    };
    const std::string pts = "ffprobe -v error -select_streams v -show_entries packet=pts -of csv=p=0";

    // Frames shorter than a millisecond, at the clip's rate or by their own
    // durations: each keeps a timestamp of its own, and an encode of the
    // stream keeps all 24.
    for (const std::string& script :
         {std::string("BlankClip(length=24, width=32, height=16, pixel_type=\"YV12\", fps=1200, audio_rate=48000)\n"),
          timed("1", "10000")}) {
        SCOPED_TRACE(script);
        const run_result mkv = run_tool({"mkv", write_script("hostile/fast.avs", script)}, options);
        ASSERT_EQ(mkv.status, 0) << mkv.err;
        EXPECT_EQ(mkv.err.find("share a timestamp"), std::string::npos) << mkv.err;
        std::istringstream times(read_through_pipe(mkv.out, pts + " -"));
        long long last = -1, count = 0;
        for (std::string line; std::getline(times, line); ++count) {
            const long long t = std::stoll(line);
            EXPECT_GT(t, last) << "frame " << count << " shares its timestamp";
            last = t;
        }
        EXPECT_EQ(count, 24);
        const std::string encoded = write_script("hostile/fast.mkv", "");
        int status = -1;
        const std::string log = shell(tool_command(options) + " mkv '" + write_script("hostile/fast.avs", script) +
                                          "' 2>/dev/null | ffmpeg -v error -y -i - -c:v ffv1 -f matroska -fps_mode "
                                          "passthrough '" + encoded + "' 2>&1",
                                      &status);
        EXPECT_EQ(status, 0) << log;
        EXPECT_EQ(packets_of(encoded), 24);
        // The timecodes' six decimals hold them too.
        const std::string tc = write_script("hostile/fast.tc", "");
        const run_result video = run_tool({"--timecodes", tc, "video", write_script("hostile/fast.avs", script)},
                                          options);
        EXPECT_EQ(video.status, 0) << video.err;
        EXPECT_EQ(video.err.find("share a start"), std::string::npos) << video.err;
        EXPECT_NE(read_file(tc).find("\n0.000000\n0."), std::string::npos) << read_file(tc);
    }

    // Frames shorter than a nanosecond cannot: said, and the stream is read
    // whole.
    const run_result finest = run_tool(
        {"mkv", write_script("hostile/finest.avs", "BlankClip(length=24, width=32, height=16, pixel_type=\"YV12\", "
                                                   "fps=2147483647, fps_denominator=1, audio_rate=0)\n")},
        options);
    EXPECT_EQ(finest.status, 0) << finest.err;
    EXPECT_NE(finest.err.find("clipspout [warn]: frame 1 starts within the same timestamp unit (1 ns, the finest "
                              "this stream has) as the frame before it: "),
              std::string::npos)
        << finest.err;
    EXPECT_EQ(read_through_pipe(finest.out, "ffprobe -v error -select_streams v -show_entries packet=pts -of csv=p=0 - "
                                            "| wc -l"),
              "24\n");
    const std::string finest_tc = write_script("hostile/finest.tc", "");
    const run_result finest_video =
        run_tool({"--timecodes", finest_tc, "video", write_script("hostile/finest.avs", "BlankClip(length=24, "
                                                                  "width=32, height=16, pixel_type=\"YV12\", "
                                                                  "fps=2147483647, fps_denominator=1)\n")},
                 options);
    EXPECT_EQ(finest_video.status, 0) << finest_video.err;
    EXPECT_NE(finest_video.err.find("clipspout [warn]: frame 1 starts within the same nanosecond as the frame before "
                                    "it, the finest time the timecodes' 6 decimals of a millisecond say: "),
              std::string::npos)
        << finest_video.err;

    // Times past what a stream can say: status 2 before the stream starts,
    // saying they are too long (Matroska: 64-bit nanoseconds; the
    // timecodes: 64-bit milliseconds).
    const struct {
        std::string seconds;
        bool timecodes_fit;
    } long_frames[] = {{"10000000000000", true}, {"10000000000000000", false}};
    for (const auto& l : long_frames) {
        SCOPED_TRACE(l.seconds + " s a frame");
        if (!keeps_64_bit_integers(options))
            break;  // a script cannot say such a duration there
        const std::string script = write_script("hostile/long.avs", timed(l.seconds, "1"));
        const run_result mkv = run_tool({"mkv", script}, options);
        EXPECT_EQ(mkv.status, 2);
        EXPECT_EQ(mkv.out, "");
        EXPECT_NE(mkv.err.find("clipspout [error]: cannot write the clip in Matroska: the clip lasts "), std::string::npos)
            << mkv.err;
        EXPECT_NE(mkv.err.find("the stream's times can say: too long.\n"), std::string::npos) << mkv.err;

        const std::string tc = write_script("hostile/long.tc", "");
        const run_result video = run_tool({"--timecodes", tc, "video", script}, options);
        if (l.timecodes_fit) {
            EXPECT_EQ(video.status, 0) << video.err;
            const std::string start = "# timestamp format v2\n0.000000\n10000000000000000.000000\n"
                                      "20000000000000000.000000\n";
            EXPECT_EQ(read_file(tc).substr(0, start.size()), start);
            EXPECT_NE(read_file(tc).find("\n230000000000000000.000000\n"), std::string::npos);
        } else {
            EXPECT_EQ(video.status, 2);
            EXPECT_EQ(video.out, "");
            EXPECT_NE(video.err.find("too long.\n"), std::string::npos) << video.err;
        }
    }
}

void check_hostile_runs(const run_options& options)
{
    // No frames and no samples: each stream is its header, which readers
    // take (ffprobe reads a Matroska stream only with a Cluster, so it gets
    // an empty one).
    const struct {
        const char* mode;
        const char* script;
        const char* codec;
    } empty[] = {
        {"mkv", "BlankClip(length=0, width=32, height=16, pixel_type=\"YV12\", audio_rate=0)\n", "rawvideo\n"},
        {"mkv", "BlankClip(length=0, width=32, height=16, pixel_type=\"YV12\", audio_rate=48000)\n",
         "rawvideo\npcm_s16le\n"},
        {"mkv", "BlankClip(length=0, audio_rate=48000).KillVideo()\n", "pcm_s16le\n"},
        {"video", "BlankClip(length=0, width=32, height=16, pixel_type=\"YV12\")\n", "rawvideo\n"},
        {"audio", "BlankClip(length=0, audio_rate=48000).KillVideo()\n", "pcm_s16le\n"},
    };
    for (const auto& e : empty) {
        SCOPED_TRACE(std::string(e.mode) + " " + e.script);
        const run_result r = run_tool({e.mode, write_script("hostile/empty.avs", e.script)}, options);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(read_through_pipe(r.out, "ffprobe -v error -show_entries stream=codec_name -of csv=p=0 -"), e.codec);
        EXPECT_EQ(read_through_pipe(r.out, "ffmpeg -v error -i - -f null - 2>&1; echo $?"), "0\n");
    }

    // A rate of 0, which AssumeFPS takes: no stream can state it (x264
    // reads F0:1 as 25 fps, x265 refuses it), so no stream starts.
    const std::string still = write_script(
        "hostile/still.avs", "BlankClip(length=3, width=32, height=16, pixel_type=\"YV12\").AssumeFPS(0, 1)\n");
    for (const std::vector<std::string>& args : {std::vector<std::string>{"video", still},
                                                 {"--timecodes", write_script("hostile/still.tc", ""), "video", still},
                                                 {"mkv", still}}) {
        const run_result r = run_tool(args, options);
        EXPECT_EQ(r.status, 2) << args[0];
        EXPECT_EQ(r.out, "") << args[0];
        EXPECT_NE(r.err.find("clipspout [error]: the clip's frame rate 0/1 gives its frames no duration.\n"),
                  std::string::npos)
            << r.err;
    }

    // Audio no stream can carry, which AviSynth+'s BlankClip takes: each
    // audio mode refuses it before writing (fetching it would overrun any
    // buffer sized from it), and WAV's 16-bit channel field is not wrapped.
    const struct {
        const char* script;
        const char* says;
        std::vector<std::string> modes;
    } audio_shapes[] = {
        {"BlankClip(length=240, audio_rate=-48000).KillVideo()\n", "the clip's audio rate is -48000 Hz.",
         {"audio", "mkv", "meter"}},
        {"BlankClip(length=3, audio_rate=48000, channels=0).KillVideo()\n",
         "cannot write audio of sample type 2 in 0 channels.", {"audio", "mkv", "meter"}},
        {"BlankClip(length=3, width=32, height=16, pixel_type=\"YV12\", audio_rate=48000, channels=-2)\n",
         "cannot write audio of sample type 2 in -2 channels.", {"audio", "mkv"}},
        {"BlankClip(length=1, fps=1000, audio_rate=48000, channels=70000).KillVideo()\n",
         "cannot write audio in 70000 channels: the stream holds at most 65535.", {"audio"}},
    };
    for (const auto& shape : audio_shapes) {
        const std::string script = write_script("hostile/shape.avs", shape.script);
        for (const std::string& mode : shape.modes) {
            SCOPED_TRACE(mode + " " + shape.script);
            const run_result r = run_tool({mode, script}, options);
            EXPECT_EQ(r.signal, 0);
            EXPECT_EQ(r.status, 2);
            EXPECT_EQ(r.out, "");
            EXPECT_NE(r.err.find(std::string("clipspout [error]: ") + shape.says + "\n"), std::string::npos) << r.err;
        }
    }
    // 70000 channels fit Matroska's field and meter's reading; a second of
    // them is 6.7 GB, fetched in pieces.
    const run_result wide = run_tool({"meter", write_script("hostile/shape.avs", audio_shapes[3].script)}, options);
    EXPECT_EQ(wide.status, 0) << wide.err;
    // 2^31-1 Hz beside video: the blocks stay small enough for readers
    // (ffmpeg refuses one past 256 MiB, which a second of it would be), and
    // every sample arrives.
    const run_result fast = run_tool(
        {"mkv", write_script("hostile/rate.avs", "BlankClip(length=1, fps=100, width=32, height=16, "
                                                 "pixel_type=\"YV12\", audio_rate=2147483647)\n")},
        options);
    EXPECT_EQ(fast.status, 0) << fast.err;
    const std::string largest = read_through_pipe(
        fast.out, "ffprobe -v error -select_streams a -show_entries packet=size -of csv=p=0 - | sort -n | tail -1");
    ASSERT_NE(largest, "");
    EXPECT_LE(std::stoll(largest), 8ll << 20);
    EXPECT_EQ(read_through_pipe(fast.out, "ffmpeg -v error -i - -map 0:a -f s16le - | wc -c"), "42949672\n");

    // A clip held in a frame property: every mode ends as it should, with
    // no signal after a complete output.
    const std::string held = write_script(
        "hostile/held.avs", "BlankClip(length=3, width=32, height=16, pixel_type=\"YV12\").propSet(\"foo\", "
                            "BlankClip())\n");
    // (AviSynth+ before 3.7 keeps no clip in a property: propSet refuses it.)
    const bool holds_clips = server_says(options, "IsClip(propGetAny(BlankClip().propSet(\"foo\", BlankClip()), "
                                                  "\"foo\"))");
    for (const char* mode : {"info", "video", "audio", "mkv", "x265args"}) {
        if (!holds_clips)
            break;
        const run_result r = run_tool({mode, held}, options);
        EXPECT_EQ(r.signal, 0) << mode;
        EXPECT_EQ(r.status, 0) << mode << ": " << r.err;
    }

    // Closed standard streams. Without standard output there is nowhere to
    // write: an error before anything is opened, so the timecodes file
    // never takes its place. Without standard input or error the tool runs
    // as it would, and its timecodes hold nothing but timecodes.
    const std::string script = write_script("hostile/closed.avs", "BlankClip(length=3, width=32, height=16, "
                                                                   "pixel_type=\"YV12\", fps=25)\n");
    const run_result plain = run_tool({"video", script}, options);
    const std::string tc = write_script("hostile/closed.tc", "");
    std::remove(tc.c_str());
    run_options no_stdout = options;
    no_stdout.close_stdout = true;
    const run_result closed = run_tool({"--timecodes", tc, "video", script}, no_stdout);
    EXPECT_EQ(closed.status, 2);
    if (testing_windows_build()) {
        // Wine hands a program whose descriptor 1 is closed a standard
        // handle that fails every write (a Windows parent passes none, and
        // the tool refuses that at once): the stream fails, and nothing
        // else takes its bytes.
        EXPECT_NE(closed.err.find("clipspout [error]: only wrote 0 of 3 frames.\n"), std::string::npos) << closed.err;
        EXPECT_EQ(read_file(tc), "# timestamp format v2\n");
    } else {
        EXPECT_EQ(closed.err, "clipspout [error]: standard output is closed.\n");
        FILE* created = fopen(tc.c_str(), "r");
        EXPECT_EQ(created, nullptr) << "the timecodes file was created";
        if (created)
            fclose(created);
    }
    for (const bool in : {true, false}) {
        SCOPED_TRACE(in ? "without standard input" : "without standard error");
        run_options without = options;
        (in ? without.close_stdin : without.close_stderr) = true;
        const run_result r = run_tool({"--timecodes", tc, "video", script}, without);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_TRUE(r.out == plain.out) << "the stream differs";
        EXPECT_EQ(read_file(tc), "# timestamp format v2\n0.000000\n40.000000\n80.000000\n");
    }
}

void check_frame0_failures(const run_options& options, const std::string& fault, const std::string& message,
                           bool reads_properties)
{
    // Every mode whose output depends on frame 0 ends before it prints or
    // writes anything, with the frame server's reason.
    const std::string script = write_script(
        "hostile/frame0.avs", "BlankClip(length=30, width=64, height=48, pixel_type=\"YV12\", fps=25)\n" + fault +
                                  "\n");
    const struct {
        std::vector<std::string> args;
        bool without_properties_too;  // reads frame 0 whatever the frame server has
    } modes[] = {
        {{"--json", "info"}, true}, {{"x264args"}, false}, {{"x265args"}, false},
        {{"svtav1args"}, false},    {{"video"}, false},    {{"mkv"}, false},
        {{"--depth=keep", "video"}, false},
    };
    for (const auto& m : modes) {
        if (!reads_properties && !m.without_properties_too)
            continue;
        std::vector<std::string> args = m.args;
        args.push_back(script);
        SCOPED_TRACE(args[0] + " " + args[args.size() - 2]);
        const run_result r = run_tool(args, options);
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.out, "");
        EXPECT_NE(r.err.find("clipspout [error]: cannot read frame 0: " + message + ".\n"), std::string::npos)
            << r.err;
    }
}
