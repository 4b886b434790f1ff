// A film's whole sound track, at full length: 90 minutes of 5.1 at 24 bits
// from AviSynth+ (4,665,600,000 bytes of samples, past every 32-bit size),
// piped into sox and flac, which must each take every sample. Slow (about a
// minute), so it has a label of its own, "film".

#include <gtest/gtest.h>

#include "harness.h"

namespace {

const int64_t film_samples = 5400LL * 48000;
const uint64_t film_bytes = static_cast<uint64_t>(film_samples) * 6 * 3;

std::string film_script()
{
    return write_script("film.avs", "BlankClip(length=129600, fps=24, audio_rate=48000, channels=6, "
                                    "sample_type=\"24bit\").KillVideo()\n");
}

std::string on_real_server_command()
{
    run_options options;
    options.frameserver = real_frameserver();
    return tool_command(options);
}

}  // namespace

TEST(Film, WholeTrackReachesSoxAndFlacUnderRf64)
{
    if (real_frameserver().empty())
        GTEST_SKIP() << "no real frame server: CLIPSPOUT_TEST_REAL_FRAMESERVER is not set";
    const std::string tool = on_real_server_command() + " --rf64=auto --channel-mask=auto audio '" + film_script() + "'";
    std::string log = write_script("film.log", "");
    int status = -1;

    std::string counted = shell(tool + " 2>'" + log + "' | sox -t wav - -t raw - | wc -c", &status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(std::stoull(counted), film_bytes) << "sox did not get every sample";
    EXPECT_EQ(read_file(log), "clipspout [info]: writing 5400 seconds of 48000 Hz, 6 channel audio.\n"
                              "clipspout [info]: audio size over 32bit limit (4GB): writing an RF64 header.\n"
                              "\rclipspout [info]: finished, wrote 5400 seconds [100%].\n");

    std::string flac = write_script("film.flac", "");
    std::string out = shell(tool + " 2>/dev/null | flac -0 --silent -f -o '" + flac + "' - 2>&1", &status);
    EXPECT_EQ(status, 0) << out;
    EXPECT_EQ(shell("metaflac --show-total-samples '" + flac + "'"), std::to_string(film_samples) + "\n")
        << "flac did not get every sample";
}

TEST(Film, DefaultStreamKeepsTheFullSizeHeader)
{
    if (real_frameserver().empty())
        GTEST_SKIP() << "no real frame server: CLIPSPOUT_TEST_REAL_FRAMESERVER is not set";
    std::string log = write_script("film-default.log", "");
    // The reader takes the header and closes the pipe.
    std::string header =
        shell(on_real_server_command() + " audio '" + film_script() + "' 2>'" + log + "' | head -c 80");
    ASSERT_EQ(header.size(), 80u);
    EXPECT_EQ(header.substr(0, 8), std::string("RIFF\xff\xff\xff\xff", 8));
    EXPECT_EQ(header.substr(40, 4), std::string(4, '\0'));  // no speaker positions
    EXPECT_EQ(header.substr(68, 4), std::string("\x00\x14\x73\x0f", 4));  // 259,200,000 samples fit
    EXPECT_EQ(header.substr(72, 8), std::string("data\xff\xff\xff\xff", 8));
    EXPECT_NE(read_file(log).find("clipspout [warn]: audio size over 32bit limit (4GB), clients may truncate audio.\n"),
              std::string::npos)
        << read_file(log);
}
