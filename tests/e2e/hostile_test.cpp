// Hostile scripts against the stand-in (see hostile_cases.h).

#include <gtest/gtest.h>

#include "hostile_cases.h"

TEST(Hostile, PropertiesNoTargetCanHoldAreLeftOutAndSaid)
{
    check_hostile_properties(run_options());
}

TEST(Hostile, TimesTooFineOrTooLongForTheStream)
{
    check_hostile_timing(run_options());
}

TEST(Hostile, NoFramesAClipInAPropertyAndClosedStandardStreams)
{
    check_hostile_runs(run_options());
}

TEST(Hostile, AFrameZeroThatFailsEndsEveryModeThatReadsIt)
{
    check_frame0_failures(run_options(), "StandinFault(frame=0)", "StandinFault: frame 0 cannot be delivered", true);
}
