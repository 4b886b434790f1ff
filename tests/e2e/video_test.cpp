// The YUV4MPEG2 stream: every byte against the stand-in's frame pattern,
// real decoders, and every road that ends a stream early.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

#include "field_order_cases.h"
#include "harness.h"
#include "timecodes_cases.h"

namespace {

struct layout_case {
    const char* pixel_type;
    int width, height;
    const char* chroma_tag;
    int planes, shift_w, shift_h;
    const char* conversion;  // target named in the info line, or null
    const char* ffmpeg_pix_fmt;
};

const layout_case layout_cases[] = {
    {"YV24", 17, 5, "444", 3, 0, 0, nullptr, "yuv444p"},
    {"RGB24", 13, 3, "444", 3, 0, 0, "yv24", "yuv444p"},
    {"RGB32", 16, 4, "444", 3, 0, 0, "yv24", "yuv444p"},
    {"YV16", 18, 5, "422", 3, 1, 0, nullptr, "yuv422p"},
    {"YUY2", 22, 3, "422", 3, 1, 0, "yv16", "yuv422p"},
    {"YV411", 20, 3, "411", 3, 2, 0, nullptr, "yuv411p"},
    {"Y8", 7, 3, "mono", 1, 0, 0, nullptr, "gray"},
    {"YV12", 18, 6, "420", 3, 1, 1, nullptr, "yuv420p"},
    // Source plugins deliver 8-bit 4:2:0 with U stored first: written as it is.
    {"I420", 18, 6, "420", 3, 1, 1, nullptr, "yuv420p"},
    // Deeper clips reach 4:2:0 through 8 bits (ConvertBits(8), then
    // ConvertToYV12, which the releases refuse for deeper clips).
    {"YUV420P10", 66, 10, "420", 3, 1, 1, "yv12", "yuv420p"},
    {"YUV444P16", 20, 4, "420", 3, 1, 1, "yv12", "yuv420p"},
    {"Y16", 20, 4, "420", 3, 1, 1, "yv12", "yuv420p"},
    {"RGB64", 20, 4, "420", 3, 1, 1, "yv12", "yuv420p"},
    {"YUVA420P10", 20, 4, "420", 3, 1, 1, "yv12", "yuv420p"},
};

// The planes of frame n as the stand-in's pattern defines them.
std::string expected_frame(const layout_case& c, int n)
{
    std::string bytes;
    for (int p = 0; p < c.planes; ++p) {
        int w = p ? c.width >> c.shift_w : c.width, h = p ? c.height >> c.shift_h : c.height;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                bytes += static_cast<char>(pattern_byte(n, p, y, x));
    }
    return bytes;
}

std::string header_line(const layout_case& c, const char* letter)
{
    return "YUV4MPEG2 W" + std::to_string(c.width) + " H" + std::to_string(c.height) + " F25:1 I" + letter +
           " A0:0 C" + c.chroma_tag + "\n";
}

std::string expected_stream(const layout_case& c, int frames, const char* letter = "p")
{
    std::string stream = header_line(c, letter);
    for (int n = 0; n < frames; ++n)
        stream += "FRAME\n" + expected_frame(c, n);
    return stream;
}

std::string script_for(const layout_case& c, int frames, const std::string& tail = "")
{
    return "BlankClip(length=" + std::to_string(frames) + ", width=" + std::to_string(c.width) +
           ", height=" + std::to_string(c.height) + ", pixel_type=\"" + c.pixel_type + "\", fps=25)\n" + tail;
}

std::string expected_err(const layout_case& c, int frames, const char* word, int written, int percent)
{
    std::string err;
    if (c.conversion)
        err += std::string("clipspout [info]: converting video to ") + c.conversion + ".\n";
    err += "clipspout [info]: writing " + std::to_string(frames) + " frames of 25/1 fps, " +
           std::to_string(c.width) + "x" + std::to_string(c.height) + " YUV" + c.chroma_tag + " " + word +
           " video.\n";
    err += "\rclipspout [info]: finished, wrote " + std::to_string(written) + " frames [" + std::to_string(percent) +
           "%].\n";
    return err;
}

const layout_case& case_named(const char* pixel_type)
{
    for (const layout_case& c : layout_cases)
        if (std::string(c.pixel_type) == pixel_type)
            return c;
    abort();
}

}  // namespace

TEST(Video, EveryLayoutIsByteExact)
{
    // Ten frames pass through the stand-in's whole eight-frame row cycle.
    for (const layout_case& c : layout_cases) {
        run_result r = run_tool({"video", write_script(std::string("layout_") + c.pixel_type + ".avs", script_for(c, 10))});
        EXPECT_EQ(r.status, 0) << c.pixel_type << r.err;
        EXPECT_EQ(r.err, expected_err(c, 10, "progressive", 10, 100)) << c.pixel_type;
        EXPECT_TRUE(r.out == expected_stream(c, 10)) << c.pixel_type << ": stream differs";
    }
}

TEST(Video, StandinConvertsToTheEightBitLayoutsOnlyFromEightBits)
{
    // As the releases of AviSynth+ do: the tool never asks this of them.
    for (const char* filter : {"ConvertToYV12", "ConvertToYV16", "ConvertToYV24"}) {
        run_result r = run_tool({"info", write_script("deep_yv12.avs", std::string("BlankClip(pixel_type=\"YUV420P10\")"
                                                                                   ".") + filter + "()\n")});
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.err.rfind(std::string("clipspout [warn]: ") + filter + ": only 8 bit sources allowed (", 0), 0u)
            << r.err;
    }
}

TEST(Video, FieldOrderInHeaderAndMessage)
{
    const layout_case& c = case_named("YV12");
    const char* cases[][3] = {
        {"AssumeFieldBased().AssumeBFF()", "b", "bff"},
        {"AssumeFieldBased()", "t", "tff"},
        {"AssumeTFF()", "p", "progressive"},
    };
    for (const auto& f : cases) {
        run_result r = run_tool({"video", write_script("field.avs", script_for(c, 2, std::string(f[0]) + "\n"))});
        EXPECT_EQ(r.status, 0) << f[0];
        EXPECT_EQ(r.err, expected_err(c, 2, f[2], 2, 100)) << f[0];
        EXPECT_TRUE(r.out == expected_stream(c, 2, f[1])) << f[0];
    }
}

TEST(Video, ZeroFramesWriteTheHeaderOnly)
{
    const layout_case& c = case_named("YV24");
    run_result r = run_tool({"video", write_script("empty.avs", script_for(c, 0))});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, header_line(c, "p"));
    EXPECT_EQ(r.err, expected_err(c, 0, "progressive", 0, 100));
}

TEST(Video, RealDecodersReadEveryLayoutAndFieldOrder)
{
    struct {
        const char* pixel_type;
        const char* tail;
        const char* field_order;
    } cases[] = {
        {"YV24", "", "progressive"},   {"YV16", "", "progressive"},
        {"YV411", "", "progressive"},  {"Y8", "", "progressive"},
        {"YV12", "", "progressive"},   {"YV12", "AssumeFieldBased().AssumeTFF()\n", "tt"},
        {"YV12", "AssumeFieldBased().AssumeBFF()\n", "bb"},
    };
    for (const auto& f : cases) {
        const layout_case& c = case_named(f.pixel_type);
        run_result r = run_tool({"video", write_script("decode.avs", script_for(c, 10, f.tail))});
        ASSERT_EQ(r.status, 0);
        std::string file = write_script("decode.y4m", r.out);

        std::string probe = shell("ffprobe -v error -count_frames -show_entries "
                                  "stream=width,height,pix_fmt,field_order,nb_read_frames -of default=nw=1 '" +
                                  file + "'");
        EXPECT_EQ(probe, "width=" + std::to_string(c.width) + "\nheight=" + std::to_string(c.height) +
                             "\npix_fmt=" + c.ffmpeg_pix_fmt + "\nfield_order=" + f.field_order +
                             "\nnb_read_frames=10\n")
            << f.pixel_type << " " << f.tail;

        std::string crcs = shell("ffmpeg -v error -i '" + file + "' -f framecrc - | grep -v '^#'");
        std::string expected;
        for (int n = 0; n < 10; ++n) {
            std::string frame = expected_frame(c, n);
            char line[64];
            snprintf(line, sizeof line, ", %8zu, 0x%08x\n", frame.size(), framecrc_adler(frame));
            expected += line;
        }
        // Keep the size and checksum, the last two columns of each line.
        std::string sums;
        for (size_t start = 0, end; (end = crcs.find('\n', start)) != std::string::npos; start = end + 1) {
            std::string line = crcs.substr(start, end - start + 1);
            for (int column = 0; column < 4 && line.find(',') != std::string::npos; ++column)
                line.erase(0, line.find(',') + 1);
            sums += "," + line;
        }
        EXPECT_EQ(sums, expected) << f.pixel_type << " " << f.tail;
    }
}

TEST(Video, X264EncodesFromThePipe)
{
    std::string script = write_script("x264.avs", "BlankClip(length=30, width=320, height=240, pixel_type=\"YV12\", fps=25)\n");
    std::string out = write_script("x264.264", "");
    int status = -1;
    std::string log = shell(tool_command() + " video '" + script +
                                "' 2>/dev/null | x264 --demuxer y4m --preset ultrafast -o '" + out + "' - 2>&1",
                            &status);
    EXPECT_EQ(status, 0) << log;
    EXPECT_NE(log.find("encoded 30 frames"), std::string::npos) << log;
    EXPECT_GT(read_file(out).size(), 0u);
}

TEST(Video, ClipWithoutVideoIsRefused)
{
    run_result r = run_tool({"video", write_script("novideo.avs", "BlankClip().KillVideo()\n")});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "clipspout [error]: clip has no video.\n");
    EXPECT_EQ(r.out, "");
}

TEST(Video, FailedConversionWritesNothing)
{
    // "keep": a conversion that hands back the source format, which would
    // not match the stream header.
    const char* cases[][2] = {
        {"error", "clipspout [warn]: ConvertToYV24: conversion refused (StandinFault)\n"},
        {"keep", ""},
    };
    const layout_case& c = case_named("RGB32");
    for (const auto& f : cases) {
        std::string fault = std::string("StandinFault(convert=\"") + f[0] + "\")\n";
        run_result r = run_tool({"video", write_script("convfault.avs", script_for(c, 3, fault))});
        EXPECT_EQ(r.status, 2) << f[0];
        EXPECT_EQ(r.err, std::string("clipspout [info]: converting video to yv24.\n") + f[1] +
                             "clipspout [error]: cannot convert video to yv24.\n");
        EXPECT_EQ(r.out, "");
    }
}

TEST(Video, FrameTheServerCannotDeliverEndsTheStream)
{
    const layout_case& c = case_named("YV12");
    run_result r = run_tool({"video", write_script("badframe.avs", script_for(c, 3, "StandinFault(frame=2)\n"))});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "clipspout [info]: writing 3 frames of 25/1 fps, 18x6 YUV420 progressive video.\n"
                     "clipspout [warn]: frame 2: StandinFault: frame 2 cannot be delivered\n"
                     "\rclipspout [info]: finished, wrote 2 frames [66%].\n"
                     "clipspout [error]: only wrote 2 of 3 frames.\n");
    EXPECT_TRUE(r.out == expected_stream(c, 2));
}

TEST(Video, ClosedPipeAndFullDiskEndWithAnErrorAndAValidPrefix)
{
    layout_case big = {"YV12", 640, 480, "420", 3, 1, 1, nullptr, "yuv420p"};
    std::string script = write_script("big.avs", script_for(big, 20));
    std::string full = expected_stream(big, 20);
    // How many frames reach the reader before it closes depends on the pipe;
    // the lines around that count do not.
    auto expected_err = [](long long written) {
        return "clipspout [info]: writing 20 frames of 25/1 fps, 640x480 YUV420 progressive video.\n"
               "\rclipspout [info]: finished, wrote " + std::to_string(written) + " frames [" +
               std::to_string(written * 100 / 20) + "%].\n"
               "clipspout [error]: only wrote " + std::to_string(written) + " of 20 frames.\n";
    };

    cut_short_runs runs = run_cut_short({"video", script});
    for (const run_result* r : {&runs.closed_pipe, &runs.full_disk}) {
        EXPECT_EQ(r->status, 2);
        EXPECT_EQ(r->signal, 0);
    }
    const run_result& r = runs.closed_pipe;
    long long written = number_after(r.err, "only wrote ");
    EXPECT_GE(written, 0);
    EXPECT_LT(written, 20);
    EXPECT_EQ(r.err, expected_err(written));
    EXPECT_EQ(r.out, full.substr(0, 1000));

    EXPECT_EQ(runs.full_disk.err, expected_err(0));
}

namespace {

struct deep_case {
    const char* pixel_type;
    const char* depth;
    const char* conversions;  // the info lines before "writing"
    const char* chroma_tag;
    int planes, shift_w, shift_h, sample_bytes;
};

// 20x6 suits every subsampling; each row of a deeper plane is 2 bytes a sample.
const deep_case deep_cases[] = {
    {"YUV420P10", "keep", "", "420p10", 3, 1, 1, 2},
    {"YUV422P12", "keep", "", "422p12", 3, 1, 0, 2},
    {"YUV444P16", "keep", "", "444p16", 3, 0, 0, 2},
    {"YUV420P14", "keep", "", "420p14", 3, 1, 1, 2},
    {"Y10", "keep", "", "mono10", 1, 0, 0, 2},
    {"Y16", "keep", "", "mono16", 1, 0, 0, 2},
    {"Y14", "keep", "converting video to 16 bits.\n", "mono16", 1, 0, 0, 2},
    {"YUVA420P10", "keep", "", "420p10", 3, 1, 1, 2},
    {"YUV444PS", "keep", "converting video to 16 bits.\n", "444p16", 3, 0, 0, 2},
    {"RGB48", "keep", "converting video to yuv444.\n", "444p16", 3, 0, 0, 2},
    {"RGBP10", "keep", "converting video to yuv444.\n", "444p10", 3, 0, 0, 2},
    {"RGB32", "keep", "converting video to yv24.\n", "444", 3, 0, 0, 1},
    {"YUY2", "keep", "converting video to yv16.\n", "422", 3, 1, 0, 1},
    {"YV411", "keep", "", "411", 3, 2, 0, 1},
    {"YV12", "keep", "", "420", 3, 1, 1, 1},
    {"YV12", "10", "converting video to 10 bits.\n", "420p10", 3, 1, 1, 2},
    {"YUY2", "10", "converting video to yv16.\nconverting video to 10 bits.\n", "422p10", 3, 1, 0, 2},
    {"YUV420P16", "8", "converting video to 8 bits.\n", "420", 3, 1, 1, 1},
    {"YUV444P16", "12", "converting video to 12 bits.\n", "444p12", 3, 0, 0, 2},
};

std::string deep_frame(const deep_case& c, int width, int height, int n)
{
    std::string bytes;
    for (int p = 0; p < c.planes; ++p) {
        int w = (p ? width >> c.shift_w : width) * c.sample_bytes, h = p ? height >> c.shift_h : height;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                bytes += static_cast<char>(pattern_byte(n, p, y, x));
    }
    return bytes;
}

std::string info_lines(const char* lines)
{
    std::string out;
    for (const char* line = lines; *line;) {
        const char* end = strchr(line, '\n');
        out += "clipspout [info]: " + std::string(line, end + 1);
        line = end + 1;
    }
    return out;
}

}  // namespace

TEST(Video, DeepColourKeepsTheLayoutAtItsDepthByteForByte)
{
    for (const deep_case& c : deep_cases) {
        SCOPED_TRACE(std::string(c.pixel_type) + " --depth=" + c.depth);
        std::string script = std::string("BlankClip(length=9, width=20, height=6, pixel_type=\"") + c.pixel_type +
                             "\", fps=25)\n";
        run_result r = run_tool({std::string("--depth=") + c.depth, "video", write_script("deep.avs", script)});
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err, info_lines(c.conversions) + "clipspout [info]: writing 9 frames of 25/1 fps, 20x6 YUV" +
                             c.chroma_tag + " progressive video.\n\rclipspout [info]: finished, wrote 9 frames "
                                            "[100%].\n");
        std::string expected = std::string("YUV4MPEG2 W20 H6 F25:1 Ip A0:0 C") + c.chroma_tag +
                               " XCOLORRANGE=LIMITED\n";
        for (int n = 0; n < 9; ++n)
            expected += "FRAME\n" + deep_frame(c, 20, 6, n);
        EXPECT_TRUE(r.out == expected) << r.out.substr(0, r.out.find('\n'));
    }
}

TEST(Video, DeepColourHeaderCarriesFrameProperties)
{
    const std::string clip = "BlankClip(length=2, width=16, height=8, pixel_type=\"YUV420P10\", fps=25)\n";
    const std::string start = "YUV4MPEG2 W16 H8 F25:1 Ip ";
    const char* cases[][3] = {
        {"", "A0:0 C420p10 XCOLORRANGE=LIMITED\n", "keep"},
        {"propSet(\"_SARNum\", 16).propSet(\"_SARDen\", 11)\n", "A16:11 C420p10 XCOLORRANGE=LIMITED\n", "keep"},
        {"propSet(\"_ColorRange\", 0)\n", "A0:0 C420p10 XCOLORRANGE=FULL\n", "keep"},
        {"propDelete(\"_ColorRange\").propSet(\"_SARNum\", 4)\n", "A0:0 C420p10\n", "keep"},  // half a ratio is none
        {"propSet(\"_ColorRange\", 7)\n", "A0:0 C420p10\n", "keep"},
        {"propSet(\"_SARNum\", 16).propSet(\"_SARDen\", 11)\n", "A16:11 C420 XCOLORRANGE=LIMITED\n", "8"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c[0]);
        run_result r = run_tool({std::string("--depth=") + c[2], "video", write_script("props.avs", clip + c[0])});
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out.substr(0, r.out.find('\n') + 1), start + c[1]);
    }
    // Without --depth the header is as it always was.
    run_result r = run_tool({"video", write_script("props.avs", clip + cases[1][0])});
    EXPECT_EQ(r.out.substr(0, r.out.find('\n') + 1), start + "A0:0 C420\n");
}

TEST(Video, DeepColourOnAFrameServerThatKnowsOnly8Bits)
{
    run_options classic;
    classic.frameserver = "standin-classic";
    std::string script = write_script("classic.avs", "BlankClip(length=2, width=16, height=8, pixel_type=\"YV12\", "
                                                     "fps=25)\n");
    run_result plain = run_tool({"video", script}, classic);
    run_result keep = run_tool({"--depth=keep", "video", script}, classic);
    EXPECT_EQ(keep.status, 0) << keep.err;
    EXPECT_TRUE(keep.out == plain.out) << "no properties, no conversion: the stream of old";
    EXPECT_EQ(keep.err, plain.err);
    // What --depth would take from frame properties is missing, and said;
    // video without --depth never took anything from them, so it says nothing.
    EXPECT_EQ(keep.frameserver_note, "clipspout [info]: the frame server (interface version 6) has no frame "
                                     "properties: colour, HDR metadata, frame timing and field order from frame "
                                     "properties are left out.\n");
    EXPECT_EQ(plain.frameserver_note, "");

    run_result deeper = run_tool({"--depth=10", "video", script}, classic);
    EXPECT_EQ(deeper.status, 2);
    EXPECT_EQ(deeper.out, "");
    EXPECT_EQ(deeper.err, "clipspout [info]: converting video to 10 bits.\n"
                          "clipspout [warn]: Script error: There is no function named 'ConvertBits'.\n"
                          "clipspout [error]: cannot convert video to 10 bits.\n");
}

TEST(Video, FieldOrderPropertyAgainstTheClipsFlags)
{
    check_field_order_properties(run_options());
}

TEST(Video, NoFieldOrderWarningWithoutPropertyFunctions)
{
    // AviSynth 2.6 has no frame properties: every mode reads the flags alone.
    run_options classic;
    classic.frameserver = "standin-classic";
    std::string script = write_script("classic-field.avs", "BlankClip(length=2, width=720, height=576, "
                                                           "pixel_type=\"YV12\", fps=25).AssumeFieldBased()\n");
    for (const char* mode : {"info", "x264bd"}) {
        run_result r = run_tool({mode, script}, classic);
        EXPECT_EQ(r.status, 0) << mode;
        EXPECT_EQ(r.err, "") << mode;
    }
    run_result deep = run_tool({"--depth=keep", "video", script}, classic);
    EXPECT_EQ(deep.out.substr(0, 30), "YUV4MPEG2 W720 H576 F25:1 It A");
}

TEST(Video, TimecodesFollowTheFramesWritten)
{
    check_timecodes(run_options());
}

TEST(Video, ChromaSitingUnderDepth)
{
    check_chroma_siting(run_options());
}

// --raw: the planes of every frame, the same bytes in the same order and
// depth as in the y4m stream, without its header and FRAME lines.
TEST(Video, RawIsThePlanesAloneInEveryLayoutAndDepth)
{
    for (const layout_case& c : layout_cases) {
        SCOPED_TRACE(c.pixel_type);
        run_result r = run_tool({"--raw", "video", write_script("raw.avs", script_for(c, 10))});
        EXPECT_EQ(r.status, 0) << r.err;
        std::string expected;
        for (int n = 0; n < 10; ++n)
            expected += expected_frame(c, n);
        EXPECT_TRUE(r.out == expected) << "stream differs";
        EXPECT_NE(r.err.find("video, raw: no header, no FRAME lines.\n"), std::string::npos) << r.err;
    }
    for (const deep_case& c : deep_cases) {
        SCOPED_TRACE(std::string(c.pixel_type) + " --depth=" + c.depth);
        std::string script = std::string("BlankClip(length=9, width=20, height=6, pixel_type=\"") + c.pixel_type +
                             "\", fps=25)\n";
        run_result r = run_tool({std::string("--depth=") + c.depth, "--raw", "video", write_script("raw.avs", script)});
        EXPECT_EQ(r.status, 0) << r.err;
        std::string expected;
        for (int n = 0; n < 9; ++n)
            expected += deep_frame(c, 20, 6, n);
        EXPECT_TRUE(r.out == expected) << "stream differs";
    }
}

// Frames that carry durations off the clip's rate lose their timing in a
// stream that states one rate: said once, with the remedy, where the
// stream has no other word for them.
TEST(Video, AVariableRateWithoutTimecodesIsSaidToLoseItsTiming)
{
    const std::string steady = "BlankClip(length=6, width=16, height=8, pixel_type=\"YV12\", fps=25)\n"
                               "propSet(\"_DurationNum\", 1).propSet(\"_DurationDen\", 25)\n";
    const std::string slow = "BlankClip(length=6, width=16, height=8, pixel_type=\"YV12\", fps=25)\n"
                             "propSet(\"_DurationNum\", 1).propSet(\"_DurationDen\", 10)\n";
    const std::string tc = write_script("vfr/out.tc", "");
    const struct {
        const char* what;
        std::vector<std::string> options;
        const char* mode;
        const std::string& script;
        bool warned;
    } cases[] = {
        {"durations at the rate", {}, "video", steady, false},
        {"durations off the rate", {}, "video", slow, true},
        {"raw, off the rate", {"--raw"}, "video", slow, true},
        {"off the rate, with timecodes", {"--timecodes", tc}, "video", slow, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::string> args = c.options;
        args.insert(args.end(), {c.mode, write_script("vfr/clip.avs", c.script)});
        const run_result r = run_tool(args);
        EXPECT_EQ(r.status, 0) << r.err;
        const std::string said = "clipspout [warn]: the frames carry durations of their own (a variable frame rate: "
                                 "frame 1 starts off the clip's 25/1 fps), and this stream states that one rate: "
                                 "their timing is lost. --timecodes FILE writes it for mkvmerge, or mkv carries it.\n";
        EXPECT_EQ(r.err.find(said) != std::string::npos, c.warned) << r.err;
        EXPECT_EQ(r.err.find(said), r.err.rfind(said)) << "said more than once";
    }
}
