// The tool against the real AviSynth+, with its own script syntax and core
// filters: plane bytes where the script fixes them, consistency between a
// clip and its slices where it does not, real decoders, the failure roads,
// and agreement with the stand-in on everything but pixel content.
//
// Runs where the suite is given a real frame server
// (CLIPSPOUT_TEST_REAL_FRAMESERVER, set by scripts/test.sh).

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <thread>

#include "batch_cases.h"
#include "encoder_args_cases.h"
#include "field_order_cases.h"
#include "matroska_cases.h"
#include "timecodes_cases.h"
#include "harness.h"
#include "hostile_cases.h"
#include "interface_cases.h"
#include "interrupt_cases.h"
#include "program_cases.h"
#include "report_cases.h"

namespace {

// Makes each of the first 12 frames of a clip differ from the others, the
// same way on every version. (ShowFrameNumber would number them, but on
// AviSynth+ 3.6.1 it draws into a frame its source shares, so a frame shows
// the digits of the frames fetched before it.)
constexpr const char* NUMBERED = "Animate(0, 11, \"Levels\", 0, 1.0, 255, 0, 255, 0, 1.0, 255, 110, 255)";

// A test of what the tool makes of frame properties, on a server that gives
// none (those tests run on every version that does; what the tool does
// without them is tested on its own).
#define SKIP_WITHOUT_PROPERTIES()             \
    if (!real_server_gives_properties())      \
    GTEST_SKIP() << NO_PROPERTIES_REASON

class RealServer : public testing::Test {
protected:
    void SetUp() override
    {
        if (real_frameserver().empty())
            GTEST_SKIP() << "no real frame server: CLIPSPOUT_TEST_REAL_FRAMESERVER is not set";
    }
};

run_options on_real_server()
{
    run_options options;
    options.frameserver = real_frameserver();
    return options;
}

run_result run_real(const std::string& mode, const std::string& script_name, const std::string& script)
{
    return run_tool({mode, write_script(script_name, script)}, on_real_server());
}

struct video_layout {
    const char* pixel_type;
    int width, height;  // widths whose rows are shorter than the frame server's pitch
    const char* conversion;
    const char* chroma_tag;
    int planes, shift_w, shift_h;
    const char* pix_fmt;
    const char* colour;       // BlankClip argument that fixes the plane bytes
    unsigned char y, u, v;    // those bytes, after any conversion
    // RGB: the versions of AviSynth+ convert it to YUV with other results
    // (3.6.1's are not 3.7.5's), so the bytes are the server's own, from a
    // script that ends with this conversion; y, u and v are 3.7.5's.
    const char* server_conversion = nullptr;
};

// color_yuv=$515AF0 gives Y 0x51, U 0x5A, V 0xF0; mid grey in RGB becomes
// limited-range Y 16 + 219 * 128 / 255 = 126 with neutral chroma.
const video_layout layouts[] = {
    {"YV24", 66, 4, nullptr, "444", 3, 0, 0, "yuv444p", "color_yuv=$515AF0", 0x51, 0x5A, 0xF0},
    {"RGB24", 66, 4, "yv24", "444", 3, 0, 0, "yuv444p", "color=$808080", 0x7E, 0x80, 0x80, "ConvertToYV24()"},
    {"RGB32", 66, 4, "yv24", "444", 3, 0, 0, "yuv444p", "color=$808080", 0x7E, 0x80, 0x80, "ConvertToYV24()"},
    {"YV16", 66, 4, nullptr, "422", 3, 1, 0, "yuv422p", "color_yuv=$515AF0", 0x51, 0x5A, 0xF0},
    {"YUY2", 66, 4, "yv16", "422", 3, 1, 0, "yuv422p", "color_yuv=$515AF0", 0x51, 0x5A, 0xF0},
    {"YV411", 68, 4, nullptr, "411", 3, 2, 0, "yuv411p", "color_yuv=$515AF0", 0x51, 0x5A, 0xF0},
    {"Y8", 70, 4, nullptr, "mono", 1, 0, 0, "gray", "color_yuv=$515AF0", 0x51, 0, 0},
    {"YV12", 66, 6, nullptr, "420", 3, 1, 1, "yuv420p", "color_yuv=$515AF0", 0x51, 0x5A, 0xF0},
    // At a multiple of 64 the rows lie back to back: a plane goes out as one run.
    {"YV12", 128, 6, nullptr, "420", 3, 1, 1, "yuv420p", "color_yuv=$515AF0", 0x51, 0x5A, 0xF0},
    {"YUV420P10", 66, 6, "yv12", "420", 3, 1, 1, "yuv420p", "color_yuv=$515AF0", 0x51, 0x5A, 0xF0},
    {"Y16", 66, 6, "yv12", "420", 3, 1, 1, "yuv420p", "color_yuv=$515AF0", 0x51, 0x80, 0x80},
    // 8 rows: AviSynth+ 3.7.3 resizes RGB's chroma only from 8 rows up.
    {"RGBP10", 66, 8, "yv12", "420", 3, 1, 1, "yuv420p", "color=$808080", 0x7E, 0x80, 0x80,
     "ConvertBits(8).ConvertToYV12()"},
};

size_t frame_bytes(const video_layout& l)
{
    size_t luma = static_cast<size_t>(l.width) * l.height;
    return luma + (l.planes - 1) * static_cast<size_t>(l.width >> l.shift_w) * (l.height >> l.shift_h);
}

std::string header_line(const video_layout& l, const std::string& rate, const char* field)
{
    return "YUV4MPEG2 W" + std::to_string(l.width) + " H" + std::to_string(l.height) + " F" + rate + " I" + field +
           " A0:0 C" + l.chroma_tag + "\n";
}

// The frames of a stream whose header line is known; empty if the stream
// does not consist of that header and whole frames.
std::vector<std::string> frames_of(const std::string& stream, const std::string& header, size_t bytes)
{
    std::vector<std::string> frames;
    if (stream.compare(0, header.size(), header) != 0)
        return {};
    for (size_t at = header.size(); at < stream.size(); at += 6 + bytes) {
        if (stream.compare(at, 6, "FRAME\n") != 0 || stream.size() - at < 6 + bytes)
            return {};
        frames.push_back(stream.substr(at + 6, bytes));
    }
    return frames;
}

std::string writing_line(int frames, const std::string& rate, const video_layout& l, const char* word)
{
    return "clipspout [info]: writing " + std::to_string(frames) + " frames of " + rate + " fps, " +
           std::to_string(l.width) + "x" + std::to_string(l.height) + " YUV" + l.chroma_tag + " " + word +
           " video.\n";
}

std::string summary_line(int written, int percent)
{
    return "\rclipspout [info]: finished, wrote " + std::to_string(written) + " frames [" + std::to_string(percent) +
           "%].\n";
}

const video_layout& layout_named(const char* pixel_type)
{
    for (const video_layout& l : layouts)
        if (std::string(l.pixel_type) == pixel_type)
            return l;
    abort();
}

}  // namespace

TEST_F(RealServer, EveryModeRuns)
{
    const std::string script =
        "BlankClip(length=48, width=1920, height=1080, pixel_type=\"YV12\", fps=24000, fps_denominator=1001, "
        "audio_rate=48000, channels=2, sample_type=\"16bit\")\n";

    run_result info = run_real("info", "modes.avs", script);
    EXPECT_EQ(info.status, 0) << info.err;
    EXPECT_EQ(info.err, "");
    EXPECT_EQ(lf_text(info.out), "v:width       1920\nv:height      1080\nv:fps         24000/1001\nv:frames      48\n"
                        "v:duration    2\nv:interlaced  no\nv:pixel_type  a0000008\na:sample_rate 48000\n"
                        "a:format      pcm\na:bit_depth   16\na:channels    2\na:samples     96096\n"
                        "a:duration    2\n");

    run_result bd = run_real("x264bd", "modes.avs", script);
    EXPECT_EQ(bd.status, 0) << bd.err;
    EXPECT_EQ(bd.out, "--weightp 1 --bframes 3 --nal-hrd vbr --vbv-maxrate 15000 --vbv-bufsize 30000 --level 4.1 "
                      "--keyint 24 --b-pyramid strict --open-gop --bluray-compat --slices 4 --ref 4  --aud "
                      "--colorprim \"bt709\" --transfer \"bt709\" --colormatrix \"bt709\"");

    run_result video = run_real("video", "modes.avs", script);
    EXPECT_EQ(video.status, 0) << video.err;
    EXPECT_EQ(video.out.size(), std::string("YUV4MPEG2 W1920 H1080 F24000:1001 Ip A0:0 C420\n").size() +
                                    48 * (6 + 1920 * 1080 * 3 / 2));

    run_result audio = run_real("audio", "modes.avs", script);
    EXPECT_EQ(audio.status, 0) << audio.err;
    EXPECT_EQ(audio.err, "clipspout [info]: writing 2 seconds of 48000 Hz, 2 channel audio.\n"
                         "\rclipspout [info]: finished, wrote 2 seconds [100%].\n");
    EXPECT_EQ(audio.out.size(), 80u + 96096 * 4);
}

TEST_F(RealServer, EveryLayoutCarriesThePlaneBytesTheScriptFixes)
{
    for (const video_layout& l : layouts) {
        SCOPED_TRACE(l.pixel_type);
        std::string script = "BlankClip(length=3, width=" + std::to_string(l.width) + ", height=" +
                             std::to_string(l.height) + ", pixel_type=\"" + l.pixel_type + "\", fps=25, " + l.colour +
                             ")\n";
        run_result r = run_real("video", std::string("plane_") + l.pixel_type + ".avs", script);
        EXPECT_EQ(r.status, 0) << r.err;
        std::string err = l.conversion ? std::string("clipspout [info]: converting video to ") + l.conversion + ".\n"
                                       : std::string();
        EXPECT_EQ(r.err, err + writing_line(3, "25/1", l, "progressive") + summary_line(3, 100));

        std::string expected(static_cast<size_t>(l.width) * l.height, static_cast<char>(l.y));
        size_t chroma = static_cast<size_t>(l.width >> l.shift_w) * (l.height >> l.shift_h);
        if (l.planes == 3)
            expected += std::string(chroma, static_cast<char>(l.u)) + std::string(chroma, static_cast<char>(l.v));
        if (l.server_conversion) {
            run_result own = run_real("video", "own.avs", script + l.server_conversion + "\n");
            const std::vector<std::string> converted = frames_of(own.out, header_line(l, "25:1", "p"), frame_bytes(l));
            ASSERT_EQ(converted.size(), 3u) << own.err;
            expected = converted[0];
        }
        std::vector<std::string> frames = frames_of(r.out, header_line(l, "25:1", "p"), frame_bytes(l));
        ASSERT_EQ(frames.size(), 3u) << r.out.substr(0, 60);
        for (const std::string& frame : frames)
            EXPECT_TRUE(frame == expected) << "plane bytes differ";
    }
}

TEST_F(RealServer, TrimmedStreamIsTheMatchingSliceOfTheWholeOne)
{
    // Colour bars, every frame a little brighter than the one before.
    const char* pixel_types[] = {"YV24", "RGB32", "YV16", "YUY2", "YV411", "YV12", "YUV420P10"};
    struct {
        const char* trim;
        int first, count;
    } slices[] = {{"Trim(3, 7)", 3, 5}, {"Trim(11, 11)", 11, 1}, {"Trim(0, -1)", 0, 1}};
    int index = 0;
    for (const char* pixel_type : pixel_types) {
        SCOPED_TRACE(pixel_type);
        video_layout l = layout_named(pixel_type);
        // Rows shorter than the pitch, and rows back to back.
        l.width = index++ % 2 ? 128 : 132;
        l.height = 40;
        std::string source = "ColorBars(width=" + std::to_string(l.width) + ", height=40, pixel_type=\"" +
                             pixel_type + "\")." + NUMBERED + "\n";
        run_result whole = run_real("video", "whole.avs", source + "Trim(0, 11)\n");
        ASSERT_EQ(whole.status, 0) << whole.err;
        std::vector<std::string> all = frames_of(whole.out, header_line(l, "30000:1001", "p"), frame_bytes(l));
        ASSERT_EQ(all.size(), 12u);
        for (int n = 1; n < 12; ++n)
            EXPECT_NE(all[n - 1], all[n]) << "frames " << n - 1 << " and " << n << " are alike";

        for (const auto& s : slices) {
            run_result part = run_real("video", "part.avs", source + s.trim + "\n");
            EXPECT_EQ(part.status, 0) << s.trim << part.err;
            std::vector<std::string> frames = frames_of(part.out, header_line(l, "30000:1001", "p"), frame_bytes(l));
            EXPECT_TRUE(frames == std::vector<std::string>(all.begin() + s.first, all.begin() + s.first + s.count))
                << s.trim;
        }
    }
}

TEST_F(RealServer, FfmpegDecodesEveryLayoutAndFieldOrder)
{
    struct {
        const char* pixel_type;
        const char* tail;
        const char* field_letter;
        const char* info_word;
        const char* ffmpeg_order;
    } cases[] = {
        {"YV24", "", "p", "no", "progressive"},
        {"RGB24", "", "p", "no", "progressive"},
        {"YV16", "", "p", "no", "progressive"},
        {"YUY2", "", "p", "no", "progressive"},
        {"YV411", "", "p", "no", "progressive"},
        {"Y8", "", "p", "no", "progressive"},
        {"YV12", "AssumeFieldBased()", "t", "tff", "tt"},
        {"YV12", "AssumeFieldBased().AssumeBFF()", "b", "bff", "bb"},
        {"YV12", "AssumeFieldBased().AssumeTFF()", "t", "tff", "tt"},
        {"YV12", "AssumeTFF()", "p", "no", "progressive"},  // the top-field-first bit alone is not interlaced
        {"RGBP10", "AssumeFieldBased().AssumeBFF()", "b", "bff", "bb"},
    };
    for (const auto& c : cases) {
        const video_layout& l = layout_named(c.pixel_type);
        SCOPED_TRACE(std::string(c.pixel_type) + " " + c.tail);
        std::string script = "BlankClip(length=10, width=" + std::to_string(l.width) + ", height=" +
                             std::to_string(l.height) + ", pixel_type=\"" + l.pixel_type + "\", fps=25)\n" + c.tail +
                             "\n";
        run_result info = run_real("info", "decode.avs", script);
        EXPECT_NE(lf_text(info.out).find(std::string("v:interlaced  ") + c.info_word + "\n"), std::string::npos) << info.out;

        run_result r = run_real("video", "decode.avs", script);
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out.substr(0, r.out.find('\n') + 1), header_line(l, "25:1", c.field_letter));
        std::string file = write_script("decode.y4m", r.out);
        std::string probe = shell("ffprobe -v error -count_frames -show_entries "
                                  "stream=width,height,pix_fmt,field_order,nb_read_frames -of default=nw=1 '" +
                                  file + "'");
        EXPECT_EQ(probe, "width=" + std::to_string(l.width) + "\nheight=" + std::to_string(l.height) +
                             "\npix_fmt=" + l.pix_fmt + "\nfield_order=" + c.ffmpeg_order + "\nnb_read_frames=10\n");
    }
}

TEST_F(RealServer, EverySampleTypeWithToneAndItsTrimmedSlice)
{
    struct {
        const char* sample_type;
        const char* conversion;
        int bytes;
        const char* raw_format;
    } cases[] = {
        {"8bit", "ConvertAudioTo8bit", 1, "u8"},       {"16bit", "ConvertAudioTo16bit", 2, "s16le"},
        {"24bit", "ConvertAudioTo24bit", 3, "s24le"},  {"32bit", "ConvertAudioTo32bit", 4, "s32le"},
        {"float", "ConvertAudioToFloat", 4, "f32le"},
    };
    // 2.5 seconds: two whole one-second blocks and a half one; at 24 fps a
    // frame holds exactly 2000 sample frames. Tone steps its phase sample by
    // sample from where each fetch starts; at 750 Hz that step is 1/64,
    // exact in binary, so a sample is the same whichever fetch brings it.
    const std::string tone = "AudioDub(BlankClip(length=60, width=64, height=48, pixel_type=\"YV12\", fps=24), "
                             "Tone(length=2.5, frequency=750, samplerate=48000, channels=3, type=\"Sine\"))\n";
    std::string raw = write_script("tone.raw", "");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.sample_type);
        const size_t frame_size = 3u * c.bytes;

        // BlankClip gives silence of the asked type.
        run_result blank = run_real("audio", "blank.avs",
                                    std::string("BlankClip(length=60, fps=24, audio_rate=48000, channels=3, "
                                                "sample_type=\"") + c.sample_type + "\")\n");
        EXPECT_EQ(blank.status, 0) << blank.err;
        ASSERT_EQ(blank.out.size(), 80 + 120000 * frame_size);
        EXPECT_EQ(static_cast<unsigned char>(blank.out[20]) | static_cast<unsigned char>(blank.out[21]) << 8, 0xFFFE);
        EXPECT_EQ(static_cast<unsigned char>(blank.out[34]), c.bytes * 8);
        EXPECT_EQ(static_cast<unsigned char>(blank.out[44]), std::string(c.sample_type) == "float" ? 3 : 1);
        run_result info = run_real("info", "blank.avs",
                                   std::string("BlankClip(sample_type=\"") + c.sample_type + "\").KillVideo()\n");
        EXPECT_NE(lf_text(info.out).find("a:bit_depth   " + std::to_string(c.bytes * 8) + "\n"), std::string::npos);

        run_result whole = run_real("audio", "tone.avs", tone + c.conversion + "()\n");
        EXPECT_EQ(whole.status, 0) << whole.err;
        EXPECT_EQ(whole.err, "clipspout [info]: writing 2 seconds of 48000 Hz, 3 channel audio.\n"
                             "\rclipspout [info]: finished, wrote 2 seconds [100%].\n");
        ASSERT_EQ(whole.out.size(), 80 + 120000 * frame_size);
        std::string samples = whole.out.substr(80);
        EXPECT_NE(samples, std::string(samples.size(), samples[0])) << "Tone gave no signal";

        run_result part = run_real("audio", "tone_part.avs", tone + c.conversion + "()\nTrim(12, 35)\n");
        EXPECT_EQ(part.status, 0) << part.err;
        EXPECT_TRUE(part.out.substr(80) == samples.substr(24000 * frame_size, 48000 * frame_size))
            << "the trimmed track is not the matching slice";

        int status = -1;
        std::string file = write_script("tone.wav", whole.out);
        shell("ffmpeg -v error -y -i '" + file + "' -f " + c.raw_format + " '" + raw + "'", &status);
        EXPECT_EQ(status, 0);
        EXPECT_TRUE(read_file(raw) == samples) << "ffmpeg decoded other samples";
    }
}

TEST_F(RealServer, FailureRoads)
{
    const std::string not_a_clip = "clipspout [error]: avs files return value is not a clip.\n";
    std::string script = write_script("assert.avs", "Assert(false, \"the script's own failure\")\n");
    run_result r = run_tool({"info", script}, on_real_server());
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "clipspout [warn]: the script's own failure (" + script + ", line 1)\n" + not_a_clip);
    EXPECT_EQ(r.out, "");

    r = run_tool({"video", "/nonexistent/missing.avs"}, on_real_server());
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "clipspout [warn]: Import: couldn't open \"" + server_path("/nonexistent/missing.avs") + "\"\n" +
                         not_a_clip);

    std::string folder = write_script("real_folder.avs", "");
    std::remove(folder.c_str());
    shell("mkdir '" + folder + "'");
    r = run_tool({"info", folder}, on_real_server());
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.signal, 0);
    EXPECT_EQ(r.err, "clipspout [error]: cannot import \"" + folder + "\": it is a folder, not a script.\n");

    r = run_real("video", "novideo.avs", "BlankClip().KillVideo()\n");
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "clipspout [error]: clip has no video.\n");
    EXPECT_EQ(r.out, "");
    r = run_real("audio", "noaudio.avs", "BlankClip().KillAudio()\n");
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "clipspout [error]: clip has no audio.\n");
    EXPECT_EQ(r.out, "");
}

TEST_F(RealServer, ClosedPipeAndFullDiskEndWithAnErrorAndAValidPrefix)
{
    struct {
        const char* mode;
        const char* script;
        std::string stream_start;  // what the first 1000 bytes must be
        std::string first_line;
        long long total;
        const char* unit;
    } cases[] = {
        {"video", "BlankClip(length=20, width=640, height=480, pixel_type=\"YV12\", fps=25, color_yuv=$515AF0)\n",
         "YUV4MPEG2 W640 H480 F25:1 Ip A0:0 C420\nFRAME\n" + std::string(1000, 'Q'),
         "clipspout [info]: writing 20 frames of 25/1 fps, 640x480 YUV420 progressive video.\n", 20, "frames"},
        {"audio", "BlankClip(length=240, fps=24, audio_rate=48000, channels=8, sample_type=\"32bit\")\n", "",
         "clipspout [info]: writing 10 seconds of 48000 Hz, 8 channel audio.\n", 480000, "samples"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mode);
        cut_short_runs runs = run_cut_short({c.mode, write_script("cut.avs", c.script)}, on_real_server());
        for (const run_result* r : {&runs.closed_pipe, &runs.full_disk}) {
            EXPECT_EQ(r->status, 2) << r->err;
            EXPECT_EQ(r->signal, 0);
            long long written = number_after(r->err, "only wrote ");
            EXPECT_GE(written, 0);
            EXPECT_LT(written, c.total);
            EXPECT_EQ(r->err.rfind(c.first_line + "\rclipspout [info]: finished, wrote ", 0), 0u) << r->err;
            EXPECT_NE(r->err.find("clipspout [error]: only wrote " + std::to_string(written) + " of " +
                                  std::to_string(c.total) + " " + c.unit + ".\n"),
                      std::string::npos)
                << r->err;
        }
        EXPECT_EQ(number_after(runs.full_disk.err, "only wrote "), 0);
        const std::string& out = runs.closed_pipe.out;
        if (c.stream_start.empty())  // a silent track: the header, then zeros
            EXPECT_EQ(out.substr(80), std::string(920, '\0'));
        else
            EXPECT_EQ(out, c.stream_start.substr(0, 1000));
    }
}

// The stand-in can only catch what it models right: on scripts both can
// run, everything but pixel content and samples must be equal.
TEST_F(RealServer, StandinAgreesOnReportsHeadersAndMessages)
{
    const char* scripts[] = {
        "BlankClip(length=10, width=64, height=48)",
        "BlankClip(length=10, width=66, height=10, pixel_type=\"YV12\", fps=30000, fps_denominator=1001, "
        "audio_rate=48000, channels=6, sample_type=\"24bit\")",
        "BlankClip(length=5, width=32, height=16, pixel_type=\"YUY2\", fps=29.97).AssumeFieldBased().AssumeBFF()",
        "BlankClip(length=3, width=1920, height=1080, pixel_type=\"YV12\", fps=25).AssumeFieldBased()",
        "BlankClip(length=3, width=720, height=480, pixel_type=\"YV411\", fps=30000, fps_denominator=1001, "
        "sample_type=\"float\")",
        "BlankClip(length=3, width=1280, height=720, pixel_type=\"YV24\", fps=50, sample_type=\"8bit\")",
        "BlankClip(length=3, width=16, height=16, pixel_type=\"Y8\").KillAudio()",
        "BlankClip(length=3, width=16, height=16, pixel_type=\"YV16\", sample_type=\"32bit\").KillVideo()",
        "BlankClip(length=3, width=16, height=16, pixel_type=\"YUV420P10\").AssumeFPS(24000, 1001)",
        // 8 rows: AviSynth+ 3.7.3 resizes RGB's chroma only from 8 rows up.
        "BlankClip(length=4, width=18, height=8, pixel_type=\"RGB24\").ConvertToYV12().AssumeFPS(23.976)",
        "BlankClip(length=0, width=16, height=16, pixel_type=\"YV12\", audio_rate=0)",
        "BlankClip(audio_rate=0).KillVideo()",
        "BlankClip(length=2, width=16, height=8, pixel_type=\"YUV444P16\").propSet(\"_SARNum\", 4).propSet(\"_SARDen\", 3)",
        "BlankClip(length=2, width=16, height=8, pixel_type=\"RGBP10\").KillAudio()",
        "BlankClip(length=2, width=16, height=8, pixel_type=\"Y14\").AssumeFieldBased()",
        "BlankClip(length=2, width=16, height=8, pixel_type=\"YUV420PS\")",
        "BlankClip(length=2, width=16, height=8, pixel_type=\"YUVA420P10\").propDelete(\"_ColorRange\")",
        "42",
        "Import(\"/nonexistent/inner.avs\")",
    };
    // The stand-in words the server's own errors as 3.7.5 does; an older
    // version words some otherwise ("ConvertBits: YV411 source cannot be
    // converted"). There only the filter that failed is compared.
    const bool older_words = real_server_interface() < 11;
    auto comparable = [older_words](const std::string& mode, const run_result& r) {
        std::string err = r.err;
        for (size_t at = 0; older_words && (at = err.find("clipspout [warn]: ", at)) != std::string::npos;) {
            const size_t filter_end = err.find(": ", at + 18), line_end = err.find('\n', at);
            if (filter_end != std::string::npos && filter_end < line_end)
                err.erase(filter_end, line_end - filter_end);
            at = err.find('\n', at);
        }
        std::string out = r.out;
        if (mode == "video")
            out = out.substr(0, out.find('\n') + 1) + " bytes: " + std::to_string(out.size());
        else if (mode == "audio")
            out = out.substr(0, 80) + " bytes: " + std::to_string(out.size());
        else if (mode == "mkv")  // all but the samples: every element and size
            out = out.substr(0, out.find("\x1F\x43\xB6\x75")) + " bytes: " + std::to_string(out.size());
        return "status " + std::to_string(r.status) + "\n" + out + "\n" + err;
    };
    // The stand-in plays the server's interface version, so that both give
    // frame properties or neither does.
    run_options standin_options;
    standin_options.env = {"AVS_STANDIN_INTERFACE=" + std::to_string(real_server_interface())};
    // BlankClip(fps=29.97) makes a fraction of the float, which the stand-in
    // does as 3.7.5 does; 3.7.3 stops doubling earlier (15712911/524288).
    // Where the server's differs, the stand-in is given the server's.
    const std::string ntsc = lf_text(run_real("info", "ntsc.avs", "BlankClip(fps=29.97)\n").out);
    const long long ntsc_num = number_after(ntsc, "v:fps         ");
    const long long ntsc_den = number_after(ntsc, "v:fps         " + std::to_string(ntsc_num) + "/");
    ASSERT_GT(ntsc_den, 0) << ntsc;
    const std::string server_ntsc = "fps=" + std::to_string(ntsc_num) + ", fps_denominator=" + std::to_string(ntsc_den);
    int n = 0;
    for (const char* text : scripts) {
        std::string script = write_script("agree" + std::to_string(n) + ".avs", std::string(text) + "\n");
        std::string standin_script = script, standin_text = text;
        if (standin_text.find("fps=29.97") != std::string::npos && ntsc_num != 31425823) {
            standin_text.replace(standin_text.find("fps=29.97"), 9, server_ntsc);
            standin_script = write_script("agree" + std::to_string(n) + "s.avs", standin_text + "\n");
        }
        ++n;
        for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
                 {"info"}, {"x264bd"}, {"video"}, {"audio"}, {"--depth=keep", "video"}, {"--depth=10", "video"},
                 {"mkv"}, {"--depth=keep", "mkv"}}) {
            std::vector<std::string> line = args;
            line.push_back(script);
            const std::string& mode = args.back();
            run_result real = run_tool(line, on_real_server());
            line.back() = standin_script;
            run_result standin = run_tool(line, standin_options);
            EXPECT_EQ(comparable(mode, standin), comparable(mode, real)) << testing::PrintToString(line) << " " << text;
            EXPECT_EQ(standin.frameserver_note, real.frameserver_note) << testing::PrintToString(line);
        }
    }
}

TEST_F(RealServer, ScriptInAJapaneseAndCyrillicFolderGivesWhatItsAsciiTwinGives)
{
    expect_twins_agree("BlankClip(length=2, width=1280, height=720, pixel_type=\"YV12\", fps=25, audio_rate=8000)\n",
                       on_real_server());
}

namespace {

struct deep_real_case {
    const char* script;  // one 32x8 clip
    const char* depth;
    const char* chroma_tag;
    const char* pix_fmt;
    int planes, shift_w, shift_h, sample_bytes;
    int y, u, v;  // the sample values the script fixes; -1: not fixed
};

// color_yuv gives 8-bit values; AviSynth+ and ConvertBits scale them to the
// deeper range by shifting left: $51 is 0x144 at 10 bits, 0x5100 at 16.
const deep_real_case deep_real_cases[] = {
    {"pixel_type=\"YUV420P10\", color_yuv=$515AF0", "keep", "420p10", "yuv420p10le", 3, 1, 1, 2, 0x144, 0x168, 0x3C0},
    {"pixel_type=\"YUV422P12\", color_yuv=$515AF0", "keep", "422p12", "yuv422p12le", 3, 1, 0, 2, 0x510, 0x5A0, 0xF00},
    {"pixel_type=\"YUV444P16\", color_yuv=$515AF0", "keep", "444p16", "yuv444p16le", 3, 0, 0, 2, 0x5100, 0x5A00,
     0xF000},
    {"pixel_type=\"YUV420P14\", color_yuv=$515AF0", "keep", "420p14", "yuv420p14le", 3, 1, 1, 2, 0x1440, 0x1680,
     0x3C00},
    {"pixel_type=\"Y16\", color_yuv=$515AF0", "keep", "mono16", "gray16le", 1, 0, 0, 2, 0x5100, 0, 0},
    {"pixel_type=\"Y10\", color_yuv=$515AF0", "keep", "mono10", "gray10le", 1, 0, 0, 2, 0x144, 0, 0},
    {"pixel_type=\"YUVA420P16\", color_yuv=$515AF0", "keep", "420p16", "yuv420p16le", 3, 1, 1, 2, 0x5100, 0x5A00,
     0xF000},
    {"pixel_type=\"YV12\", color_yuv=$515AF0", "10", "420p10", "yuv420p10le", 3, 1, 1, 2, 0x144, 0x168, 0x3C0},
    {"pixel_type=\"YV24\", color_yuv=$515AF0", "16", "444p16", "yuv444p16le", 3, 0, 0, 2, 0x5100, 0x5A00, 0xF000},
    {"pixel_type=\"YUY2\", color_yuv=$515AF0", "10", "422p10", "yuv422p10le", 3, 1, 0, 2, 0x144, 0x168, 0x3C0},
    {"pixel_type=\"YUV420P16\", color_yuv=$515AF0", "8", "420", "yuv420p", 3, 1, 1, 1, 0x51, 0x5A, 0xF0},
    {"pixel_type=\"YV411\", color_yuv=$515AF0", "keep", "411", "yuv411p", 3, 2, 0, 1, 0x51, 0x5A, 0xF0},
    {"pixel_type=\"RGB64\"", "keep", "444p16", "yuv444p16le", 3, 0, 0, 2, -1, -1, -1},
    {"pixel_type=\"RGBP10\"", "keep", "444p10", "yuv444p10le", 3, 0, 0, 2, -1, -1, -1},
    {"pixel_type=\"RGB24\"", "keep", "444", "yuv444p", 3, 0, 0, 1, 0x10, 0x80, 0x80},  // black
    {"pixel_type=\"YUV444PS\"", "keep", "444p16", "yuv444p16le", 3, 0, 0, 2, -1, -1, -1},
    {"pixel_type=\"Y32\"", "12", "mono12", "gray12le", 1, 0, 0, 2, -1, -1, -1},
};

std::string samples(int value, size_t count, int bytes)
{
    std::string out;
    for (size_t i = 0; i < count; ++i) {
        out += static_cast<char>(value & 0xFF);
        if (bytes == 2)
            out += static_cast<char>(value >> 8);
    }
    return out;
}

}  // namespace

TEST_F(RealServer, DeepColourReachesFfmpegWithEveryWordIntact)
{
    for (const deep_real_case& c : deep_real_cases) {
        SCOPED_TRACE(std::string(c.script) + " --depth=" + c.depth);
        std::string script = std::string("BlankClip(length=4, width=32, height=8, fps=25, ") + c.script + ")\n";
        run_result r = run_tool({std::string("--depth=") + c.depth, "video", write_script("deep.avs", script)},
                                on_real_server());
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_NE(r.err.find(std::string("x8 YUV") + c.chroma_tag + " progressive video.\n"), std::string::npos)
            << r.err;
        // The range that BlankClip records, where the server's properties can be read.
        std::string header = std::string("YUV4MPEG2 W32 H8 F25:1 Ip A0:0 C") + c.chroma_tag +
                             (real_server_gives_properties() ? " XCOLORRANGE=LIMITED\n" : "\n");
        size_t luma = 32 * 8, chroma = (32u >> c.shift_w) * (8u >> c.shift_h);
        size_t bytes = (luma + (c.planes - 1) * chroma) * c.sample_bytes;
        std::vector<std::string> frames = frames_of(r.out, header, bytes);
        ASSERT_EQ(frames.size(), 4u) << r.out.substr(0, r.out.find('\n'));
        if (c.y >= 0) {
            std::string expected = samples(c.y, luma, c.sample_bytes);
            if (c.planes == 3)
                expected += samples(c.u, chroma, c.sample_bytes) + samples(c.v, chroma, c.sample_bytes);
            for (const std::string& frame : frames)
                EXPECT_TRUE(frame == expected) << "words differ";
        }
        std::string file = write_script("deep.y4m", r.out);
        EXPECT_EQ(shell("ffprobe -v error -count_frames -show_entries stream=pix_fmt,nb_read_frames -of csv=p=0 '" +
                        file + "'"),
                  std::string(c.pix_fmt) + ",4\n");
    }
}

TEST_F(RealServer, X264EncodesTenBitsFromThePipe)
{
    std::string script = write_script("x264_10.avs", "BlankClip(length=24, width=320, height=240, fps=24, "
                                                     "pixel_type=\"YUV420P10\", color_yuv=$515AF0)\n");
    std::string out = write_script("x264_10.264", "");
    int status = -1;
    std::string log = shell(tool_command(on_real_server()) + " --depth=keep video '" + script +
                                "' 2>/dev/null | x264 --demuxer y4m --input-depth 10 --output-depth 10 "
                                "--preset ultrafast -o '" + out + "' - 2>&1",
                            &status);
    EXPECT_EQ(status, 0) << log;
    EXPECT_NE(log.find("encoded 24 frames"), std::string::npos) << log;
    std::string probe = shell("ffprobe -v error -show_entries stream=pix_fmt,profile -of csv=p=0 '" + out + "'");
    EXPECT_EQ(probe, "High 10,yuv420p10le\n");
}

TEST_F(RealServer, DeepColourHeaderCarriesFrameProperties)
{
    SKIP_WITHOUT_PROPERTIES();
    const std::string clip = "BlankClip(length=2, width=16, height=8, pixel_type=\"YUV420P10\", fps=25)\n";
    const char* cases[][2] = {
        {"", "A0:0 C420p10 XCOLORRANGE=LIMITED\n"},
        {"propSet(\"_SARNum\", 16).propSet(\"_SARDen\", 11)\n", "A16:11 C420p10 XCOLORRANGE=LIMITED\n"},
        {"propSet(\"_ColorRange\", 0)\n", "A0:0 C420p10 XCOLORRANGE=FULL\n"},
        {"propDelete(\"_ColorRange\")\n", "A0:0 C420p10\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c[0]);
        run_result r = run_tool({"--depth=keep", "video", write_script("props.avs", clip + c[0])}, on_real_server());
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out.substr(0, r.out.find('\n') + 1), std::string("YUV4MPEG2 W16 H8 F25:1 Ip ") + c[1]);
        std::string file = write_script("props.y4m", r.out);
        EXPECT_EQ(shell("ffprobe -v error -count_frames -show_entries stream=pix_fmt,nb_read_frames -of csv=p=0 '" +
                        file + "'"),
                  "yuv420p10le,2\n");
    }
}

// Colour bars that brighten frame by frame, with a tone: every frame and
// every sample differ.
static const std::string batch_clip =
    "AudioDub(ColorBars(width=64, height=48, pixel_type=\"YV12\").AssumeFPS(24)." + std::string(NUMBERED) +
    ".Trim(0, 11), "
    "Tone(length=0.5, frequency=750, samplerate=48000, channels=2).ConvertAudioTo16bit())\n";

TEST_F(RealServer, FrameRanges)
{
    check_frame_ranges(batch_clip, on_real_server());
}

TEST_F(RealServer, ScriptArguments)
{
    check_script_arguments(on_real_server());
}

TEST_F(RealServer, ParallelChunksJoinUpToTheWholeClip)
{
    check_parallel_chunks(batch_clip, on_real_server());
}

TEST_F(RealServer, Rf64AndChannelMaskOptions)
{
    auto mask_of = [](const std::string& stream) {
        return stream.size() < 80 ? 0xDEADu
                                  : static_cast<unsigned char>(stream[40]) | static_cast<unsigned char>(stream[41]) << 8 |
                                        static_cast<unsigned char>(stream[42]) << 16;
    };
    const std::string clip =
        "BlankClip(length=50, fps=25, audio_rate=48000, channels=6, sample_type=\"24bit\").KillVideo()\n";
    std::string script = write_script(
        "rf64.avs", "Tone(length=2, frequency=440, samplerate=48000, channels=6).ConvertAudioTo24bit()\n");
    run_result plain = run_tool({"audio", script}, on_real_server());
    ASSERT_EQ(plain.status, 0) << plain.err;
    EXPECT_EQ(mask_of(plain.out), 0u);
    for (const char* rf64 : {"--rf64=never", "--rf64=auto"}) {
        run_result r = run_tool({rf64, "audio", script}, on_real_server());
        EXPECT_TRUE(r.out == plain.out) << rf64;
        EXPECT_EQ(r.err, plain.err) << rf64;
    }
    run_result always = run_tool({"--rf64=always", "audio", script}, on_real_server());
    ASSERT_EQ(always.status, 0) << always.err;
    EXPECT_EQ(always.out.substr(0, 4), "RF64");
    EXPECT_TRUE(always.out.substr(104) == plain.out.substr(80));
    std::string file = write_script("rf64.wav", always.out);
    EXPECT_TRUE(shell("ffmpeg -v error -i '" + file + "' -f s24le -") == plain.out.substr(80));

    // The frame server's own mask, as a script sets it, from 3.7.3 on; an
    // older one keeps none, and the tool says it takes the usual layout.
    const bool keeps_masks =
        run_real("info", "has_mask.avs", "Assert(FunctionExists(\"SetChannelMask\"))\n" + clip).status == 0;
    const struct {
        const char* tail;
        unsigned mask;
    } masks[] = {{"", 0x3F}, {"SetChannelMask(true, $60F)\n", 0x60F}, {"SetChannelMask(\"5.1\")\n", 0x3F}};
    for (const auto& m : masks) {
        if (!keeps_masks && m.tail[0])
            continue;
        run_result r =
            run_tool({"--channel-mask=auto", "audio", write_script("mask.avs", clip + m.tail)}, on_real_server());
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(mask_of(r.out), m.mask) << m.tail;
        EXPECT_EQ(r.err.find("the frame server keeps no channel mask") == std::string::npos, keeps_masks) << r.err;
    }
    run_result seven = run_tool(
        {"--channel-mask=auto", "audio",
         write_script("mask7.avs", "BlankClip(length=5, fps=25, audio_rate=48000, channels=7).KillVideo()\n")},
        on_real_server());
    EXPECT_EQ(mask_of(seven.out), 0x70Fu);
}

TEST_F(RealServer, FieldOrderPropertyAgainstTheClipsFlags)
{
    SKIP_WITHOUT_PROPERTIES();
    check_field_order_properties(on_real_server());
}

TEST_F(RealServer, TimecodesFollowTheFramesWritten)
{
    SKIP_WITHOUT_PROPERTIES();
    check_timecodes(on_real_server());
}

TEST_F(RealServer, ChromaSitingUnderDepth)
{
    SKIP_WITHOUT_PROPERTIES();
    check_chroma_siting(on_real_server());
}

TEST_F(RealServer, MatroskaMetadataAsFfprobeReadsIt)
{
    SKIP_WITHOUT_PROPERTIES();
    check_matroska_metadata(on_real_server());
}

TEST_F(RealServer, MatroskaAudioOfEverySampleTypeEqualsTheAudioMode)
{
    // At 750 Hz Tone's phase steps by 1/64 a sample, exact in binary: a
    // sample is the same whichever fetch brings it.
    check_matroska_audio(on_real_server(), [](const std::string& type, int channels) {
        static const std::map<std::string, std::string> conversions = {
            {"8bit", "ConvertAudioTo8bit"}, {"16bit", "ConvertAudioTo16bit"}, {"24bit", "ConvertAudioTo24bit"},
            {"32bit", "ConvertAudioTo32bit"}, {"float", "ConvertAudioToFloat"}};
        return "AudioDub(BlankClip(length=30, width=32, height=16, pixel_type=\"YV12\", fps=25), Tone(length=1.5, "
               "frequency=750, samplerate=48000, channels=" + std::to_string(channels) + ", type=\"Sine\"))\n" +
               conversions.at(type) + "()\n";
    });
}

TEST_F(RealServer, MatroskaTimingAndInterleaving)
{
    SKIP_WITHOUT_PROPERTIES();
    check_matroska_timing(on_real_server());
}

TEST_F(RealServer, MatroskaSaysWhereAFrameStraysFromTheRateItStates)
{
    SKIP_WITHOUT_PROPERTIES();
    // 40 ms frames, as the rate says, but frame 12 lasts 80: the track
    // states the rate from the first frames, and frame 13 on come late.
    const std::string clip = "BlankClip(length=20, width=32, height=16, pixel_type=\"YV12\", fps=25)\n";
    const struct {
        const char* durations;
        const char* warning;
        const char* pts;
    } cases[] = {
        {"current_frame == 12 ? 80 : 40",
         "clipspout [warn]: frame 13 starts at 0.560 s, not at 0.520 s where the clip's 25/1 fps put it, the rate the "
         "track states from its first frames: ",
         "0\n40\n80\n120\n160\n200\n240\n280\n320\n360\n400\n440\n480\n560\n"},
        // Within the source's rounding: no warning.
        {"current_frame % 3 == 1 ? 39 : 40 + current_frame % 3 / 2", nullptr, "0\n40\n79\n120\n160\n199\n240\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.durations);
        const run_result r = run_tool({"mkv", write_script("stray.avs", clip + "ScriptClip(\"\"\"propSet(\"_DurationNum\", " +
                                                                             c.durations + ").propSet(\"_DurationDen\", "
                                                                             "1000)\"\"\")\n")},
                                      on_real_server());
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err.find("warn") == std::string::npos, c.warning == nullptr) << r.err;
        if (c.warning) {
            EXPECT_NE(r.err.find(c.warning), std::string::npos) << r.err;
        }
        const std::string saved = write_script("mkv/stray.mkv", r.out);
        EXPECT_NE(shell("mkvinfo '" + saved + "'").find("Default duration: 00:00:00.040000000"), std::string::npos);
        EXPECT_EQ(shell("ffprobe -v error -select_streams v -show_entries packet=pts -of csv=p=0 '" + saved + "'")
                      .substr(0, strlen(c.pts)),
                  c.pts);
    }
}

TEST_F(RealServer, MatroskaRangesAndFailures)
{
    check_matroska_ranges_and_failures(on_real_server());
}

TEST_F(RealServer, MatroskaFramesAreTheVideoModesAndRgbReadsAsItsPlanarTwin)
{
    // YUV: the frames that video writes, at the same depth.
    for (const char* layout : {"YV12\")", "YV16\")", "YV24\")", "YV24\").ConvertToYV411()", "YV24\").ConvertToY8()",
                               "YUV420P10\")", "YUV422P16\")", "YUV444P10\").ConvertToY()", "YUV444P12\")"}) {
        SCOPED_TRACE(layout);
        std::string script = write_script("bars.avs", std::string("ColorBars(width=68, height=32, pixel_type=\"") +
                                                          layout + ".Trim(0, 3).KillAudio()\n");
        run_result mkv = run_tool({"--depth=keep", "mkv", script}, on_real_server());
        run_result y4m = run_tool({"--depth=keep", "video", script}, on_real_server());
        ASSERT_EQ(mkv.status, 0) << mkv.err;
        const std::string pix_fmt = probe_fields(mkv.out)["pix_fmt"];
        EXPECT_EQ(pix_fmt, shell("ffprobe -v error -show_entries stream=pix_fmt -of csv=p=0 '" +
                                 write_script("bars.y4m", y4m.out) + "' | tr -d '\\n'"));
        EXPECT_TRUE(matroska_frames(mkv.out, pix_fmt) ==
                    shell("ffmpeg -v error -i '" + write_script("bars.y4m", y4m.out) + "' -f rawvideo -"));
    }
    // Packed RGB lies bottom row first in the frame server and goes out top
    // row first: it reads as the same clip made planar by AviSynth+, which
    // goes out as it lies.
    const struct {
        const char* type;
        const char* planar;
        const char* pix_fmt;
        size_t pixel_bytes;
    } rgb[] = {{"RGB24", "ConvertToPlanarRGB", "gbrp", 3},
               {"RGB32", "ConvertToPlanarRGBA", "gbrap", 4},
               {"RGB48", "ConvertToPlanarRGB", "gbrp16le", 6},
               {"RGB64", "ConvertToPlanarRGBA", "gbrap16le", 8}};
    for (const auto& c : rgb) {
        SCOPED_TRACE(c.type);
        const std::string bars = std::string("ColorBars(width=68, height=32, pixel_type=\"") + c.type +
                                 "\").Trim(0, 3).KillAudio()\n";
        run_result packed = run_tool({"--depth=keep", "mkv", write_script("packed.avs", bars)}, on_real_server());
        run_result planar = run_tool({"--depth=keep", "mkv", write_script("planar.avs", bars + c.planar + "()\n")},
                                     on_real_server());
        ASSERT_EQ(packed.status, 0) << packed.err;
        ASSERT_EQ(planar.status, 0) << planar.err;
        std::string frames = matroska_frames(packed.out, c.pix_fmt);
        EXPECT_EQ(frames.size(), 4u * 68 * 32 * c.pixel_bytes);
        EXPECT_TRUE(frames == matroska_frames(planar.out, c.pix_fmt)) << "packed and planar RGB read differently";
    }
    // Alpha: the YUV planes as video writes them, then the alpha plane.
    for (const char* type : {"YUVA420", "YUVA444P10"}) {
        SCOPED_TRACE(type);
        const std::string bars =
            std::string("ColorBars(width=68, height=32, pixel_type=\"") + type + "\").Trim(0, 3).KillAudio()\n";
        run_result mkv = run_tool({"--depth=keep", "mkv", write_script("alpha.avs", bars)}, on_real_server());
        run_result yuv = run_tool({"--depth=keep", "video", write_script("yuv.avs", bars)}, on_real_server());
        run_result alpha = run_tool({"--depth=keep", "video", write_script("a.avs", bars + "ExtractA()\n")},
                                    on_real_server());
        ASSERT_EQ(mkv.status, 0) << mkv.err;
        const bool deep = std::string(type).find("P10") != std::string::npos;
        const std::string pix_fmt = deep ? "yuva444p10le" : "yuva420p";
        EXPECT_EQ(probe_fields(mkv.out)["pix_fmt"], pix_fmt);
        auto decoded = [](const std::string& y4m) {
            return shell("ffmpeg -v error -i '" + write_script("decode.y4m", y4m) + "' -f rawvideo -");
        };
        const std::string yuv_frames = decoded(yuv.out), alpha_frames = decoded(alpha.out);
        const size_t yuv_size = yuv_frames.size() / 4, alpha_size = alpha_frames.size() / 4;
        std::string expected;
        for (size_t n = 0; n < 4; ++n)
            expected += yuv_frames.substr(n * yuv_size, yuv_size) + alpha_frames.substr(n * alpha_size, alpha_size);
        EXPECT_TRUE(matroska_frames(mkv.out, pix_fmt) == expected);
    }
}

TEST_F(RealServer, EncoderLinesFromTheClipAsVideoWritesIt)
{
    SKIP_WITHOUT_PROPERTIES();
    check_encoder_lines(on_real_server());
}

TEST_F(RealServer, WithoutWorkingPropertiesEveryModeEndsCleanlyAndSaysSo)
{
    if (real_server_gives_properties())
        GTEST_SKIP() << "this AviSynth+ gives frame properties; the cases run on one that does not (3.6.1)";
    check_without_working_properties(on_real_server(), real_server_interface());
}

TEST_F(RealServer, HostilePropertiesAreLeftOutAndSaid)
{
    SKIP_WITHOUT_PROPERTIES();
    check_hostile_properties(on_real_server());
}

TEST_F(RealServer, HostileTimes)
{
    SKIP_WITHOUT_PROPERTIES();
    check_hostile_timing(on_real_server());
    // Durations whose denominators are large primes, a new one each frame:
    // their sum outgrows 64 bits after frame 1. Said as what it is.
    const std::string script = write_script(
        "hostile/primes.avs",
        "BlankClip(length=4, width=32, height=16, pixel_type=\"YV12\", fps=25)\n"
        "ScriptClip(\"\"\"propSet(\"_DurationNum\", 1).propSet(\"_DurationDen\", current_frame == 0 ? 2147483647 : "
        "current_frame == 1 ? 2147483629 : 2147483587)\"\"\")\n");
    const std::string tc = write_script("hostile/primes.tc", "");
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"mkv", script}, std::vector<std::string>{"--timecodes", tc, "video", script}}) {
        const run_result r = run_tool(args, on_real_server());
        EXPECT_EQ(r.status, 2);
        EXPECT_NE(r.err.find("cannot time frame 1 in "), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("the frames' durations are too fine to add up exactly in 64 bits.\n"), std::string::npos)
            << r.err;
    }
}

TEST_F(RealServer, AFrameZeroThatFailsEndsEveryModeThatReadsIt)
{
    const char* plugin = getenv("CLIPSPOUT_TEST_FAULT_PLUGIN");
    if (!plugin || !*plugin || testing_windows_build())
        GTEST_SKIP() << "no fault plugin (CLIPSPOUT_TEST_FAULT_PLUGIN; scripts/test.sh builds it)";
    check_frame0_failures(on_real_server(), "LoadCPlugin(\"" + std::string(plugin) + "\")\nClipspoutFault(0)",
                          "ClipspoutFault: this frame cannot be delivered", real_server_gives_properties());
    check_meter_cut_short_by_a_frame(on_real_server(),
                                     "LoadCPlugin(\"" + std::string(plugin) + "\")\nClipspoutFault(7)",
                                     "ClipspoutFault: this frame cannot be delivered");
}

TEST_F(RealServer, SignalsAtEveryMoment)
{
    const char* plugin = getenv("CLIPSPOUT_TEST_FAULT_PLUGIN");
    if (!plugin || !*plugin || testing_windows_build())
        GTEST_SKIP() << "no fault plugin (CLIPSPOUT_TEST_FAULT_PLUGIN; scripts/test.sh builds it)";
    check_signals_at_every_moment(on_real_server(),
                                  "LoadCPlugin(\"" + std::string(plugin) + "\")\nClipspoutPause(1500)",
                                  "clipspout-fault: pausing");
}

TEST_F(RealServer, HostileRuns)
{
    check_hostile_runs(on_real_server());
}

TEST_F(RealServer, ProgramsTheToolStarts)
{
    check_program_arguments(on_real_server());
    if (!testing_windows_build())
        check_program_encoders(on_real_server());
    check_program_failures(on_real_server());
}

TEST_F(RealServer, MeterGivesTheServersOwnCounts)
{
    // What AviSynth+ says of itself, each where its interface has it: the
    // processors it sees (its pool's threads too), Prefetch's threads, and
    // the cache's limit that the script set.
    for (const int prefetch : {0, 3}) {
        SCOPED_TRACE(prefetch);
        const std::string script =
            "SetMemoryMax(100)\nColorBars(width=320, height=240, pixel_type=\"YV12\").Trim(0, 9).Blur(1.0)" +
            (prefetch ? ".Prefetch(" + std::to_string(prefetch) + ")" : std::string()) + "\n";
        const run_result r = run_tool({"--json", "meter", write_script("counts.avs", script)}, on_real_server());
        ASSERT_EQ(r.status, 0) << r.err;
        const std::string counts = json_field(r.out, ".frame_server");
        if (counts == "{}")
            GTEST_SKIP() << "this AviSynth+ gives none of its counts through its C interface";
        const std::string cpus = std::to_string(std::thread::hardware_concurrency());
        // Up to 3.6 (interface 8) the count is of Prefetch's filter
        // instances, the power of two above its threads; from 3.7 it is
        // the threads themselves.
        int chain = prefetch ? prefetch : 1;
        if (prefetch && real_server_interface() < 9)
            for (chain = 1; chain <= prefetch; chain <<= 1) {
            }
        EXPECT_EQ(json_field(r.out, "[.frame_server | .logical_cpus, .threadpool_threads, .filterchain_threads, "
                                    ".memory_max_mb]"),
                  "[" + cpus + "," + cpus + "," + std::to_string(chain) + ",100]")
            << r.out;
    }
}

TEST_F(RealServer, InfoAsJsonAndTheMeter)
{
    SKIP_WITHOUT_PROPERTIES();
    check_info_json(on_real_server());
    check_meter(on_real_server());
    check_meter_of_no_frames(on_real_server());
    // A script that works: its memory and processor time are seen (also
    // through Windows' own counters, under Wine). Its blurs take processor
    // time however long the machine makes them wait.
    const run_result r = run_tool({"--json", "meter", write_script("work.avs", "ColorBars(width=640, height=360, "
                                                                               "pixel_type=\"YV12\").Trim(0, 99)"
                                                                               ".Blur(1.0).Blur(1.0).Blur(1.0)\n")},
                                  on_real_server());
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(json_field(r.out, ".peak_memory_mb > 1 and .user_seconds + .system_seconds > 0"), "true") << r.out;
    EXPECT_EQ(meter_figures_disagree(r.out), "") << r.out;
}

// A C plugin of the real server's kind that prints on standard output as
// it loads, as LoadPlugin initialises it, as the script makes its filter and
// in every frame: all of it reaches standard error, and the payload is the
// same script's without the plugin, in the reports, the stream and the
// stream a program started by the tool takes.
TEST_F(RealServer, PluginPrintsStayOutOfTheStream)
{
    const std::string clip = "BlankClip(length=3, width=64, height=48, pixel_type=\"YV12\")";
    const std::string clean = write_script("guard/clean.avs", clip + "\n");
    const std::string printing =
        write_script("guard/printing.avs", "LoadPlugin(\"" + print_plugin() + "\")\n" + clip + ".PrintOnStdout()\n");
    std::vector<std::string> ways = {"printf", "cout", "write"};
    if (testing_windows_build())
        ways.push_back("WriteFile");
    const struct {
        std::vector<std::string> args;  // SCRIPT stands for the script
        std::vector<std::string> prints;
    } cases[] = {
        {{"video", "SCRIPT"}, {"load", "init", "import", "frame 0", "frame 2"}},
        {{"info", "SCRIPT"}, {"load", "init", "import"}},
        {{"x264args", "SCRIPT"}, {"load", "init", "import"}},
        {{"video", "SCRIPT", helper_program("echo_args")}, {"load", "init", "import", "frame 2"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args[0] + (c.args.size() > 2 ? " into a program" : ""));
        run_result runs[2];
        for (int printed = 0; printed < 2; ++printed) {
            std::vector<std::string> args = c.args;
            args[1] = printed ? printing : clean;
            runs[printed] = run_tool(args, on_real_server());
            ASSERT_EQ(runs[printed].status, 0) << runs[printed].err;
        }
        EXPECT_TRUE(runs[1].out == runs[0].out) << "the payload differs from the same script's without the plugin";
        EXPECT_EQ(runs[1].out.find("print plugin:"), std::string::npos);
        for (const std::string& way : ways) {
            for (const std::string& when : c.prints) {
                const std::string line = "print plugin: " + way + " at " + when + "\n";
                EXPECT_NE(runs[1].err.find(line), std::string::npos) << line << runs[1].err;
            }
        }
    }
}

// Two releases side by side, as a portable install beside a system one:
// --frameserver loads each by its folder and no other, where the tool's own
// search would find none.
TEST_F(RealServer, TwoReleasesSideBySideEachByItsFolder)
{
    const char* second = getenv("CLIPSPOUT_TEST_SECOND_FRAMESERVER");
    if (!second || !*second)
        GTEST_SKIP() << "no second release beside this one: CLIPSPOUT_TEST_SECOND_FRAMESERVER is not set";
    run_options nowhere;
    nowhere.frameserver = NO_FRAMESERVER;
    const std::string script = write_script("side/clip.avs", "BlankClip(length=5, width=64, height=48)\n");
    const std::string folders[2] = {real_frameserver(), second};
    std::string versions[2];
    for (int i = 0; i < 2; ++i) {
        SCOPED_TRACE(folders[i]);
        const run_result r = run_tool({"--frameserver=" + folders[i], "--version"}, nowhere);
        ASSERT_EQ(r.status, 0) << r.err;
        const size_t at = r.out.find("frame server: ");
        ASSERT_NE(at, std::string::npos) << r.out;
        versions[i] = r.out.substr(at, r.out.find('\n', at) - at);
        EXPECT_NE(r.out.find("frame server file: " + folders[i]), std::string::npos) << r.out;
        const run_result info = run_tool({"--frameserver=" + folders[i], "info", script}, nowhere);
        EXPECT_EQ(info.status, 0) << info.err;
        EXPECT_NE(info.out.find("v:frames      5\n"), std::string::npos) << info.out;
    }
    EXPECT_NE(versions[0], versions[1]) << "the same release twice";
    const run_result searched = run_tool({"info", script}, nowhere);
    EXPECT_EQ(searched.status, 2) << "the tool's own search found a library";
}

// The real server's own words for a function it does not have, and the
// tool's line naming the plugin that gives it (FFMS2 here is not in any
// folder AviSynth+ loads plugins from by itself).
TEST_F(RealServer, AMissingSourcePluginIsNamedWithItsRemedy)
{
    const run_result r = run_real("info", "missing_source.avs", "FFVideoSource(\"film.mkv\")\n");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("There is no function named 'FFVideoSource'"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("clipspout [info]: FFVideoSource comes from the FFMS2 source plugin, which is not loaded: "
                         "LoadPlugin(\"PATH\")"),
              std::string::npos)
        << r.err;
    EXPECT_TRUE(r.err.size() > 57 &&
                r.err.compare(r.err.size() - 57, 57, "clipspout [error]: avs files return value is not a clip.\n") == 0)
        << r.err;
}
