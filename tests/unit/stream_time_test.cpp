#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "writers/stream_time.h"

namespace {

using durations = std::vector<std::pair<int64_t, int64_t>>;

// The durations FFMS2 gives a film whose container stored its frames'
// times rounded: pts n is round(n x frame x timebase), each frame lasts the
// difference to the next, in lowest terms (as FFMS2 reduces them).
durations rounded(int64_t fps_num, int64_t fps_den, int64_t timebase, int frames, int64_t offset = 0)
{
    auto pts = [&](int64_t n) { return ((n * fps_den + offset) * timebase * 2 / fps_num + 1) / 2; };
    durations out;
    for (int n = 0; n < frames; ++n) {
        int64_t num = pts(n + 1) - pts(n), den = timebase;
        reduce_fraction(&num, &den);
        out.emplace_back(num, den);
    }
    return out;
}

durations repeated(const durations& cycle, int frames)
{
    durations out;
    for (int n = 0; n < frames; ++n)
        out.push_back(cycle[static_cast<size_t>(n) % cycle.size()]);
    return out;
}

}  // namespace

TEST(StreamTime, DurationsKeepTheRateWithinTheirSourcesRounding)
{
    const struct {
        const char* what;
        unsigned fps_num, fps_den;
        durations frames;
        bool keeps;
        long double tick;
    } cases[] = {
        {"24000/1001 in Matroska's milliseconds (41 and 42)", 24000, 1001, rounded(24000, 1001, 1000, 8), true, 0.001L},
        {"30000/1001 in milliseconds (33 and 34)", 30000, 1001, rounded(30000, 1001, 1000, 8), true, 0.001L},
        {"25 in milliseconds: exact", 25, 1, rounded(25, 1, 1000, 8), true, 0.001L},
        {"24000/1001 in MPEG-TS's 90 kHz, from 1.4 s on", 24000, 1001, rounded(24000, 1001, 90000, 8, 126000 * 1001 / 90),
         true, 1.0L / 90000},
        {"24000/1001 in MP4's own timescale: exact", 24000, 1001, repeated({{1001, 24000}}, 8), true, 1.0L / 24000},
        {"one frame", 24000, 1001, rounded(24000, 1001, 1000, 1), true, 0.001L},
        // Not the rate: never taken for it.
        {"a 25 fps source retimed to 24000/1001", 24000, 1001, repeated({{1, 25}}, 8), false, 0},
        {"42 ms every frame drifts from 41.708", 24000, 1001, repeated({{21, 500}}, 8), false, 0},
        {"33, 50 and 17 ms: a variable rate", 100000, 3361, repeated({{33, 1000}, {1, 20}, {17, 1000}}, 8), false, 0},
        {"a tick coarser than a millisecond is not rounding", 24, 1, repeated({{1, 25}}, 1), false, 0},
        {"a frame of no duration", 25, 1, repeated({{0, 1}}, 2), false, 0},
        {"no rate", 0, 1, repeated({{1, 25}}, 2), false, 0},
        {"no frames", 25, 1, {}, false, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const rate_fit fit = durations_keep_rate(c.fps_num, c.fps_den, c.frames);
        EXPECT_EQ(fit.keeps_rate, c.keeps);
        if (c.keeps) {
            EXPECT_NEAR(static_cast<double>(fit.tick), static_cast<double>(c.tick), 1e-12);
        }
    }
}

TEST(StreamTime, DistanceFromTheRate)
{
    exact_time start;
    ASSERT_TRUE(add_time(start, 83, 1000));
    EXPECT_NEAR(static_cast<double>(distance_from_rate(start, 2, 24000, 1001)), 0.000416667, 1e-9);
    ASSERT_TRUE(add_time(start, 1, 10));
    EXPECT_NEAR(static_cast<double>(distance_from_rate(start, 3, 24000, 1001)), 0.057875, 1e-9);
}

TEST(StreamTime, TimesPastWhatAStreamCanSayAreTooLongOrTooFine)
{
    const struct {
        const char* what;
        int64_t start_num, start_den, num, den;
        long double last_second;
        const char* reason;  // a piece of it; null: it fits
    } cases[] = {
        {"a film in Matroska", 0, 1, 1001, 24000, MATROSKA_LAST_SECOND, nullptr},
        {"the last nanosecond Matroska holds", 9223372036, 1, 854775807, 1000000000, MATROSKA_LAST_SECOND, nullptr},
        {"a nanosecond past it", 9223372036, 1, 854775808, 1000000000, MATROSKA_LAST_SECOND, "too long"},
        {"10^13 s in Matroska", 0, 1, 10000000000000, 1, MATROSKA_LAST_SECOND, "too long"},
        {"10^13 s in the timecodes", 0, 1, 10000000000000, 1, TIMECODES_LAST_SECOND, nullptr},
        {"10^16 s in the timecodes", 0, 1, 10000000000000000, 1, TIMECODES_LAST_SECOND, "too long"},
        {"denominators past 64 bits", 1, 2147483647, 1, 2147483629, MATROSKA_LAST_SECOND, "too fine"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        exact_time time;
        time.num = c.start_num;
        time.den = c.start_den;
        const exact_time before = time;
        const std::string reason = add_stream_time(time, c.num, c.den, c.last_second);
        if (!c.reason) {
            EXPECT_EQ(reason, "");
        } else {
            EXPECT_NE(reason.find(c.reason), std::string::npos) << reason;
            EXPECT_EQ(time.num, before.num) << "a time that does not fit is left as it was";
            EXPECT_EQ(time.den, before.den);
        }
    }
    // Before a stream starts: frames, or samples, past the last second.
    EXPECT_EQ(check_clip_length(100, 1001, 24000, 48000 * 5, 48000, MATROSKA_LAST_SECOND), "");
    EXPECT_NE(check_clip_length(3, 10000000000000, 1, 0, 0, MATROSKA_LAST_SECOND).find("too long"), std::string::npos);
    EXPECT_NE(check_clip_length(0, 1, 25, INT64_MAX, 1, MATROSKA_LAST_SECOND).find("too long"), std::string::npos);
}
