// Real media, opened the way a user's script opens a film: files that
// ffmpeg makes, read through AviSynth+ and its FFMS2 source plugin. Every
// stream the tool writes without a conversion is held to ffmpeg's own
// decode of the same file, frame for frame and sample for sample; where the
// frame server converts, real readers must take the stream whole.
//
// Runs where the suite is given a real frame server and the plugin
// (CLIPSPOUT_TEST_REAL_FRAMESERVER, CLIPSPOUT_TEST_FFMS2; scripts/test.sh
// sets both).

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "encoder_args_cases.h"
#include "harness.h"
#include "matroska_cases.h"
#include "report_cases.h"

namespace {

std::string ffms2_plugin()
{
    const char* plugin = getenv("CLIPSPOUT_TEST_FFMS2");
    return plugin && *plugin ? plugin : "";
}

run_options on_real_server()
{
    run_options options;
    options.frameserver = real_frameserver();
    return options;
}

class RealMedia : public testing::Test {
protected:
    void SetUp() override
    {
        if (real_frameserver().empty() || ffms2_plugin().empty())
            GTEST_SKIP() << "no real frame server or no FFMS2 plugin: CLIPSPOUT_TEST_REAL_FRAMESERVER or "
                            "CLIPSPOUT_TEST_FFMS2 is not set";
    }
};

// A media file that ffmpeg makes in the test run's folder from its own
// test sources; returns its path.
std::string make_media(const std::string& name, const std::string& ffmpeg_arguments)
{
    std::string path = write_script("media/" + name, "");
    int status = -1;
    std::string log = shell("ffmpeg -v error -y " + ffmpeg_arguments + " '" + path + "' 2>&1", &status);
    EXPECT_EQ(status, 0) << "ffmpeg could not make " << name << ": " << log;
    return path;
}

// testsrc2 at a width whose rows are shorter than the frame server's pitch.
std::string test_picture(int frames, int width = 72, int height = 40)
{
    return "-f lavfi -i testsrc2=size=" + std::to_string(width) + "x" + std::to_string(height) +
           ":rate=25:duration=" + std::to_string(frames / 25.0) + " ";
}

// One input of channels tones, each of its own pitch, so that a channel
// swap shows.
std::string test_tones(int channels, double seconds)
{
    std::string tones;
    for (int c = 0; c < channels; ++c)
        tones += (c ? "|" : "") + std::string("0.5*sin(2*PI*") + std::to_string(220 + 110 * c) + "*t)";
    return "-f lavfi -i 'aevalsrc=" + tones + ":s=48000:d=" + std::to_string(seconds) + "' ";
}

std::string script_opening(const std::string& source_call)
{
    return "LoadPlugin(\"" + ffms2_plugin() + "\")\n" + source_call + "\n";
}

// FFVideoSource on a file, its index kept beside it.
std::string video_script(const std::string& media, const std::string& tail = "")
{
    return write_script("media/video.avs",
                        script_opening("FFVideoSource(\"" + media + "\", cachefile=\"" + media + ".ffindex\")") + tail);
}

// Video and audio of one file, as a user's first script has them.
std::string film_script(const std::string& media)
{
    const std::string index = "\", cachefile=\"" + media + ".ffindex\")";
    return write_script("media/film.avs", script_opening("AudioDub(FFVideoSource(\"" + media + index +
                                                         ", FFAudioSource(\"" + media + index + ")"));
}

std::string audio_script(const std::string& media)
{
    return write_script("media/audio.avs",
                        script_opening("FFAudioSource(\"" + media + "\", cachefile=\"" + media + ".ffindex\")"));
}

// ffmpeg's own decode of a file's video as raw frames in pix_fmt, every
// frame as the file holds it.
std::string ffmpeg_frames(const std::string& media, const std::string& pix_fmt)
{
    return shell("ffmpeg -v error -i '" + media + "' -map 0:v:0 -fps_mode passthrough -f rawvideo -pix_fmt " +
                 pix_fmt + " -");
}

std::string probe(const std::string& file, const std::string& entries)
{
    return shell("ffprobe -v error -count_frames -show_entries " + entries + " -of csv=p=0 '" + file + "'");
}

struct y4m_stream {
    std::string header;  // the first line, without its line end
    std::string planes;  // the payload of every frame, back to back
    int frames = 0;
    bool well_formed = false;
};

// Splits a stream into its header and frames, the frame size taken from
// the header's own W, H and C.
y4m_stream parse_any_y4m(const std::string& stream)
{
    y4m_stream s;
    size_t end = stream.find('\n');
    if (end == std::string::npos)
        return s;
    s.header = stream.substr(0, end);
    long long width = number_after(s.header, " W"), height = number_after(s.header, " H");
    std::string chroma = s.header.substr(s.header.find(" C") + 2);
    chroma = chroma.substr(0, chroma.find(' '));
    long long luma = width * height, chroma_plane = 0;
    if (chroma.rfind("444", 0) == 0)
        chroma_plane = luma;
    else if (chroma.rfind("422", 0) == 0)
        chroma_plane = (width / 2) * height;
    else if (chroma.rfind("420", 0) == 0)
        chroma_plane = (width / 2) * (height / 2);
    else if (chroma.rfind("411", 0) == 0)
        chroma_plane = (width / 4) * height;
    // "420p10", "mono16": two bytes a sample.
    const bool deep = chroma.find("p1") != std::string::npos || chroma.rfind("mono1", 0) == 0;
    const size_t frame = static_cast<size_t>(luma + 2 * chroma_plane) * (deep ? 2 : 1);
    for (size_t at = end + 1; at < stream.size(); at += 6 + frame, ++s.frames) {
        if (stream.compare(at, 6, "FRAME\n") != 0 || stream.size() - at - 6 < frame)
            return s;
        s.planes.append(stream, at + 6, frame);
    }
    s.well_formed = true;
    return s;
}

// How one source format goes out, in the default mode and with
// --depth=keep. A null conversion means the stream is written as the
// frame server holds the clip, and must equal ffmpeg's decode in
// reference_pix_fmt.
struct written_as {
    const char* conversion;  // the "converting video to ..." target, or null
    const char* chroma_tag;
    const char* pix_fmt;     // ffmpeg's reading of the stream
    const char* reference = nullptr;  // ffmpeg's decode to compare with, if not pix_fmt
};

struct media_format {
    const char* name;
    const char* encode;       // ffmpeg output options
    int frames;
    const char* file_pix_fmt; // what ffprobe reads in the file
    written_as by_default, kept;
};

const media_format media_formats[] = {
    // Lossless FFV1, one per layout the frame server has.
    {"yuv420p", "-pix_fmt yuv420p -c:v ffv1", 12, "yuv420p", {nullptr, "420", "yuv420p"}, {nullptr, "420", "yuv420p"}},
    {"yuv422p", "-pix_fmt yuv422p -c:v ffv1", 12, "yuv422p", {nullptr, "422", "yuv422p"}, {nullptr, "422", "yuv422p"}},
    {"yuv444p", "-pix_fmt yuv444p -c:v ffv1", 12, "yuv444p", {nullptr, "444", "yuv444p"}, {nullptr, "444", "yuv444p"}},
    {"yuv411p", "-pix_fmt yuv411p -c:v ffv1", 12, "yuv411p", {nullptr, "411", "yuv411p"}, {nullptr, "411", "yuv411p"}},
    {"gray", "-pix_fmt gray -c:v ffv1", 12, "gray", {nullptr, "mono", "gray"}, {nullptr, "mono", "gray"}},
    {"yuv420p10le", "-pix_fmt yuv420p10le -c:v ffv1", 12, "yuv420p10le", {"yv12", "420", "yuv420p"},
     {nullptr, "420p10", "yuv420p10le"}},
    {"yuv422p10le", "-pix_fmt yuv422p10le -c:v ffv1", 12, "yuv422p10le", {"yv12", "420", "yuv420p"},
     {nullptr, "422p10", "yuv422p10le"}},
    // The plugin delivers 12-bit video as 16-bit.
    {"yuv420p12le", "-pix_fmt yuv420p12le -c:v ffv1", 12, "yuv420p12le", {"yv12", "420", "yuv420p"},
     {nullptr, "420p16", "yuv420p16le"}},
    {"yuv444p16le", "-pix_fmt yuv444p16le -c:v ffv1", 12, "yuv444p16le", {"yv12", "420", "yuv420p"},
     {nullptr, "444p16", "yuv444p16le"}},
    {"gray16le", "-pix_fmt gray16le -c:v ffv1", 12, "gray16le", {"yv12", "420", "yuv420p"},
     {nullptr, "mono16", "gray16le"}},
    // Alpha is not carried: --depth=keep drops its plane; the default mode
    // converts to 4:2:0.
    {"yuva420p", "-pix_fmt yuva420p -c:v ffv1", 12, "yuva420p", {"yv12", "420", "yuv420p"},
     {nullptr, "420", "yuv420p"}},
    {"yuva444p10le", "-pix_fmt yuva444p10le -c:v ffv1", 12, "yuva444p10le", {"yv12", "420", "yuv420p"},
     {nullptr, "444p10", "yuv444p10le"}},
    // Packed RGB (the plugin gives RGB32) and planar RGB (RGBP10).
    {"bgr0", "-pix_fmt bgr0 -c:v ffv1", 12, "bgr0", {"yv24", "444", "yuv444p"}, {"yv24", "444", "yuv444p"}},
    {"gbrp10le", "-pix_fmt gbrp10le -c:v ffv1", 12, "gbrp10le", {"yv12", "420", "yuv420p"},
     {"yuv444", "444p10", "yuv444p10le"}},
    // 8-bit planar RGB (lossless UtVideo, which the plugin gives as RGB32)
    // and 16-bit packed RGB (raw, in NUT: ffmpeg writes no raw RGB into
    // Matroska), which the plugin gives as planar RGBP16.
    {"gbrp", "-pix_fmt gbrp -c:v utvideo", 12, "gbrp", {"yv24", "444", "yuv444p"}, {"yv24", "444", "yuv444p"}},
    {"rgb48le", "-pix_fmt rgb48le -c:v rawvideo", 12, "rgb48le", {"yv12", "420", "yuv420p"},
     {"yuv444", "444p16", "yuv444p16le"}},
    // Long-GOP H.264 with B-frames, as films arrive; yuvj420p carries full
    // range in the stream.
    {"h264_8bit", "-pix_fmt yuv420p -c:v libx264 -preset ultrafast -bf 3 -g 24", 60, "yuv420p",
     {nullptr, "420", "yuv420p"}, {nullptr, "420", "yuv420p"}},
    {"h264_yuvj420p", "-pix_fmt yuvj420p -c:v libx264 -preset ultrafast -bf 3 -g 24", 60, "yuvj420p",
     {nullptr, "420", "yuv420p", "yuvj420p"}, {nullptr, "420", "yuv420p", "yuvj420p"}},
    {"h264_10bit", "-pix_fmt yuv420p10le -c:v libx264 -preset ultrafast -bf 3 -g 24", 60, "yuv420p10le",
     {"yv12", "420", "yuv420p"}, {nullptr, "420p10", "yuv420p10le"}},
};

std::string extension_of(const media_format& f)
{
    const std::string encode = f.encode;
    return encode.find("libx264") != std::string::npos    ? ".mp4"
           : encode.find("rawvideo") != std::string::npos ? ".nut"
                                                          : ".mkv";
}

// Test names and messages show a format by its name.
void PrintTo(const media_format& f, std::ostream* os)
{
    *os << f.name;
}

class RealMediaFormat : public RealMedia, public testing::WithParamInterface<media_format> {};

}  // namespace

TEST_P(RealMediaFormat, EveryModeWritesTheFileAsFfmpegDecodesIt)
{
    const media_format& f = GetParam();
    std::string media = make_media(std::string(f.name) + extension_of(f), test_picture(f.frames) + f.encode);
    ASSERT_EQ(probe(media, "stream=pix_fmt,nb_read_frames"),
              std::string(f.file_pix_fmt) + "," + std::to_string(f.frames) + "\n");
    std::string script = video_script(media);

    for (bool keep : {false, true}) {
        const written_as& w = keep ? f.kept : f.by_default;
        SCOPED_TRACE(keep ? "--depth=keep" : "default mode");
        std::vector<std::string> args = {"video", script};
        if (keep)
            args.insert(args.begin(), "--depth=keep");
        run_result r = run_tool(args, on_real_server());
        ASSERT_EQ(r.status, 0) << r.err;

        // The messages tell what happened: a conversion where there was one.
        std::string expected_start =
            w.conversion ? std::string("clipspout [info]: converting video to ") + w.conversion + ".\n" : "";
        expected_start += "clipspout [info]: writing " + std::to_string(f.frames) + " frames of 25/1 fps, 72x40 YUV" +
                          w.chroma_tag + " progressive video.\n";
        EXPECT_EQ(r.err.substr(0, expected_start.size()), expected_start);
        EXPECT_EQ(r.err.find("converting", expected_start.size()), std::string::npos) << r.err;

        y4m_stream stream = parse_any_y4m(r.out);
        ASSERT_TRUE(stream.well_formed) << stream.header;
        EXPECT_EQ(stream.frames, f.frames);
        EXPECT_EQ(stream.header.find(std::string(" C") + w.chroma_tag), stream.header.find(" C"));
        std::string file = write_script("media/out.y4m", r.out);
        EXPECT_EQ(probe(file, "stream=pix_fmt,nb_read_frames"),
                  std::string(w.pix_fmt) + "," + std::to_string(f.frames) + "\n");

        if (!w.conversion) {
            EXPECT_TRUE(stream.planes == ffmpeg_frames(media, w.reference ? w.reference : w.pix_fmt))
                << "the frames differ from ffmpeg's decode of the file";
        } else {
            // The frame server converted: x264 takes the stream whole.
            int status = -1;
            std::string log = shell("x264 --demuxer y4m --preset ultrafast -o /dev/null '" + file + "' 2>&1", &status);
            EXPECT_EQ(status, 0) << log;
            EXPECT_NE(log.find("encoded " + std::to_string(f.frames) + " frames"), std::string::npos) << log;
        }
    }
}

TEST_P(RealMediaFormat, MatroskaCarriesTheFramesOfTheVideoMode)
{
    const media_format& f = GetParam();
    std::string media = make_media(std::string(f.name) + extension_of(f), test_picture(f.frames) + f.encode);
    std::string script = video_script(media);
    for (bool keep : {false, true}) {
        SCOPED_TRACE(keep ? "--depth=keep" : "default mode");
        std::vector<std::string> mkv_args = {"mkv", script}, y4m_args = {"video", script};
        if (keep) {
            mkv_args.insert(mkv_args.begin(), "--depth=keep");
            y4m_args.insert(y4m_args.begin(), "--depth=keep");
        }
        run_result mkv = run_tool(mkv_args, on_real_server());
        run_result y4m = run_tool(y4m_args, on_real_server());
        ASSERT_EQ(mkv.status, 0) << mkv.err;
        const std::string pix_fmt = probe_fields(mkv.out)["pix_fmt"];
        const std::string frames = matroska_frames(mkv.out, pix_fmt);
        const written_as& w = keep ? f.kept : f.by_default;
        if (pix_fmt == w.pix_fmt) {
            // The layout y4m has: the same frames, byte for byte.
            EXPECT_TRUE(frames == parse_any_y4m(y4m.out).planes) << "the frames differ from the video mode's";
        } else if (mkv.err.find("converting") == std::string::npos) {
            // RGB and alpha, which y4m cannot carry, as the file holds them.
            EXPECT_TRUE(frames == ffmpeg_frames(media, pix_fmt)) << pix_fmt << " differs from ffmpeg's decode";
            EXPECT_TRUE(pix_fmt.find("gbr") == 0 || pix_fmt.find("bgr") == 0 || pix_fmt.find("yuva") == 0) << pix_fmt;
        } else {
            // Brought to 8 bits as RGB or with alpha: a whole stream.
            EXPECT_NE(mkv.err.find("converting video to 8 bits.\n"), std::string::npos) << mkv.err;
            EXPECT_TRUE(pix_fmt == "gbrp" || pix_fmt == "gbrap" || pix_fmt.find("yuva") == 0) << pix_fmt;
            EXPECT_EQ(read_through_pipe(mkv.out, "ffprobe -v error -count_frames -show_entries "
                                                 "stream=nb_read_frames -of csv=p=0 -"),
                      std::to_string(f.frames) + "\n");
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Formats, RealMediaFormat, testing::ValuesIn(media_formats),
                         [](const testing::TestParamInfo<media_format>& info) { return std::string(info.param.name); });

TEST_F(RealMedia, FullRangeAndAspectRatioReachTheDeepHeader)
{
    std::string full = make_media("full.mp4", test_picture(12) + "-pix_fmt yuvj420p -c:v libx264 -preset ultrafast");
    std::string wide = make_media("wide.mkv", test_picture(12) + "-vf setsar=4/3 -pix_fmt yuv420p -c:v ffv1");
    run_result r = run_tool({"--depth=keep", "video", video_script(full)}, on_real_server());
    // H.264 from x264 says its chroma sits left, as MPEG-2 has it.
    EXPECT_EQ(parse_any_y4m(r.out).header, "YUV4MPEG2 W72 H40 F25:1 Ip A1:1 C420mpeg2 XCOLORRANGE=FULL");
    r = run_tool({"--depth=keep", "video", video_script(wide)}, on_real_server());
    EXPECT_EQ(parse_any_y4m(r.out).header.substr(0, 34), "YUV4MPEG2 W72 H40 F25:1 Ip A4:3 C4");
    // Without --depth the header is the plain one.
    r = run_tool({"video", video_script(wide)}, on_real_server());
    EXPECT_EQ(parse_any_y4m(r.out).header, "YUV4MPEG2 W72 H40 F25:1 Ip A0:0 C420");
}

TEST_F(RealMedia, EveryAudioSampleAsFfmpegDecodesIt)
{
    struct {
        const char* name;
        const char* encode;
        int channels;
        const char* raw_format;  // ffmpeg's decode, as the plugin delivers it
        int bits;
    } cases[] = {
        {"pcm16_2.wav", "-c:a pcm_s16le", 2, "s16le", 16},
        {"pcm16_6.mkv", "-c:a pcm_s16le", 6, "s16le", 16},
        // 24-bit PCM decodes to 32-bit words, the low byte zero.
        {"pcm24_2.mkv", "-c:a pcm_s24le", 2, "s32le", 32},
        {"pcm24_6.mkv", "-c:a pcm_s24le", 6, "s32le", 32},
        {"flac16_2.flac", "-c:a flac -sample_fmt s16", 2, "s16le", 16},
        {"flac16_6.flac", "-c:a flac -sample_fmt s16", 6, "s16le", 16},
        {"flac24_2.flac", "-c:a flac -sample_fmt s32", 2, "s32le", 32},
        {"flac24_6.flac", "-c:a flac -sample_fmt s32", 6, "s32le", 32},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string media = make_media(c.name, test_tones(c.channels, 1.3) + c.encode);
        run_result r = run_tool({"audio", audio_script(media)}, on_real_server());
        ASSERT_EQ(r.status, 0) << r.err;
        std::string decoded = shell("ffmpeg -v error -i '" + media + "' -f " + c.raw_format + " -");
        ASSERT_GT(decoded.size(), 48000u * c.channels);
        ASSERT_GE(r.out.size(), 80u);
        EXPECT_TRUE(r.out.compare(80, std::string::npos, decoded) == 0) << "the samples differ from ffmpeg's decode";
        run_result mkv = run_tool({"mkv", audio_script(media)}, on_real_server());
        ASSERT_EQ(mkv.status, 0) << mkv.err;
        EXPECT_TRUE(matroska_samples(mkv.out, c.raw_format) == decoded) << "mkv carries other samples";
        // The header describes them: channels, bits, every sample counted.
        std::string wav = write_script("media/out.wav", r.out);
        EXPECT_EQ(probe(wav, "stream=channels,bits_per_sample"),
                  std::to_string(c.channels) + "," + std::to_string(c.bits) + "\n");
        const uint32_t data_size = static_cast<unsigned char>(r.out[76]) | static_cast<unsigned char>(r.out[77]) << 8 |
                                   static_cast<unsigned char>(r.out[78]) << 16 |
                                   static_cast<uint32_t>(static_cast<unsigned char>(r.out[79])) << 24;
        EXPECT_EQ(data_size, decoded.size());

        // A 5.1 track reaches flac whole with a speaker mask and RF64.
        if (c.channels == 6 && c.bits == 16) {
            run_result masked = run_tool({"--channel-mask=auto", "--rf64=always", "audio", audio_script(media)},
                                         on_real_server());
            ASSERT_EQ(masked.status, 0) << masked.err;
            std::string rf64 = write_script("media/masked.wav", masked.out);
            std::string flac = write_script("media/masked.flac", "");
            int status = -1;
            std::string log = shell("flac --silent -f -o '" + flac + "' - < '" + rf64 + "' 2>&1", &status);
            EXPECT_EQ(status, 0) << log;
            EXPECT_TRUE(shell("flac --silent -d -c --force-raw-format --endian=little --sign=signed '" + flac + "'") ==
                        decoded)
                << "flac decoded other samples";
        }
    }
}

TEST_F(RealMedia, RangesOfLongGopVideoJoinUpToTheWhole)
{
    // Keyframes every 24 frames, three B-frames: the cuts below fall on
    // B- and P-frames, inside a GOP, where a decoder must reach back.
    std::string media = make_media("film.mkv", test_picture(72, 96, 64) + test_tones(2, 72 / 25.0) +
                                                   "-map 0:v -map 1:a -pix_fmt yuv420p -c:v libx264 -preset ultrafast "
                                                   "-bf 3 -g 24 -c:a flac");
    std::string script = film_script(media);
    run_result whole = run_tool({"video", script}, on_real_server());
    run_result whole_audio = run_tool({"audio", script}, on_real_server());
    ASSERT_EQ(whole.status, 0) << whole.err;
    ASSERT_EQ(whole_audio.status, 0) << whole_audio.err;
    y4m_stream all = parse_any_y4m(whole.out);
    ASSERT_EQ(all.frames, 72);
    EXPECT_TRUE(all.planes == ffmpeg_frames(media, "yuv420p"));

    std::string frames, samples;
    const int cuts[][2] = {{0, 16}, {17, 30}, {31, 49}, {50, 71}};
    // The cuts after the first fall inside GOPs, not on keyframes.
    std::string keyframes = shell("ffprobe -v error -select_streams v -show_entries frame=key_frame -of csv=p=0 '" +
                                  media + "' | grep -o '^[01]' | tr -d '\\n'");
    ASSERT_EQ(keyframes.size(), 72u);
    for (int n : {17, 31, 50})
        EXPECT_EQ(keyframes[n], '0') << "frame " << n << " is a keyframe";
    for (const auto& cut : cuts) {
        std::vector<std::string> range = {"-s", std::to_string(cut[0]), "-e", std::to_string(cut[1])};
        std::vector<std::string> video = range, audio = range;
        video.push_back("video");
        video.push_back(script);
        audio.push_back("audio");
        audio.push_back(script);
        run_result part = run_tool(video, on_real_server());
        ASSERT_EQ(part.status, 0) << part.err;
        y4m_stream chunk = parse_any_y4m(part.out);
        EXPECT_EQ(chunk.frames, cut[1] - cut[0] + 1);
        frames += chunk.planes;
        run_result sound = run_tool(audio, on_real_server());
        ASSERT_EQ(sound.status, 0) << sound.err;
        samples += sound.out.substr(80);
    }
    EXPECT_TRUE(frames == all.planes) << "the ranges' frames do not join up to the whole";
    EXPECT_TRUE(samples == whole_audio.out.substr(80)) << "the ranges' samples do not join up to the whole";
}

TEST_F(RealMedia, InfoDescribesARealFile)
{
    std::string media = make_media("info.mkv", test_picture(50, 96, 64) + test_tones(6, 2.0) +
                                                   "-map 0:v -map 1:a -pix_fmt yuv420p -c:v ffv1 -c:a flac -sample_fmt s16");
    std::string script = film_script(media);
    run_result r = run_tool({"info", script}, on_real_server());
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(lf_text(r.out), "v:width       96\nv:height      64\nv:fps         25/1\nv:frames      50\n"
                              "v:duration    2\nv:interlaced  no\nv:pixel_type  a0000010\na:sample_rate 48000\n"
                              "a:format      pcm\na:bit_depth   16\na:channels    6\na:samples     96000\n"
                              "a:duration    2\n");
}

TEST_F(RealMedia, MissingOrUnreadableFileEndsWithThePluginsMessage)
{
    std::string junk = write_script("media/junk.mkv", std::string(4096, '\x5a'));
    std::string missing = write_script("media/missing.mkv", "");
    std::remove(missing.c_str());
    for (const std::string& media : {missing, junk}) {
        for (const char* mode : {"video", "audio", "info"}) {
            SCOPED_TRACE(media + " " + mode);
            std::string call = std::string(mode) == "audio" ? "FFAudioSource" : "FFVideoSource";
            std::string script =
                write_script("media/bad.avs", script_opening(call + "(\"" + media + "\", cachefile=\"" +
                                                             write_script("media/bad.ffindex", "") + "\")"));
            run_result r = run_tool({mode, script}, on_real_server());
            EXPECT_EQ(r.status, 2);
            EXPECT_EQ(r.out, "");
            EXPECT_EQ(r.err, "clipspout [warn]: " + call + ": Can't open '" + media + "' (" + script +
                                 ", line 2)\nclipspout [error]: avs files return value is not a clip.\n");
        }
    }
}

TEST_F(RealMedia, InterlacedSourcesKeepTheirFieldOrder)
{
    const struct {
        const char* name;
        const char* encode;
        const char* letter;        // --depth's header
        const char* ffmpeg_order;  // ffprobe's reading of the file and of that stream
        const char* reading;       // the warning's words for frame 0, or null
        int property;
        const char* fix;
    } cases[] = {
        {"tff", "-vf setfield=tff -flags +ildct+ilme -x264-params tff=1", "t", "tt", "interlaced, top field first", 2,
         "AssumeFieldBased().AssumeTFF()"},
        {"bff", "-vf setfield=bff -flags +ildct+ilme -x264-params bff=1", "b", "bb", "interlaced, bottom field first", 1,
         "AssumeFieldBased().AssumeBFF()"},
        {"progressive", "", "p", "progressive", nullptr, 0, nullptr},
    };
    const std::string film_line = "--pulldown 32 --fake-interlaced";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string media = make_media(std::string("480i_") + c.name + ".mp4",
                                       "-f lavfi -i testsrc2=size=720x480:rate=30000/1001:duration=0.4 -pix_fmt "
                                       "yuv420p -c:v libx264 -preset ultrafast " +
                                           std::string(c.encode));
        ASSERT_EQ(probe(media, "stream=field_order"), std::string(c.ffmpeg_order) + "\n");
        std::string script = video_script(media);
        const std::string frames = ffmpeg_frames(media, "yuv420p");

        // --depth: the frame's own field order, which ffmpeg reads back.
        run_result deep = run_tool({"--depth=keep", "video", script}, on_real_server());
        ASSERT_EQ(deep.status, 0) << deep.err;
        y4m_stream stream = parse_any_y4m(deep.out);
        EXPECT_EQ(stream.header, std::string("YUV4MPEG2 W720 H480 F30000:1001 I") + c.letter + " A1:1 C420mpeg2");
        EXPECT_TRUE(stream.planes == frames);
        EXPECT_EQ(deep.err.find("warn"), std::string::npos) << deep.err;
        std::string file = write_script("media/field.y4m", deep.out);
        EXPECT_EQ(probe(file, "stream=field_order"), std::string(c.ffmpeg_order) + "\n");

        // The other modes follow the clip's flags, as they always did, and
        // say first where frame 0 tells otherwise.
        for (const char* mode : {"video", "info", "x264bd"}) {
            SCOPED_TRACE(mode);
            run_result r = run_tool({mode, script}, on_real_server());
            EXPECT_EQ(r.status, 0) << r.err;
            std::string warning;
            if (c.reading)
                warning = "clipspout [warn]: frame 0 is " + std::string(c.reading) + " (_FieldBased " +
                          std::to_string(c.property) + "), but the clip's flags say progressive, and " +
                          (std::string(mode) == "video" ? "the stream" : mode) + " follows the flags: " +
                          (std::string(mode) == "video" ? "--depth writes the frame's field order, or " : "") +
                          c.fix + " in the script makes them agree.\n";
            EXPECT_EQ(r.err.substr(0, warning.size()), warning);
            EXPECT_EQ(r.err.find("warn", warning.size()), std::string::npos) << r.err;
            if (std::string(mode) == "video") {
                y4m_stream plain = parse_any_y4m(r.out);
                EXPECT_EQ(plain.header, "YUV4MPEG2 W720 H480 F30000:1001 Ip A0:0 C420");
                EXPECT_TRUE(plain.planes == frames);
            } else if (std::string(mode) == "info") {
                EXPECT_NE(r.out.find("v:interlaced  no\n"), std::string::npos) << r.out;
            } else {
                EXPECT_NE(r.out.find(film_line), std::string::npos) << r.out;
            }
        }

        // The documented remedy: the script says what the frames say.
        if (c.fix) {
            run_result fixed = run_tool({"x264bd", video_script(media, std::string(c.fix) + "\n")}, on_real_server());
            EXPECT_EQ(fixed.status, 0);
            EXPECT_EQ(fixed.err, "");
            EXPECT_NE(fixed.out.find(std::string("--ref 6 --") + c.name + " --aud"), std::string::npos) << fixed.out;
        }
    }
}

TEST_F(RealMedia, VariableFrameRateKeepsItsTimingThroughTimecodes)
{
    // Frames of 33, 50 and 17 ms, over and over: the clip's rate is only an
    // average.
    std::string media = make_media("vfr.mkv", test_picture(60) +
                                                  "-vf \"settb=1/1000,setpts='floor(N/3)*100+if(eq(mod(N,3),1),33,"
                                                  "if(eq(mod(N,3),2),83,0))'\" -fps_mode passthrough "
                                                  "-enc_time_base 1/1000 -c:v ffv1");
    auto source_times = [](const std::string& file, long long from_ms) {
        std::string times;
        for (const std::string& t : {shell("ffprobe -v error -select_streams v -show_entries frame=pts "
                                           "-of csv=p=0 '" + file + "' | grep -o '^[0-9]*'")}) {
            size_t at = 0;
            for (size_t end; (end = t.find('\n', at)) != std::string::npos; at = end + 1)
                times += std::to_string(std::stoll(t.substr(at, end - at)) - from_ms) + ".000000\n";
        }
        return times;
    };
    const std::string expected = source_times(media, 0);
    ASSERT_EQ(std::count(expected.begin(), expected.end(), '\n'), 60);
    ASSERT_NE(expected.find("\n33.000000\n83.000000\n100.000000\n"), std::string::npos) << expected;

    std::string script = video_script(media);
    std::string tc = write_script("media/vfr.tc", "");
    run_result r = run_tool({"--timecodes", tc, "video", script}, on_real_server());
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(read_file(tc), "# timestamp format v2\n" + expected);
    EXPECT_EQ(r.err.find("variable frame rate"), std::string::npos) << r.err;
    // Without the timecodes, the stream's one rate loses the timing: said.
    const run_result lost = run_tool({"video", script}, on_real_server());
    EXPECT_NE(lost.err.find("clipspout [warn]: the frames carry durations of their own (a variable frame rate: "
                            "frame 2 starts off"),
              std::string::npos)
        << lost.err;
    // A film at 24000/1001 in Matroska's millisecond timebase keeps to its
    // rate: no word.
    const std::string film = make_media("steady-film.mkv", "-f lavfi -i testsrc2=size=72x40:rate=24000/1001:duration=2 "
                                                    "-c:v ffv1");
    const run_result steady = run_tool({"video", write_script("media/steady-film.avs", script_opening("FFVideoSource(\"" +
                                                                                              film + "\")"))},
                                       on_real_server());
    EXPECT_EQ(steady.status, 0) << steady.err;
    EXPECT_EQ(steady.err.find("variable frame rate"), std::string::npos) << steady.err;
    EXPECT_TRUE(parse_any_y4m(r.out).planes == ffmpeg_frames(media, "yuv420p"));

    // A range starts at 0: frames 4 to 9 start 133 ms into the file.
    run_result part = run_tool({"-s", "4", "-e", "9", "--timecodes", tc, "video", script}, on_real_server());
    ASSERT_EQ(part.status, 0) << part.err;
    EXPECT_EQ(read_file(tc), "# timestamp format v2\n0.000000\n50.000000\n67.000000\n100.000000\n150.000000\n"
                             "167.000000\n");

    // The documented recipe: encode from the pipe, then mux with the
    // timecodes; the film gets its own timing back.
    if (shell("command -v mkvmerge").empty())
        GTEST_SKIP() << "no mkvmerge (Debian's mkvtoolnix)";
    std::string encoded = write_script("media/vfr.264", "");
    std::string muxed = write_script("media/vfr-muxed.mkv", "");
    int status = -1;
    std::string log = shell(tool_command(on_real_server()) + " --timecodes '" + tc + "' video '" + script +
                                "' 2>/dev/null | x264 --quiet --demuxer y4m --preset ultrafast -o '" + encoded +
                                "' - 2>&1 && mkvmerge -q -o '" + muxed + "' --timestamps 0:'" + tc + "' '" +
                                encoded + "' 2>&1",
                            &status);
    EXPECT_EQ(status, 0) << log;
    EXPECT_EQ(source_times(muxed, 0), expected);
}

TEST_F(RealMedia, ChromaSitingReachesTheDeepHeader)
{
    const struct {
        const char* location;
        const char* pix_fmt;
        const char* tag;
    } cases[] = {{"left", "yuv420p", "C420mpeg2"},
                 {"center", "yuv420p", "C420jpeg"},
                 {"topleft", "yuv420p", "C420paldv"},
                 {"topleft", "yuv420p10le", "C420p10"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.location) + " " + c.pix_fmt);
        std::string media =
            make_media(std::string("siting_") + c.location + "_" + c.pix_fmt + ".mp4",
                       test_picture(6) + "-pix_fmt " + c.pix_fmt + " -chroma_sample_location " + c.location +
                           " -c:v libx264 -preset ultrafast");
        run_result r = run_tool({"--depth=keep", "video", video_script(media)}, on_real_server());
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(parse_any_y4m(r.out).header, std::string("YUV4MPEG2 W72 H40 F25:1 Ip A1:1 ") + c.tag);
        // ffmpeg reads the siting back where the stream names it.
        std::string file = write_script("media/siting.y4m", r.out);
        if (std::string(c.pix_fmt) == "yuv420p") {
            EXPECT_EQ(probe(file, "stream=chroma_location"), std::string(c.location) + "\n");
        }
        run_result plain = run_tool({"video", video_script(media)}, on_real_server());
        EXPECT_EQ(parse_any_y4m(plain.out).header, "YUV4MPEG2 W72 H40 F25:1 Ip A0:0 C420");
    }
}

namespace {

// HDR10 as a film arrives: BT.2020, PQ, limited range, chroma top
// left, the mastering display and light levels in the HEVC stream's SEI.
const std::string hdr10_encode =
    "-pix_fmt yuv420p10le -c:v libx265 -preset ultrafast -x265-params 'log-level=error:colorprim=bt2020:"
    "transfer=smpte2084:colormatrix=bt2020nc:range=limited:chromaloc=2:"
    "master-display=G(13250,34500)B(7500,3000)R(34000,16000)WP(15635,16450)L(10000000,1):max-cll=1000,400:hdr10=1'";

const char* const described[] = {"color_space", "color_primaries", "color_transfer", "color_range",
                                 "chroma_location", "field_order", "sample_aspect_ratio", "max_content",
                                 "max_average"};
const char* const mastering[] = {"red_x", "red_y", "green_x", "green_y", "blue_x", "blue_y",
                                 "white_point_x", "white_point_y", "min_luminance", "max_luminance"};

// ffprobe's description of a file's video: its stream, and the side data of
// its first frame, where an HEVC or H.264 stream keeps the HDR metadata.
std::map<std::string, std::string> source_description(const std::string& media)
{
    std::map<std::string, std::string> fields;
    for (const char* query : {"-show_streams", "-show_frames -read_intervals %+#1"}) {
        std::istringstream lines(
            shell(std::string("ffprobe -v error -select_streams v ") + query + " '" + media + "'"));
        for (std::string line; std::getline(lines, line);)
            if (line.find('=') != std::string::npos)
                fields.emplace(line.substr(0, line.find('=')), line.substr(line.find('=') + 1));
    }
    return fields;
}

void expect_same_description(const std::map<std::string, std::string>& expected,
                             std::map<std::string, std::string> got)
{
    for (const char* key : described)
        EXPECT_EQ(got[key], expected.count(key) ? expected.at(key) : "") << key;
    for (const char* key : mastering) {
        if (!expected.count(key)) {
            EXPECT_EQ(got.count(key), 0u) << key;
            continue;
        }
        const double value = fraction_value(expected.at(key));
        EXPECT_NEAR(fraction_value(got[key]), value, value * 1e-9) << key << ": " << got[key];
    }
}

}  // namespace

TEST_F(RealMedia, MatroskaCarriesWhatTheSourceSaysOfItsPicture)
{
    const struct {
        const char* name;
        std::string make;
    } sources[] = {
        {"hdr10.mkv", test_picture(12, 128, 72) + hdr10_encode},
        {"bt709_full.mp4", test_picture(12) + "-pix_fmt yuvj420p -color_primaries bt709 -color_trc bt709 "
                                              "-colorspace bt709 -c:v libx264 -preset ultrafast"},
        {"ntsc_tff.mp4", "-f lavfi -i testsrc2=size=720x480:rate=30000/1001:duration=0.2 -vf setsar=10/11,setfield=tff "
                         "-flags +ildct+ilme -x264-params tff=1 -pix_fmt yuv420p -color_primaries smpte170m "
                         "-color_trc smpte170m -colorspace smpte170m -c:v libx264 -preset ultrafast"},
        {"bff.mp4", "-f lavfi -i testsrc2=size=720x576:rate=25:duration=0.2 -vf setfield=bff -flags +ildct+ilme "
                    "-x264-params bff=1 -pix_fmt yuv420p -c:v libx264 -preset ultrafast"},
        {"plain.mkv", test_picture(6) + "-pix_fmt yuv420p -c:v ffv1"},
    };
    for (const auto& source : sources) {
        SCOPED_TRACE(source.name);
        std::string media = make_media(source.name, source.make);
        run_result r = run_tool({"--depth=keep", "mkv", video_script(media)}, on_real_server());
        ASSERT_EQ(r.status, 0) << r.err;
        expect_same_description(source_description(media), probe_fields(r.out));
    }
}

TEST_F(RealMedia, MatroskaKeepsAVariableFrameRate)
{
    // Frames of 33, 50 and 17 ms: each keeps its own start.
    std::string media = make_media("vfr.mkv", test_picture(60) +
                                                  "-vf \"settb=1/1000,setpts='floor(N/3)*100+if(eq(mod(N,3),1),33,"
                                                  "if(eq(mod(N,3),2),83,0))'\" -fps_mode passthrough "
                                                  "-enc_time_base 1/1000 -c:v ffv1");
    run_result r = run_tool({"mkv", video_script(media)}, on_real_server());
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string pts = "ffprobe -v error -select_streams v -show_entries frame=pts -of csv=p=0";
    const std::string expected = shell(pts + " '" + media + "'");
    ASSERT_NE(expected.find("\n33\n83\n100\n"), std::string::npos) << expected;
    EXPECT_EQ(read_through_pipe(r.out, pts + " -"), expected);
    EXPECT_TRUE(matroska_frames(r.out, "yuv420p") == ffmpeg_frames(media, "yuv420p"));
}

namespace {

// Each frame's presentation time in seconds, from its first, as ffprobe
// reads the file's (first) video stream.
std::vector<double> frame_times(const std::string& file)
{
    std::vector<double> times;
    std::istringstream lines(
        shell("ffprobe -v error -select_streams v:0 -show_entries frame=pts_time -of csv=p=0 '" + file + "'"));
    for (std::string line; std::getline(lines, line);)
        if (!line.empty() && line != "N/A")
            times.push_back(std::strtod(line.c_str(), nullptr));
    for (size_t n = times.size(); n-- > 0;)
        times[n] -= times[0];
    return times;
}

std::string first_line(const std::string& text)
{
    return text.substr(0, text.find('\n'));
}

double max_distance(const std::vector<double>& a, const std::vector<double>& b)
{
    double most = a.size() == b.size() ? 0 : 1e9;
    for (size_t n = 0; n < a.size() && n < b.size(); ++n)
        most = std::max(most, std::fabs(a[n] - b[n]));
    return most;
}

}  // namespace

TEST_F(RealMedia, AFilmKeepsItsRateThroughMatroskaIntoMp4)
{
    // A container keeps each frame's time in its own timebase, rounded:
    // Matroska's milliseconds give a 24000/1001 film frames of 41 and 42 ms,
    // MPEG-TS has 90 kHz, MP4 the rate's own timescale. 720p: a reader's
    // probe (5 MB) then holds only a few raw frames, too few to guess a
    // rate the stream does not state.
    for (const char* container : {"mkv", "mp4", "ts"}) {
        for (const char* rate : {"24000/1001", "25/1", "30000/1001"}) {
            const std::string name = std::string("rate_") + container + "_" + std::to_string(std::atoi(rate)) +
                                     "." + container;
            SCOPED_TRACE(name);
            const std::string media =
                make_media(name, std::string("-f lavfi -i testsrc2=size=1280x720:rate=") + rate +
                                     ":duration=1.3 " + test_tones(2, 1.3) + "-c:v libx264 -preset ultrafast "
                                     "-pix_fmt yuv420p -c:a aac");
            const std::string source = probe(media, "stream=r_frame_rate,nb_read_frames -select_streams v:0");
            const int frames = std::atoi(source.substr(source.find(',') + 1).c_str());
            ASSERT_GT(frames, 30) << source;
            const run_result mkv = run_tool({"--depth=keep", "mkv", film_script(media)}, on_real_server());
            ASSERT_EQ(mkv.status, 0) << mkv.err;
            EXPECT_EQ(mkv.err.find("warn"), std::string::npos) << mkv.err;
            const std::string stream = write_script("media/" + name + ".out.mkv", mkv.out);
            // The rate, stated: r_frame_rate is the source's, and the stream
            // says how long it lasts.
            EXPECT_EQ(first_line(probe(stream, "stream=r_frame_rate,nb_read_frames -select_streams v:0")),
                      first_line(source));
            const double frame = 1 / (std::atof(rate) / std::atof(strchr(rate, '/') + 1));
            EXPECT_NEAR(std::strtod(probe(stream, "format=duration").c_str(), nullptr),
                        std::strtod(probe(media, "format=duration").c_str(), nullptr), frame);
            // Every frame where the source has it, within a millisecond.
            EXPECT_LE(max_distance(frame_times(stream), frame_times(media)), 0.001);

            // The new user's encode, into MP4 and into Matroska: every frame
            // once, at the source's rate.
            for (const char* into : {".mp4", ".mkv"}) {
                const std::string encoded = write_script("media/" + name + ".encoded" + into, "");
                int status = -1;
                const std::string log = shell("ffmpeg -v error -y -i '" + stream + "' -c:v libx264 -preset "
                                              "ultrafast -c:a aac '" + encoded + "' 2>&1", &status);
                ASSERT_EQ(status, 0) << log;
                EXPECT_EQ(first_line(probe(encoded, "stream=r_frame_rate,nb_read_frames -select_streams v:0")),
                          first_line(source)) << into;
                EXPECT_LE(max_distance(frame_times(encoded), frame_times(media)), 0.001) << into;
            }
        }
    }
}

TEST_F(RealMedia, AVariableRateKeepsItsFramesIntoMp4)
{
    // Frames of 33, 50 and 17 ms: no rate is stated, and an MP4 encode that
    // keeps the frames' own times (-fps_mode passthrough) keeps them all.
    const std::string media = make_media("vfr_mp4.mkv", test_picture(60) +
                                                             "-vf \"settb=1/1000,setpts='floor(N/3)*100+if(eq(mod(N,3),1),"
                                                             "33,if(eq(mod(N,3),2),83,0))'\" -fps_mode passthrough "
                                                             "-enc_time_base 1/1000 -c:v ffv1");
    const run_result mkv = run_tool({"mkv", video_script(media)}, on_real_server());
    ASSERT_EQ(mkv.status, 0) << mkv.err;
    const std::string stream = write_script("media/vfr_mp4.out.mkv", mkv.out);
    EXPECT_EQ(shell("mkvinfo '" + stream + "'").find("Default duration"), std::string::npos);
    EXPECT_EQ(shell("mkvinfo '" + stream + "'").find("Duration:"), std::string::npos) << "a guessed length";
    const std::string mp4 = write_script("media/vfr_mp4.mp4", "");
    int status = -1;
    const std::string log = shell("ffmpeg -v error -y -i '" + stream + "' -fps_mode passthrough -c:v libx264 "
                                  "-preset ultrafast '" + mp4 + "' 2>&1", &status);
    ASSERT_EQ(status, 0) << log;
    EXPECT_EQ(probe(mp4, "stream=nb_read_frames"), "60\n");
    EXPECT_LE(max_distance(frame_times(mp4), frame_times(media)), 0.001);
    // The documented line, from the pipe: -enc_time_base -1 keeps the
    // stream's own timebase, so every frame keeps its time exactly, where
    // ffmpeg's own choice moves them by a fraction of a millisecond.
    const std::string exact = write_script("media/vfr_mp4_exact.mp4", "");
    const std::string piped = shell(tool_command(on_real_server()) + " mkv '" + video_script(media) +
                                        "' 2>/dev/null | ffmpeg -v error -y -i - -fps_mode passthrough -enc_time_base -1 "
                                        "-c:v libx264 -preset ultrafast '" + exact + "' 2>&1",
                                    &status);
    ASSERT_EQ(status, 0) << piped;
    EXPECT_EQ(probe(exact, "stream=nb_read_frames"), "60\n");
    EXPECT_LE(max_distance(frame_times(exact), frame_times(media)), 1e-6);
}

TEST_F(RealMedia, ARetimedClipWarnsOfTheSourcesDurations)
{
    // AviSynth+'s AssumeFPS leaves FFMS2's durations on the frames: they
    // time the stream, and the tool says so; without them the rate does.
    std::string media = make_media("pal.mkv", test_picture(50) + "-c:v ffv1");
    const std::string pts = "ffprobe -v error -select_streams v -show_entries packet=pts -of csv=p=0 - | head -3";
    run_result r = run_tool({"mkv", video_script(media, "AssumeFPS(24000, 1001)\n")}, on_real_server());
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("clipspout [warn]: the frames' own durations (_DurationNum/_DurationDen) add up to 2.000 s, "
                         "but 50 frames at the clip's 24000/1001 fps last 2.085 s: "),
              std::string::npos)
        << r.err;
    EXPECT_EQ(read_through_pipe(r.out, pts), "0\n40\n80\n");
    run_result by_rate = run_tool({"mkv", video_script(media, "AssumeFPS(24000, 1001).propDelete(\"_DurationNum\")\n")},
                                  on_real_server());
    ASSERT_EQ(by_rate.status, 0) << by_rate.err;
    EXPECT_EQ(by_rate.err.find("warn"), std::string::npos) << by_rate.err;
    EXPECT_EQ(read_through_pipe(by_rate.out, pts), "0\n42\n83\n");
    // A source of its own variable rate is no such case.
    std::string tc = write_script("media/pal.tc", "");
    run_result timecodes = run_tool({"--timecodes", tc, "video", video_script(media)}, on_real_server());
    EXPECT_EQ(timecodes.err.find("warn"), std::string::npos) << timecodes.err;
}

TEST_F(RealMedia, AnEncodeOfTheStreamKeepsEverything)
{
    // The documented command: the HDR10 film, its sound beside it, into libx265
    // and FLAC in one ffmpeg run, with no flag about colour.
    std::string media = make_media("hdr10_film.mkv", test_picture(24, 128, 72) + test_tones(2, 24 / 25.0) +
                                                         "-map 0:v -map 1:a -c:a flac " + hdr10_encode);
    std::string out = write_script("media/hdr10_out.mkv", "");
    int status = -1;
    std::string log = shell(tool_command(on_real_server()) + " --depth=keep mkv '" + film_script(media) +
                                "' 2>/dev/null | ffmpeg -v error -y -i - -c:v libx265 -x265-params log-level=error "
                                "-c:a flac '" + out + "' 2>&1",
                            &status);
    ASSERT_EQ(status, 0) << log;
    std::map<std::string, std::string> expected = source_description(media), got;
    std::istringstream lines(shell("ffprobe -v error -select_streams v -show_streams '" + out + "'"));
    for (std::string line; std::getline(lines, line);)
        if (line.find('=') != std::string::npos)
            got.emplace(line.substr(0, line.find('=')), line.substr(line.find('=') + 1));
    EXPECT_EQ(got["codec_name"], "hevc");
    EXPECT_EQ(got["pix_fmt"], "yuv420p10le");
    expect_same_description(expected, got);
    // Every frame once, at the source's rate.
    EXPECT_EQ(got["r_frame_rate"], "25/1");
    EXPECT_EQ(frame_times(out).size(), 24u);
    EXPECT_TRUE(shell("ffmpeg -v error -i '" + out + "' -map 0:a -f s16le -") ==
                shell("ffmpeg -v error -i '" + media + "' -map 0:a -f s16le -"))
        << "the sound is not the source's";
}

TEST_F(RealMedia, MatroskaChunksJoinUpToTheWhole)
{
    // The documented recipe, lossless so that frames can be compared: ranges
    // encoded in parallel, joined by ffmpeg's concat demuxer.
    std::string media = make_media("chunks.mkv", test_picture(60) + test_tones(2, 60 / 25.0) +
                                                     "-map 0:v -map 1:a -pix_fmt yuv420p -c:v libx264 -preset "
                                                     "ultrafast -bf 3 -g 24 -c:a flac");
    std::string script = film_script(media);
    std::string folder = write_script("media/chunks/list.txt", "file 'chunk1.mkv'\nfile 'chunk2.mkv'\n");
    folder = folder.substr(0, folder.rfind('/'));
    int status = -1;
    std::string log = shell("cd '" + folder + "' && parallel --link -j 2 \"" + tool_command(on_real_server()) +
                                " -s {1} -e {2} mkv '" + script + "' 2>/dev/null | ffmpeg -v error -y -i - -c:v ffv1 "
                                "-c:a flac chunk{#}.mkv\" ::: 0 31 ::: 30 59 && ffmpeg -v error -y -f concat -i "
                                "list.txt -c copy whole.mkv 2>&1",
                            &status);
    ASSERT_EQ(status, 0) << log;
    run_result whole = run_tool({"video", script}, on_real_server());
    EXPECT_TRUE(ffmpeg_frames(folder + "/whole.mkv", "yuv420p") == parse_any_y4m(whole.out).planes);
    EXPECT_TRUE(shell("ffmpeg -v error -i '" + folder + "/whole.mkv' -map 0:a -f s16le -") ==
                shell("ffmpeg -v error -i '" + media + "' -map 0:a -f s16le -"))
        << "the joined sound is not the source's";
}

namespace {

// The mastering display and light levels among ffprobe's fields, as
// numbers.
std::map<std::string, double> hdr_values(const std::map<std::string, std::string>& fields)
{
    std::map<std::string, double> values;
    for (const char* key : mastering)
        if (fields.count(key))
            values[key] = fraction_value(fields.at(key));
    for (const char* key : {"max_content", "max_average"})
        if (fields.count(key))
            values[key] = fraction_value(fields.at(key));
    return values;
}

// A field of x264's SEI as ffmpeg's trace_headers shows it ("... = 13250").
long long traced(const std::string& trace, const std::string& field)
{
    size_t at = trace.find(" " + field + " ");
    if (at == std::string::npos)
        return -1;
    at = trace.find("= ", at);
    return at == std::string::npos ? -1 : std::stoll(trace.substr(at + 2));
}

// The HDR10 metadata an encode carries, in ffprobe's terms: side data of
// its first frame, or for H.264 (whose SEI ffmpeg 5.1 does not export) the
// SEI itself.
std::map<std::string, double> hdr_metadata_of(const std::string& file, bool h264)
{
    if (!h264)
        return hdr_values(source_description(file));
    std::map<std::string, double> values;
    const std::string trace = shell("ffmpeg -i '" + file + "' -c copy -bsf:v trace_headers -f null - 2>&1");
    // The SEI's primaries are green, blue, red, in units of 0.00002.
    const char* names[] = {"green", "blue", "red"};
    for (int i = 0; i < 3; ++i) {
        const std::string index = "[" + std::to_string(i) + "]";
        if (traced(trace, "display_primaries_x" + index) >= 0) {
            values[std::string(names[i]) + "_x"] = traced(trace, "display_primaries_x" + index) / 50000.0;
            values[std::string(names[i]) + "_y"] = traced(trace, "display_primaries_y" + index) / 50000.0;
        }
    }
    if (traced(trace, "white_point_x") >= 0) {
        values["white_point_x"] = traced(trace, "white_point_x") / 50000.0;
        values["white_point_y"] = traced(trace, "white_point_y") / 50000.0;
        values["max_luminance"] = traced(trace, "max_display_mastering_luminance") / 10000.0;
        values["min_luminance"] = traced(trace, "min_display_mastering_luminance") / 10000.0;
    }
    if (traced(trace, "max_content_light_level") >= 0) {
        values["max_content"] = static_cast<double>(traced(trace, "max_content_light_level"));
        values["max_average"] = static_cast<double>(traced(trace, "max_pic_average_light_level"));
    }
    return values;
}

// Luma PSNR of an encode against the stream it was given, frame by frame,
// both decoded in their own formats (full range stays full range).
double lowest_luma_psnr(const std::string& encode, const std::string& y4m, int width, int height, int bytes)
{
    const std::string a = shell("ffmpeg -v error -i '" + encode + "' -fps_mode passthrough -f rawvideo -");
    const std::string b = shell("ffmpeg -v error -i '" + y4m + "' -fps_mode passthrough -f rawvideo -");
    const size_t luma = static_cast<size_t>(width) * height, frame = luma * 3 / 2 * bytes;
    if (a.size() != b.size() || a.empty())
        return -1;
    const double peak = bytes == 2 ? 1023 : 255;
    double lowest = 99;
    for (size_t at = 0; at < a.size(); at += frame) {
        double sum = 0;
        for (size_t i = 0; i < luma; ++i) {
            const double x = bytes == 2 ? (static_cast<unsigned char>(a[at + 2 * i]) |
                                           static_cast<unsigned char>(a[at + 2 * i + 1]) << 8)
                                        : static_cast<unsigned char>(a[at + i]);
            const double y = bytes == 2 ? (static_cast<unsigned char>(b[at + 2 * i]) |
                                           static_cast<unsigned char>(b[at + 2 * i + 1]) << 8)
                                        : static_cast<unsigned char>(b[at + i]);
            sum += (x - y) * (x - y);
        }
        if (sum > 0)
            lowest = std::min(lowest, 10 * std::log10(peak * peak * luma / sum));
    }
    return lowest;
}

}  // namespace

struct encode_source {
    const char* name;
    std::string make;
    int width, height;
    bool rgb;
};

void PrintTo(const encode_source& source, std::ostream* os)
{
    *os << source.name;
}

class EncoderLine : public RealMedia, public testing::WithParamInterface<encode_source> {};

// The sources users bring: HDR10 HEVC, full-range BT.709, NTSC interlaced at
// 10:11, HLG, and RGB that the frame server converts.
const encode_source encode_sources[] = {
    {"hdr10.mkv", test_picture(6, 128, 72) + hdr10_encode, 128, 72, false},
    {"full709.mp4", test_picture(6, 128, 72) + "-pix_fmt yuvj420p -color_primaries bt709 -color_trc bt709 "
                                             "-colorspace bt709 -c:v libx264 -preset ultrafast", 128, 72, false},
    {"ntsc.mp4", "-f lavfi -i testsrc2=size=720x480:rate=30000/1001:duration=0.1 -vf setsar=10/11,setfield=tff "
                 "-flags +ildct+ilme -x264-params tff=1 -pix_fmt yuv420p -color_primaries smpte170m -color_trc "
                 "smpte170m -colorspace smpte170m -c:v libx264 -preset ultrafast", 720, 480, false},
    {"hlg.mkv", test_picture(6, 128, 72) + "-pix_fmt yuv420p10le -c:v libx265 -preset ultrafast -x265-params "
                                          "log-level=error:colorprim=bt2020:transfer=arib-std-b67:colormatrix=bt2020nc",
     128, 72, false},
    {"rgb.mkv", test_picture(6, 128, 72) + "-pix_fmt bgr0 -c:v ffv1", 128, 72, true},
};

TEST_P(EncoderLine, EachEncoderGetsWhatTheStreamCannotCarry)
{
    const encode_source& source = GetParam();
    const char* const described[] = {"color_space", "color_primaries", "color_transfer", "color_range"};
    {
        std::string media = make_media(source.name, source.make);
        for (bool keep : {false, true}) {
            // The frame server converts RGB to 4:4:4 for video, as a script
            // ending in ConvertToYV24() would: the truth is that clip's.
            std::string script = video_script(media);
            std::vector<std::string> depth;
            if (keep)
                depth.push_back("--depth=keep");
            auto with_depth = [&](std::vector<std::string> args) {
                args.insert(args.begin(), depth.begin(), depth.end());
                return args;
            };
            run_result mkv = run_tool(with_depth({"mkv", source.rgb ? video_script(media, "ConvertToYV24()\n")
                                                                     : script}),
                                      on_real_server());
            ASSERT_EQ(mkv.status, 0) << mkv.err;
            std::map<std::string, std::string> truth = probe_fields(mkv.out);
            const std::map<std::string, double> truth_hdr = hdr_values(truth);
            const bool deep = truth["pix_fmt"].find("10le") != std::string::npos;
            std::string y4m = write_script("media/encode.y4m", run_tool(with_depth({"video", script}),
                                                                        on_real_server()).out);

            for (const std::string encoder : {"x264", "x265", "svtav1"}) {
                SCOPED_TRACE(std::string(source.name) + (keep ? " --depth=keep " : " ") + encoder);
                run_result line = run_tool(with_depth({encoder + "args", script}), on_real_server());
                if (encoder == "svtav1" && source.rgb) {
                    EXPECT_EQ(line.status, 2);
                    EXPECT_NE(line.err.find("SVT-AV1 takes 4:2:0 at 8 or 10 bits, not YUV444"), std::string::npos)
                        << line.err;
                    continue;
                }
                ASSERT_EQ(line.status, 0) << line.err;
                const std::string out = write_script(std::string("media/encode.") + (encoder == "x264" ? "264"
                                                                                      : encoder == "x265" ? "265"
                                                                                                          : "ivf"),
                                                     "");
                int status = -1;
                std::string log = shell("ARGS=" + shell("printf %q '" + line.out + "'") + "; " +
                                            encode_command(encoder, out) + " < '" + y4m + "' 2>&1",
                                        &status);
                ASSERT_EQ(status, 0) << line.out << "\n" << log;
                std::map<std::string, std::string> got = source_description(out);

                for (const char* key : described)
                    EXPECT_EQ(got[key], truth[key]) << key << " from " << line.out;
                EXPECT_EQ(got["pix_fmt"].find("10le") != std::string::npos, deep) << got["pix_fmt"];
                if (truth["pix_fmt"].find("420") != std::string::npos) {
                    EXPECT_EQ(got["chroma_location"], truth["chroma_location"]) << line.out;
                }
                // AV1 has no aspect ratio and no field order: said, not given.
                const bool interlaced = truth["field_order"] == "tt";
                if (encoder == "svtav1") {
                    EXPECT_EQ(got["sample_aspect_ratio"], "1:1");
                    EXPECT_EQ(line.err.find("the encode loses 10:11") != std::string::npos, interlaced) << line.err;
                    EXPECT_EQ(line.err.find("no option for interlaced video") != std::string::npos, interlaced);
                } else {
                    EXPECT_EQ(got["sample_aspect_ratio"], truth["sample_aspect_ratio"]);
                }
                if (encoder == "x264") {
                    EXPECT_EQ(got["field_order"], interlaced ? "tt" : "progressive");
                } else if (encoder == "x265" && interlaced) {  // marked on the frames, not in the stream
                    EXPECT_EQ(got["top_field_first"] + got["interlaced_frame"], "11");
                }

                // Where nothing was converted, the encode says what the
                // source file says, directly.
                if (keep && !source.rgb) {
                    std::map<std::string, std::string> source_says = source_description(media);
                    for (const char* key : described)
                        EXPECT_EQ(got[key], source_says[key]) << key << " against the source";
                    EXPECT_EQ(got["chroma_location"], source_says["chroma_location"]) << "against the source";
                    if (encoder != "svtav1") {
                        EXPECT_EQ(got["sample_aspect_ratio"], source_says["sample_aspect_ratio"]) << "against the source";
                    }
                    if (encoder == "x264") {
                        EXPECT_EQ(got["field_order"], source_says["field_order"]) << "against the source";
                    }
                    EXPECT_EQ(hdr_metadata_of(out, encoder == "x264").size(), hdr_values(source_says).size());
                }
                std::map<std::string, double> hdr = hdr_metadata_of(out, encoder == "x264");
                EXPECT_EQ(hdr.size(), truth_hdr.size()) << "the HDR10 metadata does not reach the encode";
                for (const auto& value : truth_hdr) {
                    // AV1 keeps chromaticity in 1/65536, minimum luminance in
                    // 1/16384.
                    const double precision = encoder != "svtav1" ? 1e-9 : value.first == "min_luminance" ? 1.0 / 16384
                                                                                                         : 1.0 / 65536;
                    EXPECT_NEAR(hdr[value.first], value.second, precision + value.second * 1e-9) << value.first;
                }
                // The samples keep their levels: a range the encoder
                // misread would cost some 25 dB.
                EXPECT_GT(lowest_luma_psnr(out, y4m, source.width, source.height, deep ? 2 : 1), 38) << line.out;
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Sources, EncoderLine, testing::ValuesIn(encode_sources),
                         [](const testing::TestParamInfo<encode_source>& info) {
                             std::string name = info.param.name;
                             return name.substr(0, name.find('.'));
                         });

TEST_F(RealMedia, TellingTheEncoderCarriesTheSourcesHdr10InOneCommand)
{
    // The HDR10 film, encoded by each encoder the tool starts with no colour
    // option typed: the encode says what the source says.
    const std::string media = make_media("hdr10_told.mkv", test_picture(6, 128, 72) + hdr10_encode);
    const std::map<std::string, std::string> source_says = source_description(media);
    const std::string script = video_script(media);
    const struct {
        const char* encoder;
        std::vector<std::string> program;  // OUT: the output file
        const char* colorprim;             // the user's own option for BT.709 primaries
    } encoders[] = {
        {"x264", {"x264", "--quiet", "--preset", "ultrafast", "--demuxer", "y4m", "-o", "OUT", "-"}, "--colorprim"},
        {"x265", {"x265", "--log-level", "error", "--preset", "ultrafast", "--y4m", "--input", "-", "-o", "OUT"},
         "--colorprim"},
        {"svtav1", {"SvtAv1EncApp", "--preset", "12", "-i", "stdin", "-b", "OUT"}, "--color-primaries"},
    };
    for (const auto& e : encoders) {
        SCOPED_TRACE(e.encoder);
        const std::string out = write_script(std::string("media/told.") + e.encoder, "");
        for (const bool user_says_bt709 : {false, true}) {
            std::vector<std::string> args = {"--tell-encoder", "--depth=keep", "video", script};
            for (const std::string& word : e.program) {
                args.push_back(word == "OUT" ? out : word);
                if (user_says_bt709 && &word == &e.program[0]) {
                    args.push_back(e.colorprim);
                    args.push_back("bt709");
                }
            }
            const run_result r = run_tool(args, on_real_server());
            ASSERT_EQ(r.status, 0) << r.err;
            EXPECT_NE(r.err.find(std::string("clipspout [info]: telling ") + e.program[0] + ": "), std::string::npos)
                << r.err;
            std::map<std::string, std::string> got = source_description(out);
            for (const char* key : {"color_space", "color_transfer", "color_range", "chroma_location"})
                EXPECT_EQ(got[key], source_says.at(key)) << key;
            EXPECT_EQ(got["color_primaries"], user_says_bt709 ? "bt709" : source_says.at("color_primaries"));
            EXPECT_EQ(got["pix_fmt"], "yuv420p10le");
            const std::map<std::string, double> hdr = hdr_metadata_of(out, std::string(e.encoder) == "x264");
            const std::map<std::string, double> expected = hdr_values(source_says);
            EXPECT_EQ(hdr.size(), expected.size());
            for (const auto& value : expected) {
                const double precision = std::string(e.encoder) != "svtav1" ? 1e-9
                                         : value.first == "min_luminance"  ? 1.0 / 16384
                                                                           : 1.0 / 65536;
                EXPECT_NEAR(hdr.count(value.first) ? hdr.at(value.first) : -1, value.second,
                            precision + value.second * 1e-9)
                    << value.first;
            }
        }
    }
    // mkv into ffmpeg, started by the tool: libx265, the colour from the
    // stream itself.
    const std::string hevc = write_script("media/told_ffmpeg.mkv", "");
    const run_result r = run_tool({"--depth=keep", "mkv", script, "ffmpeg", "-v", "error", "-y", "-i", "-", "-c:v",
                                   "libx265", "-x265-params", "log-level=error", hevc},
                                  on_real_server());
    ASSERT_EQ(r.status, 0) << r.err;
    std::map<std::string, std::string> got = source_description(hevc);
    for (const char* key : {"color_space", "color_primaries", "color_transfer", "color_range"})
        EXPECT_EQ(got[key], source_says.at(key)) << key;
    EXPECT_EQ(frame_times(hevc).size(), 6u);
}

TEST_F(RealMedia, JsonReportsOfRealFilms)
{
    // The HDR10 HEVC, a full-range BT.709 H.264, an interlaced H.264 and a
    // variable-rate film, as batch tools would ask of them.
    const struct {
        const char* name;
        std::string make;
        const char* facts;  // a jq expression over info's JSON that must be true
    } films[] = {
        {"json_hdr10.mkv", test_picture(6, 128, 72) + hdr10_encode,
         ".video.frame0_properties._Transfer.value == 16 and .video.frame0_properties._Primaries.value == 9 and "
         ".video.frame0_properties.MasteringDisplayMaxLuminance.value == 1000 and "
         ".video.frame0_properties.ContentLightLevelMax.value == 1000 and .streams.mkv.depth == 8 and "
         ".video.pixel_type == \"a0050008\""},
        {"json_full.mkv", test_picture(6) + "-pix_fmt yuvj420p -color_range pc -colorspace bt709 -c:v libx264 "
                                             "-preset ultrafast",
         ".video.frame0_properties._ColorRange.value == 0 and .video.frame0_properties._Matrix.value == 1"},
        {"json_interlaced.mkv", test_picture(6, 72, 40) + "-flags +ilme+ildct -x264-params bff=1 -pix_fmt yuv420p "
                                                           "-c:v libx264 -preset ultrafast",
         ".video.frame0_properties._FieldBased.value == 1 and .streams.mkv.field_order == \"bff\" and "
         ".streams.video.field_order == \"progressive\""},
        {"json_vfr.mkv", test_picture(60) + "-vf \"settb=1/1000,setpts='floor(N/3)*100+if(eq(mod(N,3),1),33,"
                                            "if(eq(mod(N,3),2),83,0))'\" -fps_mode passthrough -enc_time_base 1/1000 "
                                            "-c:v ffv1",
         ".video.frame0_properties._DurationNum.value == 33 and .video.frame0_properties._DurationDen.value == 1000"},
    };
    std::string vfr;
    for (const auto& f : films) {
        SCOPED_TRACE(f.name);
        const std::string media = make_media(f.name, f.make);
        vfr = media;
        const run_result r = run_tool({"--json", "info", video_script(media)}, on_real_server());
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_NE(parse_json(r.out), "") << r.out;
        EXPECT_EQ(json_field(r.out, f.facts), "true") << r.out;
        // Every number and string as the script reads it with propGet*:
        // the report, turned into asserts on frame 0 (floats within what
        // their 17 digits say), must hold.
        const std::string asserts = shell(
            "jq -r '.video.frame0_properties | to_entries[] | .key as $k | .value as $p | ($p.value | if type == "
            "\"array\" then to_entries[] else {key: null, value: .} end) | (if .key == null then \"\" else \", "
            "index=\\(.key)\" end) as $i | if $p.type == \"int\" then \"Assert(propGetInt(c, \\\"\\($k)\\\"\\($i)) "
            "== \\(.value), \\\"\\($k)\\\")\" elif $p.type == \"float\" and .value != null then \"Assert(Abs("
            "propGetFloat(c, \\\"\\($k)\\\"\\($i)) - Value(\\\"\\(.value)\\\")) <= 0.000000001 * Abs(Value("
            "\\\"\\(.value)\\\")), \\\"\\($k)\\\")\" elif $p.type == \"data\" and (.value | test(\"^[ -!#-~]*$\")) "
            "then \"Assert(propGetString(c, \\\"\\($k)\\\"\\($i)) == \\\"\\(.value)\\\", \\\"\\($k)\\\")\" "
            "else empty end' " + write_script("media/props.json", r.out));
        EXPECT_GE(std::count(asserts.begin(), asserts.end(), '\n'), 8) << asserts;
        const run_result read = run_tool(
            {"info", video_script(media, "c = last\n" + asserts + "c\n")}, on_real_server());
        EXPECT_EQ(read.status, 0) << read.err << asserts;
    }

    // meter fetches what video writes; --frame-props gives each frame's
    // duration as --timecodes times it.
    const std::string script = video_script(vfr);
    const std::string props = write_script("media/vfr.props", ""), tc = write_script("media/vfr_props.tc", "");
    const run_result meter = run_tool({"--json", "--frame-props", props, "meter", script}, on_real_server());
    ASSERT_EQ(meter.status, 0) << meter.err;
    const run_result video = run_tool({"--timecodes", tc, "video", script}, on_real_server());
    EXPECT_EQ(json_field(meter.out, ".fetched"), std::to_string(number_after(video.err, "finished, wrote ")));
    // Each frame's start: the sum of the durations before it, in ms.
    const std::string starts =
        shell("jq -r '.properties | \"\\(._DurationNum.value) \\(._DurationDen.value)\"' '" + props +
              "' | awk 'BEGIN { t = 0 } { printf \"%.6f\\n\", t; t += $1 * 1000 / $2 }'");
    EXPECT_EQ("# timestamp format v2\n" + starts, read_file(tc));
}

// The slip that names the source film as the output: FFMS2 holds the film
// open while the script runs, and the tool refuses to write over it, with
// the film intact, for the stream and for a side file alike.
TEST_F(RealMedia, TheSourceFilmIsNoOutput)
{
    const std::string media = make_media("held.mkv", test_picture(10) + "-pix_fmt yuv420p -c:v ffv1");
    const std::string film = read_file(media);
    const std::string script = video_script(media);
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"-o", media, "video", script}, {"--timecodes", media, "video", script},
          {"-o", media, "mkv", script}}) {
        SCOPED_TRACE(args[0] + " " + args[2]);
        const run_result r = run_tool(args, on_real_server());
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.out, "");
        EXPECT_NE(r.err.find("names \"" + media + "\", a file that is open as the script runs"), std::string::npos)
            << r.err;
        EXPECT_TRUE(read_file(media) == film) << "the film was written over";
    }
}

// AAC decodes to float, which flac refuses; --sample-format=24 gives it the
// frame server's own 24-bit conversion, the same samples as
// ConvertAudioTo24bit() at the script's end.
TEST_F(RealMedia, FloatSoundReachesFlacAsIntegers)
{
    const std::string media = make_media("float.mkv", test_tones(2, 1.0) + "-c:a aac");
    const std::string script = audio_script(media);
    const std::string folder = script.substr(0, script.rfind('/'));
    int status = -1;
    shell(tool_command(on_real_server()) + " audio '" + script + "' 2>/dev/null | flac --silent -f -o '" + folder +
              "/refused.flac' - 2>/dev/null",
          &status);
    EXPECT_NE(status, 0) << "flac took float samples";
    const run_result converted = run_tool({"--sample-format=24", "audio", script}, on_real_server());
    ASSERT_EQ(converted.status, 0) << converted.err;
    const run_result in_script =
        run_tool({"audio", write_script("media/converted.avs", read_file(script) + "ConvertAudioTo24bit()\n")},
                 on_real_server());
    ASSERT_EQ(in_script.status, 0) << in_script.err;
    EXPECT_TRUE(converted.out == in_script.out) << "not the frame server's own conversion";
    shell(tool_command(on_real_server()) + " --sample-format=24 audio '" + script + "' 2>/dev/null | flac --silent -f "
              "-o '" + folder + "/taken.flac' -",
          &status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(shell("ffprobe -v error -show_entries stream=bits_per_raw_sample,channels -of csv=p=0 '" + folder +
                    "/taken.flac'"),
              "2,24\n");
}
