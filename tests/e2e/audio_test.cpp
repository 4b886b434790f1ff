// The WAV stream: header and every sample against the stand-in's sample
// pattern, real readers, and every road that ends a stream early.

#include <gtest/gtest.h>

#include <cstring>

#include "harness.h"

namespace {

struct sample_case {
    const char* sample_type;
    int bytes;
    const char* raw_format;  // ffmpeg's name for the raw samples
};

const sample_case sample_cases[] = {
    {"8bit", 1, "u8"}, {"16bit", 2, "s16le"}, {"24bit", 3, "s24le"}, {"32bit", 4, "s32le"}, {"float", 4, "f32le"},
};

// 2.5 seconds at 48 kHz: two whole one-second blocks and a half one.
const int rate = 48000;
const int64_t samples = 120000;

std::string script_for(const sample_case& c, int channels, int length = 60, const std::string& tail = "")
{
    return "BlankClip(length=" + std::to_string(length) + ", fps=24, audio_rate=" + std::to_string(rate) +
           ", channels=" + std::to_string(channels) + ", sample_type=\"" + c.sample_type + "\")\nKillVideo()\n" + tail;
}

std::string expected_samples(const sample_case& c, int channels, int64_t from, int64_t to)
{
    std::string bytes;
    for (int64_t s = from; s < to; ++s)
        for (int ch = 0; ch < channels; ++ch) {
            uint32_t k = sample_key(s, ch);
            if (std::string(c.sample_type) == "float") {
                float f = (static_cast<int>(k & 0xFFFF) - 32768) / 32768.0f;
                char le[4];
                memcpy(le, &f, 4);
                bytes.append(le, 4);
            } else {
                for (int b = 0; b < c.bytes; ++b)
                    bytes += static_cast<char>(k >> (8 * b));
            }
        }
    return bytes;
}

// The header is checked field by field in the unit tests; here only that it
// announces this stream.
void expect_header(const std::string& out, const sample_case& c, int channels, uint32_t count)
{
    ASSERT_GE(out.size(), 80u);
    auto u32 = [&](size_t at) {
        const unsigned char* b = reinterpret_cast<const unsigned char*>(out.data()) + at;
        return b[0] | b[1] << 8 | b[2] << 16 | static_cast<uint32_t>(b[3]) << 24;
    };
    EXPECT_EQ(out.substr(0, 4), "RIFF");
    EXPECT_EQ(static_cast<unsigned char>(out[22]), channels);
    EXPECT_EQ(u32(24), static_cast<uint32_t>(rate));
    EXPECT_EQ(static_cast<unsigned char>(out[44]), std::string(c.sample_type) == "float" ? 3 : 1);
    EXPECT_EQ(u32(68), count);
    EXPECT_EQ(u32(76), count * channels * c.bytes);
}

}  // namespace

TEST(Audio, EverySampleTypeIsByteExact)
{
    for (const sample_case& c : sample_cases) {
        SCOPED_TRACE(c.sample_type);
        const int channels = std::string(c.sample_type) == "24bit" ? 6 : 2;
        run_result r = run_tool({"audio", write_script("audio.avs", script_for(c, channels))});
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.err, "clipspout [info]: writing 2 seconds of 48000 Hz, " + std::to_string(channels) +
                             " channel audio.\n\rclipspout [info]: finished, wrote 2 seconds [100%].\n");
        expect_header(r.out, c, channels, samples);
        EXPECT_TRUE(r.out.substr(80) == expected_samples(c, channels, 0, samples)) << "samples differ";
    }
}

TEST(Audio, TrackWithoutSamplesWritesTheHeaderOnly)
{
    run_result r = run_tool({"audio", write_script("nosamples.avs", script_for(sample_cases[1], 2, 0))});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "clipspout [info]: writing 0 seconds of 48000 Hz, 2 channel audio.\n"
                     "\rclipspout [info]: finished, wrote 0 seconds [100%].\n");
    EXPECT_EQ(r.out.size(), 80u);
    expect_header(r.out, sample_cases[1], 2, 0);
}

TEST(Audio, RealReadersDecodeEverySampleFromThePipe)
{
    std::string raw = write_script("decoded.raw", "");
    for (const sample_case& c : sample_cases) {
        SCOPED_TRACE(c.sample_type);
        const int channels = 3;
        std::string script = write_script("readers.avs", script_for(c, channels));
        std::string expected = expected_samples(c, channels, 0, samples);
        int status = -1;

        std::string probe = shell(tool_command() + " audio '" + script +
                                      "' 2>/dev/null | ffprobe -v error -show_entries stream=channels,sample_rate "
                                      "-of default=nw=1 -",
                                  &status);
        EXPECT_EQ(probe, "sample_rate=48000\nchannels=3\n");
        shell(tool_command() + " audio '" + script + "' 2>/dev/null | ffmpeg -v error -y -i - -f " + c.raw_format +
                  " '" + raw + "'",
              &status);
        EXPECT_EQ(status, 0);
        EXPECT_TRUE(read_file(raw) == expected) << "ffmpeg decoded other samples";

        // At -V3 sox describes its input on standard error.
        std::string info = shell(tool_command() + " audio '" + script + "' 2>/dev/null | sox -V3 -t wav - -t raw '" +
                                     raw + "' 2>&1",
                                 &status);
        EXPECT_EQ(status, 0);
        EXPECT_NE(info.find("Channels       : 3"), std::string::npos) << info;
        EXPECT_NE(info.find("= 120000 samples"), std::string::npos) << info;
        EXPECT_TRUE(read_file(raw) == expected) << "sox decoded other samples";
    }
}

TEST(Audio, FlacEncodesFromThePipe)
{
    std::string flac = write_script("out.flac", "");
    std::string raw = write_script("flac.raw", "");
    for (const sample_case& c : {sample_cases[1], sample_cases[2]}) {
        SCOPED_TRACE(c.sample_type);
        std::string script = write_script("flac.avs", script_for(c, 2));
        int status = -1;
        std::string log = shell(tool_command() + " audio '" + script + "' 2>/dev/null | flac --silent -f -o '" + flac +
                                    "' - 2>&1",
                                &status);
        EXPECT_EQ(status, 0) << log;
        shell("ffmpeg -v error -y -i '" + flac + "' -f " + c.raw_format + " '" + raw + "'", &status);
        EXPECT_TRUE(read_file(raw) == expected_samples(c, 2, 0, samples)) << "flac lost samples";
    }
}

TEST(Audio, ClipWithoutAudioIsRefused)
{
    run_result r = run_tool({"audio", write_script("noaudio.avs", "BlankClip().KillAudio()\n")});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "clipspout [error]: clip has no audio.\n");
    EXPECT_EQ(r.out, "");
}

TEST(Audio, FetchTheServerCannotDeliverEndsTheStream)
{
    // The fault sits in the third one-second block.
    const sample_case& c = sample_cases[1];
    run_result r = run_tool({"audio", write_script("badaudio.avs", script_for(c, 2, 60, "StandinFault(sample=100000)\n"))});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "clipspout [info]: writing 2 seconds of 48000 Hz, 2 channel audio.\n"
                     "clipspout [warn]: audio at sample 96000: StandinFault: audio at sample 100000 cannot be "
                     "delivered\n"
                     "\rclipspout [info]: finished, wrote 2 seconds [80%].\n"
                     "clipspout [error]: only wrote 96000 of 120000 samples.\n");
    expect_header(r.out, c, 2, samples);  // still announces the whole track
    EXPECT_TRUE(r.out.substr(80) == expected_samples(c, 2, 0, 96000));
}

TEST(Audio, ClosedPipeAndFullDiskEndWithAnErrorAndAValidPrefix)
{
    const sample_case& c = sample_cases[3];
    std::string script = write_script("long.avs", script_for(c, 8, 240));  // 10 s, 1.5 MB a second
    // How many seconds reach the reader before it closes depends on the
    // pipe; the lines around that count do not.
    auto expected_err = [](long long written) {
        return "clipspout [info]: writing 10 seconds of 48000 Hz, 8 channel audio.\n"
               "\rclipspout [info]: finished, wrote " + std::to_string(written / rate) + " seconds [" +
               std::to_string(written * 100 / 480000) + "%].\n"
               "clipspout [error]: only wrote " + std::to_string(written) + " of 480000 samples.\n";
    };

    cut_short_runs runs = run_cut_short({"audio", script});
    for (const run_result* r : {&runs.closed_pipe, &runs.full_disk}) {
        EXPECT_EQ(r->status, 2);
        EXPECT_EQ(r->signal, 0);
    }
    const run_result& r = runs.closed_pipe;
    long long written = number_after(r.err, "only wrote ");
    EXPECT_EQ(written % rate, 0);
    EXPECT_LT(written, 480000);
    EXPECT_EQ(r.err, expected_err(written));
    EXPECT_TRUE(r.out.substr(80) == expected_samples(c, 8, 0, 30).substr(0, 920));

    EXPECT_EQ(runs.full_disk.err, expected_err(0));
}
