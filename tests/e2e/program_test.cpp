// The tool starting the stream's reader itself, against the stand-in (see
// program_cases.h).

#include <gtest/gtest.h>

#include "program_cases.h"

TEST(Program, EveryArgumentAndEveryByteReachTheProgram)
{
    check_program_arguments(run_options());
}

TEST(Program, EncodersStartedByTheToolWriteWhatAShellPipeGivesThem)
{
    if (testing_windows_build())
        GTEST_SKIP() << "the encoders here are Linux programs, which a Windows tool cannot start";
    check_program_encoders(run_options());
}

TEST(Program, FailuresOfTheProgramAreSaidAndEndWithStatusTwo)
{
    check_program_failures(run_options());
}

TEST(Program, OutputFileUsageErrorsAndTellingTheEncoder)
{
    check_output_and_telling(run_options());
}

TEST(Program, NoOutputIsWrittenOverTheScriptOrAnotherOutput)
{
    check_outputs_that_would_overwrite(run_options());
}

TEST(Program, CtrlCStopsAfterAWholeFrameAndTheEncoderFinishes)
{
    if (testing_windows_build())
        GTEST_SKIP() << "a console control event cannot be sent to a program under Wine from here";
    check_interrupts(run_options());
}

TEST(Program, WindowsNamedPipeAndProgramsOnPath)
{
    if (!testing_windows_build())
        GTEST_SKIP() << "named pipes of the form \\\\.\\pipe\\NAME and PATHEXT are Windows'";
    check_windows_roads(run_options());
}
