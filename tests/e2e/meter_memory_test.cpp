// The memory meter sees a real AviSynth+ script hold: what its cache keeps.
// Memory is the process's own, whatever else the machine runs; the cache
// grows to hundreds of megabytes, so these tests run alone (RUN_SERIAL).
// How fast a script runs, and how many processors it keeps busy, depend on
// the machine's other work: bench/run.sh --only meter measures those.

#include <gtest/gtest.h>

#include "report_cases.h"

namespace {

class MeterMemory : public testing::Test {
protected:
    void SetUp() override
    {
        if (real_frameserver().empty())
            GTEST_SKIP() << "no real frame server: CLIPSPOUT_TEST_REAL_FRAMESERVER is not set";
        if (testing_windows_build())
            GTEST_SKIP() << "Wine's own memory would be counted with the script's";
    }
};

run_options on_real_server()
{
    run_options options;
    options.frameserver = real_frameserver();
    return options;
}

double number(const std::string& json, const std::string& path)
{
    return strtod(json_field(json, path).c_str(), nullptr);
}

std::string metered(const std::string& name, const std::string& script)
{
    const run_result r = run_tool({"--json", "meter", write_script("memory/" + name + ".avs", script)},
                                  on_real_server());
    EXPECT_EQ(r.status, 0) << r.err;
    return r.out;
}

}  // namespace

TEST_F(MeterMemory, PeakMemoryFollowsWhatTheCacheHolds)
{
    // Big frames that differ, forwards, backwards and forwards again: the
    // second pass asks again for what the first fetched, so the cache grows
    // to its limit, 64 MB or 256 MB. Frames fetched once are not kept, so a
    // clip three times as long needs no more.
    auto clip = [](int frames, int megabytes) {
        const std::string last = std::to_string(frames - 1);
        return "SetMemoryMax(" + std::to_string(megabytes) + ")\nc = ColorBars(width=1920, height=1080, "
               "pixel_type=\"YV24\").Trim(0, " + last + ").Animate(0, " + last +
               ", \"Levels\", 0, 1.0, 255, 0, 255, 0, 1.0, 255, 200, 255)\nc + c.Reverse() + c\n";
    };
    const double small = number(metered("small", clip(100, 64)), ".peak_memory_mb");
    const double longer = number(metered("longer", clip(300, 64)), ".peak_memory_mb");
    const double large = number(metered("large", clip(100, 256)), ".peak_memory_mb");
    EXPECT_GT(large, small + 100) << "a larger cache holds more frames";
    EXPECT_LT(small, 64 + 60) << "the cache keeps to its limit";
    EXPECT_LT(large, 256 + 60) << "the cache keeps to its limit";
    EXPECT_LT(longer, small * 1.25 + 10) << "memory stays flat however long the clip";
}
