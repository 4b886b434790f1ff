#include "matroska_cases.h"

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <vector>

std::string read_through_pipe(const std::string& stream, const std::string& reader)
{
    std::string file = write_script("mkv/stream.mkv", stream);
    return shell("cat '" + file + "' | " + reader);
}

std::string matroska_frames(const std::string& stream, const std::string& pix_fmt)
{
    // Every frame as the stream holds it, none repeated or dropped for an
    // even pace.
    return read_through_pipe(stream, "ffmpeg -v error -i - -map 0:v -fps_mode passthrough -f rawvideo -pix_fmt " +
                                         pix_fmt + " -");
}

std::string matroska_samples(const std::string& stream, const std::string& raw_format)
{
    return read_through_pipe(stream, "ffmpeg -v error -i - -map 0:a -f " + raw_format + " -");
}

std::map<std::string, std::string> probe_fields(const std::string& stream, const char* type)
{
    std::istringstream lines(
        read_through_pipe(stream, std::string("ffprobe -v error -select_streams ") + type + " -show_streams -"));
    std::map<std::string, std::string> fields;
    for (std::string line; std::getline(lines, line);) {
        size_t equals = line.find('=');
        if (equals != std::string::npos)
            fields.emplace(line.substr(0, equals), line.substr(equals + 1));
    }
    return fields;
}

double fraction_value(const std::string& text)
{
    char* end = nullptr;
    const double num = strtod(text.c_str(), &end);
    if (end == text.c_str())
        return NAN;  // "N/A", or nothing
    return *end == '/' ? num / strtod(end + 1, nullptr) : num;
}

namespace {

// 480i NTSC, a size and rate x264bd knows, as a source plugin's frames
// would be described.
const std::string clip = "BlankClip(length=2, width=720, height=480, pixel_type=\"YV12\", fps=30000, "
                         "fps_denominator=1001)\n";

const std::string hdr10_properties =
    "propSet(\"_Matrix\", 9).propSet(\"_Primaries\", 9).propSet(\"_Transfer\", 16).propSet(\"_ColorRange\", 1)\n"
    "propSet(\"_ChromaLocation\", 2)\n"
    "propSet(\"MasteringDisplayPrimariesX\", [0.68, 0.265, 0.15]).propSet(\"MasteringDisplayPrimariesY\", "
    "[0.32, 0.69, 0.06])\n"
    "propSet(\"MasteringDisplayWhitePointX\", 0.3127).propSet(\"MasteringDisplayWhitePointY\", 0.329)\n"
    "propSet(\"MasteringDisplayMinLuminance\", 0.0001).propSet(\"MasteringDisplayMaxLuminance\", 1000.0)\n"
    "propSet(\"ContentLightLevelMax\", 1000.0).propSet(\"ContentLightLevelAverage\", 400.0)\n";

}  // namespace

void check_matroska_metadata(const run_options& options)
{
    const struct {
        const char* name;
        std::string tail;
        std::map<std::string, std::string> fields;  // ffprobe's words
        std::map<std::string, double> numbers;      // and its fractions, as numbers
    } cases[] = {
        {"HDR10",
         hdr10_properties,
         {{"color_space", "bt2020nc"}, {"color_primaries", "bt2020"}, {"color_transfer", "smpte2084"},
          {"color_range", "tv"}, {"chroma_location", "topleft"}, {"field_order", "progressive"},
          {"max_content", "1000"}, {"max_average", "400"}},
         {{"red_x", 0.68}, {"red_y", 0.32}, {"green_x", 0.265}, {"green_y", 0.69}, {"blue_x", 0.15}, {"blue_y", 0.06},
          {"white_point_x", 0.3127}, {"white_point_y", 0.329}, {"min_luminance", 0.0001}, {"max_luminance", 1000}}},
        {"full-range BT.709",
         "propSet(\"_Matrix\", 1).propSet(\"_Primaries\", 1).propSet(\"_Transfer\", 1).propSet(\"_ColorRange\", 0)\n"
         "propSet(\"_ChromaLocation\", 0)\n",
         {{"color_space", "bt709"}, {"color_primaries", "bt709"}, {"color_transfer", "bt709"}, {"color_range", "pc"},
          {"chroma_location", "left"}},
         {}},
        {"BT.601 interlaced, top field first, 10:11",
         "propSet(\"_Matrix\", 6).propSet(\"_Primaries\", 6).propSet(\"_Transfer\", 6).propSet(\"_FieldBased\", 2)\n"
         "propSet(\"_SARNum\", 20).propSet(\"_SARDen\", 22)\n",
         {{"color_space", "smpte170m"}, {"color_primaries", "smpte170m"}, {"color_transfer", "smpte170m"},
          {"field_order", "tt"}, {"sample_aspect_ratio", "10:11"}},
         {}},
        {"bottom field first by the clip's flags", "AssumeFieldBased().AssumeBFF()\n", {{"field_order", "bb"}}, {}},
        {"HLG", "propSet(\"_Transfer\", 18).propSet(\"_Primaries\", 9)\n",
         {{"color_transfer", "arib-std-b67"}, {"color_primaries", "bt2020"}}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        run_result r = run_tool({"mkv", write_script("meta.avs", clip + c.tail)}, options);
        ASSERT_EQ(r.status, 0) << r.err;
        std::map<std::string, std::string> fields = probe_fields(r.out);
        for (const auto& expected : c.fields)
            EXPECT_EQ(fields[expected.first], expected.second) << expected.first;
        for (const auto& expected : c.numbers)
            EXPECT_NEAR(fraction_value(fields[expected.first]), expected.second, expected.second * 1e-6)
                << expected.first << " = " << fields[expected.first];
    }

    // What frame 0 does not say, or says is unspecified (2), is left out.
    for (const std::string& tail : {std::string("propDelete(\"_Matrix\").propDelete(\"_ColorRange\")\n"),
                                    std::string("propSet(\"_Matrix\", 2).propSet(\"_Primaries\", 2).propSet("
                                                "\"_Transfer\", 2).propDelete(\"_ColorRange\")\n")}) {
        SCOPED_TRACE(tail);
        run_result r = run_tool({"mkv", write_script("bare.avs", clip + tail)}, options);
        ASSERT_EQ(r.status, 0) << r.err;
        std::string saved = write_script("mkv/bare.mkv", r.out);
        std::string elements = shell("mkvinfo '" + saved + "' 2>&1");
        EXPECT_EQ(elements.find("color"), std::string::npos) << elements;
        EXPECT_EQ(elements.find("Display"), std::string::npos) << elements;
        EXPECT_NE(elements.find("Interlaced: 2"), std::string::npos) << elements;
        std::map<std::string, std::string> fields = probe_fields(r.out);
        EXPECT_EQ(fields["color_space"], "unknown");
        EXPECT_EQ(fields["color_range"], "unknown");
    }
}

void check_matroska_audio(const run_options& options,
                          const std::function<std::string(const std::string& sample_type, int channels)>& script)
{
    const struct {
        const char* type;
        const char* raw_format;  // ffmpeg's
        const char* codec;
        size_t bytes;
    } types[] = {{"8bit", "u8", "pcm_u8", 1},
                 {"16bit", "s16le", "pcm_s16le", 2},
                 {"24bit", "s24le", "pcm_s24le", 3},
                 {"32bit", "s32le", "pcm_s32le", 4},
                 {"float", "f32le", "pcm_f32le", 4}};
    for (const auto& t : types) {
        for (int channels : {2, 6}) {
            SCOPED_TRACE(std::string(t.type) + " " + std::to_string(channels));
            std::string path = write_script("sound.avs", script(t.type, channels));
            run_result mkv = run_tool({"mkv", path}, options);
            run_result wav = run_tool({"audio", path}, options);
            ASSERT_EQ(mkv.status, 0) << mkv.err;
            ASSERT_EQ(wav.status, 0) << wav.err;
            EXPECT_EQ(mkv.err.find("writing 1 seconds of 48000 Hz, " + std::to_string(channels) + " channel audio.\n"),
                      mkv.err.find("writing 1 seconds"))
                << mkv.err;
            // 1.5 s of it: the 0.3 s past the video's end come too.
            ASSERT_EQ(wav.out.size(), 80 + 72000u * static_cast<size_t>(channels) * t.bytes);
            EXPECT_TRUE(matroska_samples(mkv.out, t.raw_format) == wav.out.substr(80))
                << "the samples differ from the audio mode's";
            std::map<std::string, std::string> fields = probe_fields(mkv.out, "a");
            EXPECT_EQ(fields["codec_name"], t.codec);
            EXPECT_EQ(fields["channels"], std::to_string(channels));
            EXPECT_EQ(fields["sample_rate"], "48000");
        }
    }
}

void check_matroska_timing(const run_options& options)
{
    // 24000/1001 with 48 kHz stereo: the exact rate, each frame's start
    // rounded once, the samples of each frame's span beside it.
    std::string film = write_script("film.avs", "BlankClip(length=48, width=32, height=16, pixel_type=\"YV12\", "
                                                "fps=24000, fps_denominator=1001, audio_rate=48000, channels=2)\n");
    run_result r = run_tool({"mkv", film}, options);
    ASSERT_EQ(r.status, 0) << r.err;
    std::map<std::string, std::string> fields = probe_fields(r.out);
    EXPECT_EQ(fields["r_frame_rate"], "24000/1001");
    EXPECT_EQ(fields["avg_frame_rate"], "24000/1001");
    // Said outright, not left to a reader's guess from the timestamps.
    std::string track = shell("mkvinfo '" + write_script("mkv/film.mkv", r.out) + "'");
    EXPECT_NE(track.find("Default duration: 00:00:00.041708333"), std::string::npos) << track;
    // And how long it lasts, so that a reader of a saved stream need not
    // guess: 48 frames of 1001/24000 s.
    EXPECT_NE(track.find("Duration: 00:00:02.002000000"), std::string::npos) << track;

    std::istringstream packets(
        read_through_pipe(r.out, "ffprobe -v error -show_entries packet=stream_index,pts,size -of csv=p=0 -"));
    int frame = 0;
    long long last_pts = -1, samples = 0, largest_audio = 0;
    for (std::string line; std::getline(packets, line);) {
        int stream = 0;
        long long pts = 0, size = 0;
        ASSERT_EQ(sscanf(line.c_str(), "%d,%lld,%lld", &stream, &pts, &size), 3) << line;
        EXPECT_GE(pts, last_pts) << "out of time order: " << line;
        last_pts = pts;
        if (stream == 0) {
            EXPECT_EQ(pts, static_cast<long long>(std::llround(frame * 1001 / 24.0))) << "frame " << frame;
            EXPECT_EQ(size, 32 * 16 * 3 / 2);
            ++frame;
        } else {
            samples += size / 4;
            largest_audio = std::max(largest_audio, size / 4);
        }
    }
    EXPECT_EQ(frame, 48);
    EXPECT_EQ(samples, 48 * 48000LL * 1001 / 24000);
    EXPECT_LE(largest_audio, 2003) << "a block holds more than a frame's span of samples";

    // Frames that say their own duration (20 ms at a clip rate of 25) start
    // where their durations say, and the track claims no constant rate.
    std::string timed = write_script("timed.avs", "BlankClip(length=4, width=32, height=16, pixel_type=\"YV12\", "
                                                  "fps=25)\n"
                                                  "propSet(\"_DurationNum\", 1).propSet(\"_DurationDen\", 50)\n");
    r = run_tool({"mkv", timed}, options);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(read_through_pipe(r.out, "ffprobe -v error -select_streams v -show_entries packet=pts -of csv=p=0 -"),
              "0\n20\n40\n60\n");
    // 80 ms where the rate says 160: said, with the remedy.
    EXPECT_NE(r.err.find("clipspout [warn]: the frames' own durations (_DurationNum/_DurationDen) add up to 0.080 s, "
                         "but 4 frames at the clip's 25/1 fps last 0.160 s: "),
              std::string::npos)
        << r.err;
    std::string saved = write_script("mkv/timed.mkv", r.out);
    EXPECT_EQ(shell("mkvinfo '" + saved + "'").find("Default duration"), std::string::npos);
    EXPECT_EQ(shell("mkvinfo '" + saved + "'").find("Duration:"), std::string::npos) << "a length guessed";

    // Audio alone: its samples over their rate.
    r = run_tool({"mkv", write_script("sound.avs", "BlankClip(length=30, fps=24, audio_rate=44100).KillVideo()\n")},
                 options);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(shell("mkvinfo '" + write_script("mkv/sound.mkv", r.out) + "'").find("Duration: 00:00:01.250000000"),
              std::string::npos);
}

void check_matroska_ranges_and_failures(const run_options& options)
{
    std::string film = write_script("range.avs", "BlankClip(length=60, width=64, height=32, pixel_type=\"YV12\", "
                                                 "fps=25, audio_rate=44100, channels=2)\n");
    // A range: the frames and samples that video and audio write for it.
    run_result part = run_tool({"-s", "7", "-e", "30", "mkv", film}, options);
    run_result video = run_tool({"-s", "7", "-e", "30", "video", film}, options);
    run_result audio = run_tool({"-s", "7", "-e", "30", "audio", film}, options);
    ASSERT_EQ(part.status, 0) << part.err;
    std::string planes;
    for (size_t at = video.out.find('\n') + 1; at < video.out.size(); at += 6 + 64 * 32 * 3 / 2)
        planes += video.out.substr(at + 6, 64 * 32 * 3 / 2);
    EXPECT_TRUE(matroska_frames(part.out, "yuv420p") == planes);
    EXPECT_TRUE(matroska_samples(part.out, "s16le") == audio.out.substr(80));

    // A reader that leaves and a full disk end with status 2, the stream
    // reported for what it is: what reached the reader is the stream's start.
    std::string big = write_script("big.avs", "BlankClip(length=20, width=640, height=480, pixel_type=\"YV12\", "
                                              "fps=25, audio_rate=48000, channels=2)\n");
    run_result whole = run_tool({"mkv", big}, options);
    ASSERT_EQ(whole.status, 0) << whole.err;
    cut_short_runs cut = run_cut_short({"mkv", big}, options);
    for (const run_result* r : {&cut.closed_pipe, &cut.full_disk}) {
        EXPECT_EQ(r->status, 2) << r->err;
        EXPECT_EQ(r->signal, 0);
        long long written = number_after(r->err, "only wrote ");
        EXPECT_GE(written, 0) << r->err;
        EXPECT_LT(written, 20) << r->err;
        EXPECT_NE(r->err.find(" of 20 frames.\n"), std::string::npos) << r->err;
    }
    EXPECT_TRUE(cut.closed_pipe.out == whole.out.substr(0, 1000));
    EXPECT_EQ(number_after(cut.full_disk.err, "only wrote "), 0);

    // Neither video nor audio: nothing to write.
    run_result empty = run_tool({"mkv", write_script("empty.avs", "BlankClip().KillVideo().KillAudio()\n")}, options);
    EXPECT_EQ(empty.status, 2);
    EXPECT_EQ(empty.out, "");
    EXPECT_EQ(empty.err, "clipspout [error]: clip has neither video nor audio.\n");
}
