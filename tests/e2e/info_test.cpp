// The info report on clips of every shape the stand-in can make.

#include <gtest/gtest.h>

#include "harness.h"

static std::string info_of(const std::string& name, const std::string& script)
{
    run_result r = run_tool({"info", write_script(name, script)});
    EXPECT_EQ(r.status, 0) << script << r.err;
    EXPECT_EQ(r.err, "") << script;
    // The report is text: compare it in "\n" form on every platform.
    EXPECT_EQ(r.out, platform_text(lf_text(r.out))) << "not the platform's text line ends";
    return lf_text(r.out);
}

TEST(Info, VideoAndAudioSections)
{
    EXPECT_EQ(info_of("yv12.avs", "BlankClip(length=100, width=640, height=480, pixel_type=\"YV12\", fps=25)\n"),
              "v:width       640\n"
              "v:height      480\n"
              "v:fps         25/1\n"
              "v:frames      100\n"
              "v:duration    4\n"
              "v:interlaced  no\n"
              "v:pixel_type  a0000008\n"
              "a:sample_rate 44100\n"
              "a:format      pcm\n"
              "a:bit_depth   16\n"
              "a:channels    1\n"
              "a:samples     176400\n"
              "a:duration    4\n");

    EXPECT_EQ(info_of("video_only.avs",
                      "BlankClip(length=100, width=720, height=480, pixel_type=\"YUY2\", fps=24000, "
                      "fps_denominator=1001)\nKillAudio()\n"),
              "v:width       720\n"
              "v:height      480\n"
              "v:fps         24000/1001\n"
              "v:frames      100\n"
              "v:duration    4\n"
              "v:interlaced  no\n"
              "v:pixel_type  60000004\n");

    EXPECT_EQ(info_of("audio_only.avs",
                      "BlankClip(length=100, fps=25, audio_rate=48000, channels=6, sample_type=\"24bit\")\n"
                      "KillVideo()\n"),
              "a:sample_rate 48000\n"
              "a:format      pcm\n"
              "a:bit_depth   24\n"
              "a:channels    6\n"
              "a:samples     192000\n"
              "a:duration    4\n");

    EXPECT_EQ(info_of("neither.avs", "BlankClip(audio_rate=0).KillVideo()\n"), "");
}

TEST(Info, SampleTypes)
{
    const char* cases[][3] = {
        {"8bit", "pcm", "8"},   {"16bit", "pcm", "16"},   {"24bit", "pcm", "24"},
        {"32bit", "pcm", "32"}, {"float", "float", "32"},
    };
    for (const auto& c : cases) {
        std::string out = info_of(std::string("sample_") + c[0] + ".avs",
                                  std::string("BlankClip(sample_type=\"") + c[0] + "\").KillVideo()\n");
        EXPECT_NE(out.find(std::string("a:format      ") + c[1] + "\na:bit_depth   " + c[2] + "\n"),
                  std::string::npos)
            << out;
    }
}

TEST(Info, FieldOrderIsReadBitByBit)
{
    const char* cases[][2] = {
        {"AssumeFieldBased()", "tff"},
        {"AssumeFieldBased().AssumeTFF()", "tff"},
        {"AssumeFieldBased().AssumeBFF()", "bff"},
        {"AssumeTFF()", "no"},  // top-field-first alone is not interlaced
        {"AssumeBFF()", "no"},
        {"AssumeFieldBased().AssumeBFF().AssumeFrameBased()", "no"},
    };
    int n = 0;
    for (const auto& c : cases) {
        std::string out = info_of("field" + std::to_string(n++) + ".avs", std::string("BlankClip()\n") + c[0] + "\n");
        EXPECT_NE(out.find(std::string("v:interlaced  ") + c[1] + "\n"), std::string::npos) << c[0] << "\n" << out;
    }
}

TEST(Info, LongClipsNeedSixtyFourBits)
{
    // 2e9 frames at 1/1001 fps: the duration product and the sample count
    // are both far beyond 32 bits.
    EXPECT_EQ(info_of("long.avs",
                      "BlankClip(length=2000000000, width=16, height=16, pixel_type=\"Y8\", fps=1, "
                      "fps_denominator=1001, audio_rate=48000)\n"),
              "v:width       16\n"
              "v:height      16\n"
              "v:fps         1/1001\n"
              "v:frames      2000000000\n"
              "v:duration    2002000000000\n"
              "v:interlaced  no\n"
              "v:pixel_type  e0000000\n"
              "a:sample_rate 48000\n"
              "a:format      pcm\n"
              "a:bit_depth   16\n"
              "a:channels    1\n"
              "a:samples     96096000000000000\n"
              "a:duration    2002000000000\n");
}
