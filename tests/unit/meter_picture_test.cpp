#include <gtest/gtest.h>

#include <vector>

#include "reports/meter_report.h"

namespace {

// The ASCII picture of per-frame times: "_" slowest to "#" fastest.
std::string picture_of(const std::vector<float>& ms)
{
    return speed_picture(ms.data(), ms.size(), true);
}

}  // namespace

TEST(MeterPicture, AFewFastColumnsDoNotFlattenTheRest)
{
    const struct {
        const char* what;
        std::vector<float> ms;
        const char* picture;
    } cases[] = {
        // A film at 10 ms a frame whose last frames come from the source's
        // cache in 0.2 ms: the film is at the top, not at the bottom.
        {"cached last frames", [] {
             std::vector<float> ms(60, 10.0f);
             ms[58] = ms[59] = 0.2f;
             return ms;
         }(),
         "############################################################"},
        // A slow stretch in the middle shows as such.
        {"a slow middle", [] {
             std::vector<float> ms(60, 10.0f);
             for (int i = 20; i < 30; ++i)
                 ms[i] = 40.0f;
             return ms;
         }(),
         "####################..........##############################"},
        {"an even rate", std::vector<float>(10, 5.0f), "##########"},
        {"frames of no time", std::vector<float>(4, 0.0f), "####"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(picture_of(c.ms), c.picture);
    }
}
