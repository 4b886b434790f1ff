// The Matroska stream against the stand-in: every layout byte for byte
// against its frame pattern as ffmpeg decodes the stream from a pipe, the
// cases every frame server must pass, and the faults only the stand-in can
// plant.

#include <gtest/gtest.h>

#include <sstream>

#include "harness.h"
#include "matroska_cases.h"

namespace {

struct mkv_layout {
    const char* pixel_type;  // of the clip
    const char* depth;       // --depth, or null
    const char* conversions; // the "converting video to ..." lines' targets, or ""
    const char* written;     // the stand-in's format written
    const char* name;        // in the message
    const char* pix_fmt;     // ffmpeg's reading
    int planes, shift_w, shift_h, sample_bytes;
    bool packed_rgb;
};

const mkv_layout layouts[] = {
    // The 8-bit layouts, as for YUV4MPEG2.
    {"YV24", nullptr, "", "YV24", "YUV444", "yuv444p", 3, 0, 0, 1, false},
    {"YV16", nullptr, "", "YV16", "YUV422", "yuv422p", 3, 1, 0, 1, false},
    {"YUY2", nullptr, "yv16", "YV16", "YUV422", "yuv422p", 3, 1, 0, 1, false},
    {"YV411", nullptr, "", "YV411", "YUV411", "yuv411p", 3, 2, 0, 1, false},
    {"Y8", nullptr, "", "Y8", "YUVmono", "gray", 1, 0, 0, 1, false},
    {"YV12", nullptr, "", "YV12", "YUV420", "yuv420p", 3, 1, 1, 1, false},
    {"I420", nullptr, "", "I420", "YUV420", "yuv420p", 3, 1, 1, 1, false},
    {"YUV420P10", nullptr, "yv12", "YV12", "YUV420", "yuv420p", 3, 1, 1, 1, false},
    // RGB stays RGB, packed (rows bottom first in the frame server, top
    // first in the stream) or planar; alpha stays.
    {"RGB24", nullptr, "", "RGB24", "RGB24", "bgr24", 1, 0, 0, 3, true},
    {"RGB32", nullptr, "", "RGB32", "RGB32", "bgra", 1, 0, 0, 4, true},
    {"RGB64", nullptr, "8 bits", "RGB32", "RGB32", "bgra", 1, 0, 0, 4, true},
    {"RGBP10", nullptr, "8 bits", "RGBP", "RGBP", "gbrp", 3, 0, 0, 1, false},
    {"YUVA420", nullptr, "", "YUVA420", "YUVA420", "yuva420p", 4, 1, 1, 1, false},
    {"YUVA422", nullptr, "", "YUVA422", "YUVA422", "yuva422p", 4, 1, 0, 1, false},
    // --depth keeps the depth.
    {"YUV420P10", "keep", "", "YUV420P10", "YUV420p10", "yuv420p10le", 3, 1, 1, 2, false},
    {"YUV444P16", "keep", "", "YUV444P16", "YUV444p16", "yuv444p16le", 3, 0, 0, 2, false},
    {"Y14", "keep", "", "Y14", "YUVmono14", "gray14le", 1, 0, 0, 2, false},
    {"YUV444PS", "keep", "16 bits", "YUV444P16", "YUV444p16", "yuv444p16le", 3, 0, 0, 2, false},
    {"RGB48", "keep", "", "RGB48", "RGB48", "bgr48le", 1, 0, 0, 6, true},
    {"RGB64", "keep", "", "RGB64", "RGB64", "bgra64le", 1, 0, 0, 8, true},
    {"RGB24", "10", "planar rgb,10 bits", "RGBP10", "RGBP10", "gbrp10le", 3, 0, 0, 2, false},
    {"RGBP16", "keep", "", "RGBP16", "RGBP16", "gbrp16le", 3, 0, 0, 2, false},
    {"RGBAP10", "keep", "", "RGBAP10", "RGBAP10", "gbrap10le", 4, 0, 0, 2, false},
    {"YUVA420P10", "keep", "", "YUVA420P10", "YUVA420p10", "yuva420p10le", 4, 1, 1, 2, false},
    {"YUVA444P10", "keep", "", "YUVA444P10", "YUVA444p10", "yuva444p10le", 4, 0, 0, 2, false},
    // ffmpeg has no 12-bit 4:2:0 with alpha: the alpha is left out.
    {"YUVA420P12", "keep", "", "YUVA420P12", "YUV420p12", "yuv420p12le", 3, 1, 1, 2, false},
};

const int width = 24, height = 10, frames = 9;

// The planes of frame n of the written format, as the stream carries them.
std::string expected_frame(const mkv_layout& l, int n)
{
    std::string bytes;
    for (int p = 0; p < l.planes; ++p) {
        const bool chroma = p == 1 || p == 2;
        const int w = (chroma ? width >> l.shift_w : width) * l.sample_bytes;
        const int h = chroma ? height >> l.shift_h : height;
        for (int row = 0; row < h; ++row) {
            const int y = l.packed_rgb ? h - 1 - row : row;  // the frame server's rows, bottom first
            for (int x = 0; x < w; ++x)
                bytes += static_cast<char>(pattern_byte(n, p, y, x));
        }
    }
    return bytes;
}

std::string layout_script(const mkv_layout& l, const std::string& tail = "")
{
    return "BlankClip(length=" + std::to_string(frames) + ", width=" + std::to_string(width) +
           ", height=" + std::to_string(height) + ", pixel_type=\"" + l.pixel_type + "\", fps=25)\nKillAudio()\n" +
           tail;
}

}  // namespace

TEST(Matroska, EveryLayoutIsByteExactThroughAPipe)
{
    for (const mkv_layout& l : layouts) {
        SCOPED_TRACE(std::string(l.pixel_type) + (l.depth ? std::string(" --depth=") + l.depth : ""));
        std::vector<std::string> args = {"mkv", write_script("layout.avs", layout_script(l))};
        if (l.depth)
            args.insert(args.begin(), std::string("--depth=") + l.depth);
        run_result r = run_tool(args, {});
        ASSERT_EQ(r.status, 0) << r.err;

        std::string expected_err;
        std::istringstream conversions(l.conversions);
        for (std::string target; std::getline(conversions, target, ',');)
            expected_err += "clipspout [info]: converting video to " + target + ".\n";
        expected_err += "clipspout [info]: writing 9 frames of 25/1 fps, 24x10 " + std::string(l.name) +
                        " progressive video.\n\rclipspout [info]: finished, wrote 9 frames [100%].\n";
        EXPECT_EQ(r.err, expected_err);

        EXPECT_EQ(probe_fields(r.out)["pix_fmt"], l.pix_fmt);
        std::string expected;
        for (int n = 0; n < frames; ++n)
            expected += expected_frame(l, n);
        EXPECT_TRUE(matroska_frames(r.out, l.pix_fmt) == expected) << "the frames differ from the pattern";
    }
}

TEST(Matroska, MetadataAsFfprobeReadsIt)
{
    check_matroska_metadata({});
}

TEST(Matroska, AudioOfEverySampleTypeEqualsTheAudioMode)
{
    check_matroska_audio({}, [](const std::string& type, int channels) {
        // 1.5 s of audio against 1.2 s of video.
        return "AudioDub(BlankClip(length=30, width=32, height=16, pixel_type=\"YV12\", fps=25).KillAudio(), "
               "BlankClip(length=75, width=32, height=16, pixel_type=\"YV12\", fps=50, audio_rate=48000, channels=" +
               std::to_string(channels) + ", sample_type=\"" + type + "\"))\n";
    });
}

TEST(Matroska, TimingAndInterleaving)
{
    check_matroska_timing({});
}

TEST(Matroska, RangesAndFailures)
{
    check_matroska_ranges_and_failures({});
}

TEST(Matroska, AFrameOrSamplesTheServerCannotDeliverEndTheStream)
{
    const std::string film = "BlankClip(length=5, width=32, height=16, pixel_type=\"YV12\", fps=25, audio_rate=8000)\n";
    run_result frame = run_tool({"mkv", write_script("fault.avs", film + "StandinFault(frame=3)\n")});
    EXPECT_EQ(frame.status, 2);
    EXPECT_NE(frame.err.find("clipspout [warn]: frame 3: StandinFault: frame 3 cannot be delivered\n"
                             "\rclipspout [info]: finished, wrote 3 frames [60%].\n"
                             "clipspout [error]: only wrote 3 of 5 frames.\n"),
              std::string::npos)
        << frame.err;
    // What did go out is a stream of those frames.
    EXPECT_EQ(matroska_frames(frame.out, "yuv420p").size(), 3u * 32 * 16 * 3 / 2);

    // Frame 2's span holds sample 700: frame 2 does not go out without it.
    run_result samples = run_tool({"mkv", write_script("fault.avs", film + "StandinFault(sample=700)\n")});
    EXPECT_EQ(samples.status, 2);
    EXPECT_NE(samples.err.find("clipspout [warn]: audio at sample 640: StandinFault: audio at sample 700 cannot be "
                               "delivered\n"),
              std::string::npos)
        << samples.err;
    EXPECT_NE(samples.err.find("only wrote 2 of 5 frames.\n"), std::string::npos) << samples.err;
    EXPECT_EQ(samples.out.find(std::string(4, '\xEE')), std::string::npos) << "the failed fetch's bytes went out";
}

TEST(Matroska, OneTrackForAClipWithOnlyOne)
{
    // Audio alone: one track, in blocks of a tenth of a second.
    run_result audio = run_tool({"mkv", write_script("audio.avs", "BlankClip(length=50, fps=25, audio_rate=44100, "
                                                                  "channels=2).KillVideo()\n")});
    ASSERT_EQ(audio.status, 0) << audio.err;
    EXPECT_EQ(audio.err, "clipspout [info]: writing 2 seconds of 44100 Hz, 2 channel audio.\n"
                         "\rclipspout [info]: finished, wrote 2 seconds [100%].\n");
    const std::string track_types = "ffprobe -v error -show_entries stream=codec_type -of csv=p=0 -";
    EXPECT_EQ(read_through_pipe(audio.out, track_types), "audio\n");
    EXPECT_EQ(read_through_pipe(audio.out, "ffprobe -v error -show_entries packet=size -of csv=p=0 - | sort -u"),
              "17640\n");
    run_result wav = run_tool({"audio", write_script("audio.avs", "BlankClip(length=50, fps=25, audio_rate=44100, "
                                                                  "channels=2).KillVideo()\n")});
    EXPECT_TRUE(matroska_samples(audio.out, "s16le") == wav.out.substr(80));

    run_result video = run_tool({"mkv", write_script("video.avs", layout_script(layouts[5]))});
    ASSERT_EQ(video.status, 0) << video.err;
    EXPECT_EQ(read_through_pipe(video.out, track_types), "video\n");
}

TEST(Matroska, ReadersTakeTheStream)
{
    // mkvinfo names every element, mkvmerge remuxes it, mpv plays it to its
    // end from a pipe.
    std::string path = write_script("readers.avs", "BlankClip(length=12, width=64, height=32, pixel_type=\"YV12\", "
                                                   "fps=25, audio_rate=48000, channels=6)\n"
                                                   "propSet(\"_Transfer\", 16)\n");
    run_result r = run_tool({"mkv", path});
    ASSERT_EQ(r.status, 0) << r.err;
    std::string saved = write_script("mkv/readers.mkv", r.out);
    int status = -1;
    std::string elements = shell("mkvinfo '" + saved + "' 2>&1", &status);
    EXPECT_EQ(status, 0) << elements;
    EXPECT_EQ(elements.find("arning"), std::string::npos) << elements;
    EXPECT_EQ(elements.find("Unknown element"), std::string::npos) << elements;
    EXPECT_NE(elements.find("Color transfer: 16"), std::string::npos) << elements;
    std::string remuxed = write_script("mkv/remuxed.mkv", "");
    std::string log = shell("mkvmerge -q -o '" + remuxed + "' '" + saved + "' 2>&1", &status);
    EXPECT_EQ(status, 0) << log;
    EXPECT_TRUE(matroska_frames(read_file(remuxed), "yuv420p") == matroska_frames(r.out, "yuv420p"));
    if (shell("command -v mpv").empty())
        GTEST_SKIP() << "no mpv";
    log = read_through_pipe(r.out, "mpv --no-config --vo=null --ao=null - 2>&1; echo status $?");
    EXPECT_NE(log.find("Exiting... (End of file)"), std::string::npos) << log;
    EXPECT_NE(log.find("status 0"), std::string::npos) << log;
}

TEST(Matroska, AClassicFrameServerGivesTheStreamWithoutProperties)
{
    run_options classic;
    classic.frameserver = "standin-classic";
    run_result r = run_tool({"mkv", write_script("classic.avs", layout_script(layouts[0]))}, classic);
    ASSERT_EQ(r.status, 0) << r.err;
    std::string saved = write_script("mkv/classic.mkv", r.out);
    EXPECT_EQ(shell("mkvinfo '" + saved + "'").find("color"), std::string::npos);
    EXPECT_TRUE(matroska_frames(r.out, "yuv444p") == [] {
        std::string all;
        for (int n = 0; n < frames; ++n)
            all += expected_frame(layouts[0], n);
        return all;
    }());
}
