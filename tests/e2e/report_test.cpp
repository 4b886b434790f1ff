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
    const std::string script = write_script("reports/fault.avs", "BlankClip(length=30, width=64, height=48, "
                                                                 "pixel_type=\"YV12\", fps=25)\nStandinFault(frame=7)\n");
    // What was measured is reported, marked as cut short, and the run fails.
    const run_result r = run_tool({"meter", script});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.out.find("frames        7 (0 to 6)\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("cut short     frame 7: StandinFault: frame 7 cannot be delivered (7 of 30 frames fetched)\n"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.err.find("clipspout [warn]: frame 7: StandinFault: frame 7 cannot be delivered\n"), std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("clipspout [error]: only fetched 7 of 30 frames.\n"), std::string::npos) << r.err;
    const run_result json = run_tool({"--json", "meter", script});
    EXPECT_EQ(json.status, 2);
    EXPECT_EQ(json_field(json.out, "[.fetched, .total, .interrupted, .error]"),
              "[7,30,false,\"frame 7: StandinFault: frame 7 cannot be delivered\"]")
        << json.out;
    EXPECT_EQ(meter_figures_disagree(json.out), "") << json.out;
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
