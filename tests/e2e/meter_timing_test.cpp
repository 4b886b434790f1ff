// What meter measures of a real AviSynth+ script: the processors its
// Prefetch keeps busy, the stretch where it is slow, the memory its cache
// holds. Timings: these tests run alone (RUN_SERIAL), on a machine with two
// processors or more.

#include <gtest/gtest.h>

#include <thread>

#include "report_cases.h"

namespace {

class MeterTiming : public testing::Test {
protected:
    void SetUp() override
    {
        if (real_frameserver().empty())
            GTEST_SKIP() << "no real frame server: CLIPSPOUT_TEST_REAL_FRAMESERVER is not set";
        if (testing_windows_build())
            GTEST_SKIP() << "timings under Wine say more of Wine than of the script";
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
    const run_result r = run_tool({"--json", "meter", write_script("timing/" + name + ".avs", script)},
                                  on_real_server());
    EXPECT_EQ(r.status, 0) << r.err;
    return r.out;
}

}  // namespace

TEST_F(MeterTiming, PrefetchKeepsTwoProcessorsBusy)
{
    if (std::thread::hardware_concurrency() < 2)
        GTEST_SKIP() << "one processor: nothing to keep busy beside it";
    // Work a frame that no cache can spare: blurs of a picture that changes.
    const std::string work = "ColorBars(width=1280, height=720, pixel_type=\"YV12\").Trim(0, 159)"
                             ".Animate(0, 159, \"Levels\", 0, 1.0, 255, 0, 255, 0, 1.0, 255, 160, 255)"
                             ".Blur(1.0).Blur(1.0).Blur(1.0).Blur(1.0).Blur(1.0).Blur(1.0)";
    const std::string alone = metered("alone", work + "\n");
    const std::string prefetched = metered("prefetched", work + ".Prefetch(2)\n");
    EXPECT_LT(number(alone, ".busy_cores"), 1.3) << alone;
    EXPECT_GT(number(alone, ".busy_cores"), 0.5) << alone;
    EXPECT_GT(number(prefetched, ".busy_cores"), 1.4) << prefetched;
    EXPECT_EQ(number(prefetched, ".frame_server.threadpool_threads") >= 2, true) << prefetched;
    EXPECT_GT(number(prefetched, ".per_second"), number(alone, ".per_second") * 1.3);
}

TEST_F(MeterTiming, TheSlowStretchShowsWhereItIs)
{
    // Frames 100 to 119 take forty blurs of 1280x720, the others two: a
    // stretch far slower than any hiccup of the machine. (Frame 0 is slow
    // too, as any first frame: the filters' first work.)
    std::string blurs;
    for (int i = 0; i < 40; ++i)
        blurs += ".Blur(1.0)";
    const std::string log = write_script("timing/stretch.csv", "");
    const run_result r = run_tool({"--json", "--log", log, "meter",
                                   write_script("timing/stretch.avs",
                                                "ColorBars(width=1280, height=720, pixel_type=\"YV12\").Trim(0, "
                                                "199).Blur(1.0).Blur(1.0)\nScriptClip(\"\"\"current_frame >= 100 "
                                                "&& current_frame <= 119 ? last" + blurs + " : last\"\"\")\n")},
                                  on_real_server());
    ASSERT_EQ(r.status, 0) << r.err;
    // The twenty slowest after frame 0 are the stretch.
    EXPECT_EQ(shell("tail -n +3 '" + log + "' | sort -t, -k3 -g -r | head -n 20 | cut -d, -f1 | sort -n | "
                    "tr '\\n' ' '"),
              "100 101 102 103 104 105 106 107 108 109 110 111 112 113 114 115 116 117 118 119 ");
    // 200 frames in 60 columns: frames 100 to 119 fill columns 30 to 35,
    // whose blocks are the lowest two; of the others, a hiccup or the first
    // frame may lower one or two.
    int inside = -1, outside = -1;
    sscanf(json_field(r.out, "[.speed_picture | explode | to_entries[] | select(.value <= 9602) | .key] | "
                             "[map(select(. >= 30 and . <= 35)) | length, map(select(. < 30 or . > 35)) | length]")
               .c_str(),
           "[%d,%d]", &inside, &outside);
    EXPECT_EQ(inside, 6) << r.out;
    EXPECT_LE(outside, 2) << r.out;
}

TEST_F(MeterTiming, PeakMemoryFollowsWhatTheCacheHolds)
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

TEST_F(MeterTiming, ItsSpeedIsWhatItsRunTimedFromOutsideTakes)
{
    // From outside, a mode's frames take what its run takes less what
    // info's takes: the same start, loading and script, and no frames. The
    // meter's own clock must see that time, and video, which fetches the
    // same frames and writes them too, can be no faster.
    const std::string script = write_script("timing/outside.avs", "ColorBars(width=1280, height=720, "
                                                                  "pixel_type=\"YV12\").Trim(0, 239).Blur(1.0)"
                                                                  ".Blur(1.0).Blur(1.0).Blur(1.0)\n");
    const double fps = number(metered("outside", read_file(script)), ".per_second");
    auto seconds = [&](const std::string& mode) {
        return strtod(shell("start=$(date +%s.%N); " + tool_command(on_real_server()) + " " + mode + " '" + script +
                            "' >/dev/null 2>&1; awk \"BEGIN { print $(date +%s.%N) - $start }\"")
                          .c_str(),
                      nullptr);
    };
    const double start = seconds("info");
    const double meter = 240 / (seconds("meter") - start), video = 240 / (seconds("video") - start);
    EXPECT_GT(fps, meter * 0.8) << fps << " fps against " << meter << " from outside";
    EXPECT_LT(fps, meter * 1.25) << fps << " fps against " << meter << " from outside";
    EXPECT_GT(fps, video * 0.9) << fps << " fps against video's " << video;
}
