// The frame server's interface version decides which of its functions the
// tool may call: frame properties only from version 9 on.

#include <gtest/gtest.h>

#include "interface_cases.h"

namespace {

run_options playing_interface(int version)
{
    run_options options;
    options.env = {"AVS_STANDIN_INTERFACE=" + std::to_string(version)};
    return options;
}

}  // namespace

TEST(Interface, WithoutWorkingPropertiesEveryModeEndsCleanlyAndSaysSo)
{
    // The stand-in aborts where a property function is called below 9, as
    // AviSynth+ 3.6 crashes.
    check_without_working_properties(playing_interface(8), 8);
}

TEST(Interface, PropertiesAreReadFromVersionNineOn)
{
    const std::string script =
        write_script("range.avs", "BlankClip(length=1, width=16, height=8, pixel_type=\"YV12\", fps=25)\n"
                                  "propSet(\"_ColorRange\", 0)\n");
    const struct {
        int version;
        bool noted;
        const char* header;
    } cases[] = {
        {1, true, "YUV4MPEG2 W16 H8 F25:1 Ip A0:0 C420\n"},
        {8, true, "YUV4MPEG2 W16 H8 F25:1 Ip A0:0 C420\n"},
        {9, false, "YUV4MPEG2 W16 H8 F25:1 Ip A0:0 C420 XCOLORRANGE=FULL\n"},
        {11, false, "YUV4MPEG2 W16 H8 F25:1 Ip A0:0 C420 XCOLORRANGE=FULL\n"},
        {40, false, "YUV4MPEG2 W16 H8 F25:1 Ip A0:0 C420 XCOLORRANGE=FULL\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.version);
        const run_result r = run_tool({"--depth=keep", "video", script}, playing_interface(c.version));
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.frameserver_note, c.noted ? no_properties_note(c.version) : "");
        EXPECT_EQ(r.out.substr(0, r.out.find('\n') + 1), c.header);
        const run_result version = run_tool({"--version"}, playing_interface(c.version));
        EXPECT_NE(lf_text(version.out).find("interface version: " + std::to_string(c.version) + "\n"),
                  std::string::npos);
    }
}

TEST(Interface, WithoutChannelMasksAutoSaysItTakesTheUsualLayout)
{
    run_options classic;
    classic.frameserver = "standin-classic";
    const std::string script = write_script("six.avs", "BlankClip(length=5, fps=25, audio_rate=48000, channels=6)\n");
    const run_result r = run_tool({"--channel-mask=auto", "audio", script}, classic);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("clipspout [info]: the frame server keeps no channel mask (AviSynth+ does from 3.7.3): "
                         "--channel-mask=auto takes the usual layout for 6 channels.\n"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(static_cast<unsigned char>(r.out[40]), 0x3F);
    // A mask given as a number needs nothing of the frame server.
    const run_result given = run_tool({"--channel-mask=0x3F", "audio", script}, classic);
    EXPECT_EQ(given.err.find("keeps no channel mask"), std::string::npos) << given.err;
}
