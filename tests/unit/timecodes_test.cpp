#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "writers/timecodes.h"

namespace {

// Runs frames of the given durations through a timecodes file; its lines.
std::vector<std::string> lines_for(const std::vector<std::pair<int64_t, int64_t>>& durations)
{
    FILE* file = tmpfile();
    timecodes_file timecodes;
    timecodes_begin(timecodes, file, "test");
    for (const auto& d : durations)
        timecodes_add_frame(timecodes, d.first, d.second);
    fflush(file);
    rewind(file);
    std::vector<std::string> lines;
    char line[128];
    while (fgets(line, sizeof line, file))
        lines.push_back(std::string(line, strcspn(line, "\n")));
    EXPECT_TRUE(timecodes_end(timecodes));
    return lines;
}

}  // namespace

TEST(Timecodes, MillisecondsWithSixDecimalsRounded)
{
    EXPECT_EQ(milliseconds_text(0, 1), "0.000000");
    EXPECT_EQ(milliseconds_text(1001, 24000), "41.708333");
    EXPECT_EQ(milliseconds_text(2, 3), "666.666667");
    EXPECT_EQ(milliseconds_text(7, 2), "3500.000000");
    // Rounding carries into the whole milliseconds and seconds.
    EXPECT_EQ(milliseconds_text(9999999995, 10000000000), "1000.000000");
    EXPECT_EQ(milliseconds_text(1999999999, 1000000000000), "2.000000");
}

TEST(Timecodes, AnHourOf24000Over1001NeverDrifts)
{
    std::vector<std::pair<int64_t, int64_t>> durations(86314, {1001, 24000});
    std::vector<std::string> lines = lines_for(durations);
    ASSERT_EQ(lines.size(), 86315u);
    EXPECT_EQ(lines[0], "# timestamp format v2");
    EXPECT_EQ(lines[1], "0.000000");
    EXPECT_EQ(lines[2], "41.708333");
    // Frame 86313 starts at 86313 x 1001 / 24 ms, exactly.
    EXPECT_EQ(lines.back(), "3599971.375000");
}

TEST(Timecodes, MixedDurationsAddUpExactly)
{
    // 33 ms, 1001/30000 s, 1/3 s, then 1/60 s: starts at 0, 33, 66.366..., 399.7, 416.366...
    std::vector<std::string> lines = lines_for({{33, 1000}, {1001, 30000}, {1, 3}, {1, 60}, {1, 60}});
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines[1], "0.000000");
    EXPECT_EQ(lines[2], "33.000000");
    EXPECT_EQ(lines[3], "66.366667");
    EXPECT_EQ(lines[4], "399.700000");
    EXPECT_EQ(lines[5], "416.366667");
}
