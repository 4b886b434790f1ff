#include <gtest/gtest.h>

#include "common/diag.h"

TEST(Diag, TagsPrefixesAndTheSummaryCarriageReturn)
{
    testing::internal::CaptureStderr();
    diag_print(DIAG_WARN, "w %d\n", 1);
    diag_print(DIAG_INFO, "i %s\n", "two");
    diag_print(DIAG_SUMMARY, "s\n");
    diag_print(7, "odd level\n");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "clipspout [warn]: w 1\n"
                                                      "clipspout [info]: i two\n"
                                                      "\rclipspout [info]: s\n"
                                                      "clipspout [unknown]: odd level\n");
}

TEST(Diag, ErrorEndsTheProcessWithStatusTwo)
{
    EXPECT_EXIT(diag_print(DIAG_ERROR, "clip has no audio.\n"), testing::ExitedWithCode(2),
                "^clipspout \\[error\\]: clip has no audio\\.\n$");
}

TEST(Diag, OneLineJoinsTheFrameServersLines)
{
    EXPECT_EQ(one_line("Script error: syntax error\n(a.avs, line 3)\n"), "Script error: syntax error (a.avs, line 3)");
    EXPECT_EQ(one_line("first\r\nsecond"), "first second");
    EXPECT_EQ(one_line(""), "");
}
