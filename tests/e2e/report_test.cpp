// meter, --json and --frame-props against the stand-in (see
// report_cases.h).

#include <gtest/gtest.h>

#include "report_cases.h"

TEST(Reports, InfoAsJsonWhateverThePropertiesHold)
{
    check_info_json(run_options());
}

TEST(Reports, MeterFetchesEveryFrameAndSaysHowFast)
{
    check_meter(run_options());
    check_meter_of_no_frames(run_options());
}

TEST(Reports, MeterSaysWhereTheServerCannotDeliver)
{
    check_meter_cut_short_by_a_frame(run_options(), "StandinFault(frame=7)", "StandinFault: frame 7 cannot be delivered");
}

TEST(Reports, MeterTimesEachFrameWhereTheServerIsSlow)
{
    // A source's first seek is slow; the first frame is where users meet it,
    // so nothing the tool does before the loop may take it out of the count.
    for (const int slow : {0, 7, 29}) {
        SCOPED_TRACE(slow);
        const std::string script = write_script(
            "reports/slow.avs", "BlankClip(length=30, width=64, height=48, pixel_type=\"YV12\", fps=25)\n"
                                "StandinFault(slow=" + std::to_string(slow) + ")\n");
        const run_result r = run_tool({"--json", "meter", script});
        ASSERT_EQ(r.status, 0) << r.err;
        // The stand-in holds that frame for 60 ms of wall time, however busy
        // the machine: far more than a frame of the tiny clip waits when
        // another process takes its processor for a while.
        EXPECT_EQ(json_field(r.out, ".delivery_ms.slowest_at"), std::to_string(slow)) << r.out;
        EXPECT_EQ(json_field(r.out, ".delivery_ms.slowest >= 60"), "true") << r.out;
        EXPECT_EQ(meter_figures_disagree(r.out), "") << r.out;
    }
}
