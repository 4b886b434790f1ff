// --rf64 and --channel-mask: the default stream stays as it was, and the
// streams they make carry the same samples to every common reader.

#include <gtest/gtest.h>

#include "harness.h"

namespace {

uint64_t le(const std::string& bytes, size_t at, int width)
{
    uint64_t v = 0;
    for (int i = width - 1; i >= 0; --i)
        v = v << 8 | static_cast<unsigned char>(bytes[at + i]);
    return v;
}

std::string tone_script(int channels, const std::string& sample_type = "24bit", const std::string& tail = "")
{
    return write_script("wave_options.avs", "BlankClip(length=50, fps=25, audio_rate=48000, channels=" +
                                                std::to_string(channels) + ", sample_type=\"" + sample_type +
                                                "\")\nKillVideo()\n" + tail);
}

// The raw samples that a reader decodes from the stream, through a pipe.
std::string decoded_by(const std::string& reader, const std::string& stream_file, const std::string& raw_format)
{
    std::string folder = write_script("readers/x", "");
    folder.erase(folder.rfind('/') + 1);
    const std::string f = "'" + stream_file + "'";
    if (reader == "ffmpeg")
        return shell("ffmpeg -v error -i - -f " + raw_format + " - < " + f);
    if (reader == "sox")
        return shell("sox -t wav - -t raw - < " + f);
    if (reader == "flac")  // encodes from the pipe; its own decode gives the samples back
        return shell("flac --silent -f -o '" + folder + "r.flac' - < " + f + " && flac --silent -d -c "
                     "--force-raw-format --endian=little --sign=signed '" + folder + "r.flac'");
    if (reader == "wavpack")
        return shell("wavpack -q -y - -o '" + folder + "r.wv' < " + f + " && wvunpack -q -y --raw '" + folder +
                     "r.wv' -o -");
    return "";
}

}  // namespace

TEST(WaveOptions, DefaultNeverAndAutoKeepTodaysStream)
{
    std::string script = tone_script(2, "16bit");
    run_result plain = run_tool({"audio", script});
    ASSERT_EQ(plain.status, 0);
    ASSERT_EQ(plain.out.substr(0, 4), "RIFF");
    for (std::vector<std::string> options : {std::vector<std::string>{"--rf64=never"}, {"--rf64=auto"},
                                             {"--channel-mask=0"}, {"--rf64=auto", "--channel-mask=0"}}) {
        SCOPED_TRACE(testing::PrintToString(options));
        options.push_back("audio");
        options.push_back(script);
        run_result r = run_tool(options);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.err, plain.err);
        EXPECT_TRUE(r.out == plain.out) << "the stream differs from the default one";
    }
}

TEST(WaveOptions, Rf64StreamReachesEveryReaderWhole)
{
    // 6 channels of 24 bits, as a film's 5.1 track: flac takes more than 2
    // channels only with a speaker mask.
    std::string script = tone_script(6);
    run_result plain = run_tool({"audio", script});
    run_result rf64 = run_tool({"--rf64=always", "--channel-mask=auto", "audio", script});
    ASSERT_EQ(rf64.status, 0) << rf64.err;
    EXPECT_EQ(rf64.err, plain.err);  // no RF64 note where it was asked for
    const std::string samples = plain.out.substr(80);
    ASSERT_EQ(samples.size(), 2u * 48000 * 6 * 3);

    ASSERT_EQ(rf64.out.size(), 104 + samples.size());
    EXPECT_EQ(rf64.out.substr(0, 16), std::string("RF64\xff\xff\xff\xffWAVEds64", 16));
    EXPECT_EQ(le(rf64.out, 20, 8), 96 + samples.size());
    EXPECT_EQ(le(rf64.out, 28, 8), samples.size());
    EXPECT_EQ(le(rf64.out, 36, 8), 96000u);
    EXPECT_EQ(rf64.out.substr(48, 4), "fmt ");
    EXPECT_EQ(le(rf64.out, 76, 4), 0x3Fu);
    EXPECT_EQ(rf64.out.substr(96, 8), std::string("data\xff\xff\xff\xff", 8));
    EXPECT_TRUE(rf64.out.substr(104) == samples) << "the samples differ from the default stream's";

    std::string file = write_script("rf64.wav", rf64.out);
    for (const char* reader : {"ffmpeg", "sox", "flac", "wavpack"}) {
        SCOPED_TRACE(reader);
        EXPECT_TRUE(decoded_by(reader, file, "s24le") == samples) << "the reader decoded other samples";
    }
    // Without a mask flac refuses the same samples.
    std::string unmasked = write_script("unmasked.wav", plain.out);
    EXPECT_EQ(decoded_by("flac", unmasked, "s24le"), "");
}

TEST(WaveOptions, ChannelMaskFromTheOptionTheFrameServerOrTheUsualLayout)
{
    const std::string no_layout = "clipspout [warn]: no usual speaker layout for 10 channels: the channel mask stays 0.\n";
    struct {
        const char* frameserver;
        int channels;
        const char* option;
        const char* tail;
        int status;
        uint32_t mask;
        std::string warning;
    } cases[] = {
        {STANDIN, 6, "auto", "", 0, 0x3F, ""},
        {STANDIN, 8, "auto", "", 0, 0x63F, ""},
        {STANDIN, 1, "auto", "", 0, 0x4, ""},
        {STANDIN, 6, "auto", "SetChannelMask(true, $60F)\n", 0, 0x60F, ""},
        {STANDIN, 6, "auto", "SetChannelMask(false, $60F)\n", 0, 0x3F, ""},
        {STANDIN, 6, "auto", "SetChannelMask(true, $3)\n", 0, 0x3F,
         "clipspout [warn]: the frame server's channel mask 0x3 does not fit 6 channels; taking the usual one.\n"},
        {STANDIN, 10, "auto", "", 0, 0, no_layout},
        {STANDIN, 6, "0x60f", "", 0, 0x60F, ""},
        {STANDIN, 6, "1551", "SetChannelMask(true, $3F)\n", 0, 0x60F, ""},  // a number wins
        {STANDIN, 2, "0", "", 0, 0, ""},
        {STANDIN, 6, "0x3", "", 2, 0,
         "clipspout [error]: --channel-mask=0x3 names 2 speakers, but the audio has 6 channels.\n"},
        // A frame server without channel masks (AviSynth 2.6).
        {"standin-classic", 6, "auto", "", 0, 0x3F, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.frameserver) + " " + std::to_string(c.channels) + " " + c.option + " " + c.tail);
        run_options options;
        options.frameserver = c.frameserver;
        run_result r = run_tool({std::string("--channel-mask=") + c.option, "audio",
                                 tone_script(c.channels, "16bit", c.tail)},
                                options);
        EXPECT_EQ(r.status, c.status) << r.err;
        if (c.status != 0) {
            EXPECT_EQ(r.out, "");
            EXPECT_EQ(r.err, c.warning);
            continue;
        }
        ASSERT_GE(r.out.size(), 80u);
        EXPECT_EQ(le(r.out, 40, 4), c.mask);
        EXPECT_EQ(r.err.substr(0, c.warning.size()), c.warning);
    }
}

// --sample-format: the frame server's own conversion, said once, for every
// mode that reads the sound; flac, which refuses float, then takes it.
TEST(WaveOptions, SampleFormatConvertsTheSoundForEveryMode)
{
    const std::string source = tone_script(2, "float");
    const struct {
        const char* value;
        int bits;
        bool floating;
        const char* said;  // nullptr: nothing to convert
    } cases[] = {
        {"16", 16, false, "clipspout [info]: converting audio to 16-bit integer samples.\n"},
        {"24", 24, false, "clipspout [info]: converting audio to 24-bit integer samples.\n"},
        {"32", 32, false, "clipspout [info]: converting audio to 32-bit integer samples.\n"},
        {"float", 32, true, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        const std::string option = std::string("--sample-format=") + c.value;
        const run_result r = run_tool({option, "audio", source});
        ASSERT_EQ(r.status, 0) << r.err;
        ASSERT_GT(r.out.size(), 44u);
        // WAVE_FORMAT_EXTENSIBLE: bits at 34, the subformat's tag (1 PCM,
        // 3 IEEE float) at 44.
        EXPECT_EQ(le(r.out, 34, 2), static_cast<uint64_t>(c.bits));
        EXPECT_EQ(le(r.out, 44, 2), c.floating ? 3u : 1u);
        EXPECT_EQ(r.err.rfind(c.said ? c.said : "clipspout [info]: writing", 0), 0u) << r.err;
        const run_result info = run_tool({option, "info", source});
        EXPECT_NE(lf_text(info.out).find("a:format      " + std::string(c.floating ? "float" : "pcm") +
                                         "\na:bit_depth   " + std::to_string(c.bits) + "\n"),
                  std::string::npos)
            << info.out;
        for (const char* mode : {"mkv", "meter"}) {
            const run_result other = run_tool({option, mode, source});
            EXPECT_EQ(other.status, 0) << mode << other.err;
            EXPECT_EQ(other.err.rfind(c.said ? c.said : "", 0), 0u) << mode << other.err;
        }
    }
    const struct {
        std::vector<std::string> args;
        const char* said;
    } refusals[] = {
        {{"--sample-format=20", "audio", source}, "bad value \"20\" for --sample-format: use 16, 24, 32 or float.\n"},
        {{"--sample-format=24", "video", source}, "--sample-format goes with audio, mkv, meter or info.\n"},
        {{"--sample-format=24", "audio", write_script("silent.avs", "BlankClip(length=5).KillAudio()\n")},
         "--sample-format needs a clip with audio.\n"},
    };
    for (const auto& r : refusals) {
        const run_result refused = run_tool(r.args);
        EXPECT_EQ(refused.status, 2);
        EXPECT_EQ(refused.out, "");
        EXPECT_EQ(refused.err, std::string("clipspout [error]: ") + r.said);
    }
}
