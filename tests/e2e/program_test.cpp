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

// A file the script holds open, as a source plugin holds the film it reads,
// is no output: each option that names it is refused before a byte, and
// the file keeps every byte. The same file closed again is written.
TEST(Program, NoOutputIsWrittenOverAFileTheScriptHoldsOpen)
{
    const std::string source = write_script("held/film.mkv", "the film the script reads");
    const std::string script = write_script("held/s.avs", "StandinHold(\"" + server_path(source) +
                                                              "\")\nBlankClip(length=2, width=32, height=16)\n");
    const struct {
        std::vector<std::string> options;
        const char* mode;
    } cases[] = {
        {{"-o", source}, "video"},
        {{"--output=" + source}, "audio"},
        {{"-o", source}, "mkv"},
        {{"--timecodes", source}, "video"},
        {{"--frame-props", source}, "mkv"},
        {{"--log", source}, "meter"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.options[0] + " " + c.mode);
        std::vector<std::string> args = c.options;
        args.insert(args.end(), {c.mode, script});
        const run_result r = run_tool(args);
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.out, "");
        const std::string option = c.options[0].substr(0, c.options[0].find('='));
        EXPECT_NE(r.err.find("clipspout [error]: " + (option == "--output" ? std::string("-o") : option) + " names \"" +
                             source + "\", a file that is open as the script runs (a source it reads): writing would "
                                      "destroy it.\n"),
                  std::string::npos)
            << r.err;
        EXPECT_EQ(read_file(source), "the film the script reads");
    }
    const std::string closed = write_script("held/closed.avs", "BlankClip(length=2, width=32, height=16)\n");
    const run_result r = run_tool({"-o", source, "video", closed});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(read_file(source).rfind("YUV4MPEG2 ", 0), 0u);
}
