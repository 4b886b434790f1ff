#include <gtest/gtest.h>

#include "reports/info_report.h"

TEST(VideoDuration, TruncatesAndSurvivesEdgeRates)
{
    EXPECT_EQ(video_duration_seconds(100, 24000, 1001), 4u);
    EXPECT_EQ(video_duration_seconds(2147483647, 1, 4294967295u), 2147483647ull * 4294967295ull);
    EXPECT_EQ(video_duration_seconds(100, 0, 1), 0u);
    EXPECT_EQ(video_duration_seconds(100, 0, 0), 0u);
    EXPECT_EQ(video_duration_seconds(-5, 25, 1), 0u);
    EXPECT_EQ(video_duration_seconds(0, 25, 1), 0u);
}
