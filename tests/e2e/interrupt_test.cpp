// Signals at every moment, against the stand-in (see interrupt_cases.h).

#include <gtest/gtest.h>

#include "interrupt_cases.h"

TEST(Interrupt, SignalsAtEveryMoment)
{
    if (testing_windows_build())
        GTEST_SKIP() << "POSIX signals; Windows' console control events are not sent under Wine";
    check_signals_at_every_moment(run_options(), "StandinPause(1500)", "standin: pausing");
}
