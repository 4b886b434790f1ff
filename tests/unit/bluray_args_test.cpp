#include <gtest/gtest.h>

#include "reports/bluray_args.h"

namespace {

AVS_VideoInfo clip(int width, int height, unsigned num, unsigned den, int image_type = 0)
{
    AVS_VideoInfo vi{};
    vi.width = width;
    vi.height = height;
    vi.fps_numerator = num;
    vi.fps_denominator = den;
    vi.num_frames = 100;
    vi.image_type = image_type;
    return vi;
}

std::string line(int keyint, int ref, const std::string& extra, const std::string& colour)
{
    return "--weightp 1 --bframes 3 --nal-hrd vbr --vbv-maxrate 15000 --vbv-bufsize 30000 --level 4.1 --keyint " +
           std::to_string(keyint) + " --b-pyramid strict --open-gop --bluray-compat --slices 4 --ref " +
           std::to_string(ref) + " " + extra + " --aud --colorprim \"" + colour + "\" --transfer \"" + colour +
           "\" --colormatrix \"" + colour + "\"";
}

const int FIELD_BASED = 4, BFF = 1, TFF = 2;

}  // namespace

TEST(BlurayArgs, SupportedCombinations)
{
    struct {
        AVS_VideoInfo vi;
        std::string expected;
    } cases[] = {
        {clip(1920, 1080, 24000, 1001), line(24, 4, "", "bt709")},
        {clip(1440, 1080, 24000, 1001), line(24, 4, "", "bt709")},
        {clip(1920, 1080, 2997, 125), line(24, 4, "", "bt709")},
        {clip(1920, 1080, 30000, 1001, FIELD_BASED | BFF), line(30, 4, "--bff", "bt709")},
        {clip(1920, 1080, 30, 1, FIELD_BASED), line(30, 4, "--tff", "bt709")},
        {clip(1920, 1080, 25, 1), line(25, 4, "--fake-interlaced --pic-struct", "bt709")},
        {clip(1280, 720, 25, 1), line(25, 6, "--pulldown double", "bt709")},
        {clip(1280, 720, 2997, 50), line(60, 6, "", "bt709")},
        {clip(720, 480, 30000, 1001), line(30, 6, "--pulldown 32 --fake-interlaced", "smpte170m")},
        {clip(720, 576, 25, 1, FIELD_BASED | TFF), line(25, 6, "--tff", "bt470bg")},
        // Audio channel-mask bits above the field bits change nothing.
        {clip(720, 576, 25, 1, FIELD_BASED | BFF | 0x7F8), line(25, 6, "--bff", "bt470bg")},
    };
    for (const auto& c : cases) {
        std::string args;
        EXPECT_TRUE(bluray_args_for(c.vi, &args)) << c.expected;
        EXPECT_EQ(args, c.expected);
    }
}

TEST(BlurayArgs, RefusedCombinations)
{
    const AVS_VideoInfo refused[] = {
        clip(1920, 1080, 30, 1),               // 1080p30 is not a Blu-ray mode
        clip(1280, 720, 60000, 1001, FIELD_BASED),
        clip(720, 576, 50, 1),
        clip(1920, 1080, 23976, 1000),         // not one of the listed forms of 23.976
        clip(1920, 1088, 24, 1),
        clip(0, 0, 0, 0),                      // no video
        // Would collide with 24000/1001 and 1920x1080 in a packed 32-bit key.
        clip(1920, 1080, 24000 + 65536, 1001),
        clip(1920, 1080, 24000, 1001 | 65536),
        clip(1920 + 65536, 1080, 24, 1),
    };
    for (const AVS_VideoInfo& vi : refused) {
        std::string args = "untouched";
        EXPECT_FALSE(bluray_args_for(vi, &args)) << vi.width << "x" << vi.height << " " << vi.fps_numerator << "/"
                                                  << vi.fps_denominator;
        EXPECT_EQ(args, "untouched");
    }
}
