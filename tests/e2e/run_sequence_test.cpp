// Command line, script import and frame-server loading, end to end.

#include <gtest/gtest.h>

#include <cstdio>

#include "harness.h"

TEST(RunSequence, UnacceptableArgumentsPrintUsageWithoutTouchingTheFrameServer)
{
    std::string script = write_script("usage.avs", "BlankClip()\n");
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"info"},
        {"info", script, "extra"},
        {"x264", script},
        {"Audio", script},
        {"VIDEO", script},
        {"", script},
        {"info ", script},
    };
    run_options no_frame_server;
    no_frame_server.frameserver = NO_FRAMESERVER;
    for (const auto& args : cases) {
        run_result r = run_tool(args, no_frame_server);
        EXPECT_EQ(r.status, 2) << testing::PrintToString(args);
        EXPECT_EQ(r.err, USAGE_TEXT) << testing::PrintToString(args);
        EXPECT_EQ(r.out, "") << testing::PrintToString(args);
    }
}

TEST(RunSequence, ScriptWithoutAClipIsRefused)
{
    const char not_a_clip[] = "clipspout [error]: avs files return value is not a clip.\n";
    struct {
        const char* script;
        std::string expected_err;
    } cases[] = {
        {"42\n", not_a_clip},
        {"\"just a string\"\n", not_a_clip},
        {"# nothing but a comment\n", not_a_clip},
        {"BlankClip()\nNoSuchFilter()\n",
         "clipspout [warn]: Script error: There is no function named 'NoSuchFilter'. (@, line 2)\n" +
             std::string(not_a_clip)},
        {"BlankClip(width=\"wide\")\n",
         "clipspout [warn]: Script error: Invalid arguments to function 'BlankClip'. (@, line 1)\n" +
             std::string(not_a_clip)},
        {"BlankClip(\n", "clipspout [warn]: Script error: syntax error (@, line 1)\n" + std::string(not_a_clip)},
    };
    int n = 0;
    for (const auto& c : cases) {
        std::string path = write_script("notclip" + std::to_string(n++) + ".avs", c.script);
        std::string expected = c.expected_err;
        size_t at = expected.find('@');
        if (at != std::string::npos)
            expected.replace(at, 1, path);
        run_result r = run_tool({"info", path});
        EXPECT_EQ(r.status, 2) << c.script;
        EXPECT_EQ(r.err, expected) << c.script;
        EXPECT_EQ(r.out, "");
    }

    run_result missing = run_tool({"info", "/nonexistent/missing.avs"});
    EXPECT_EQ(missing.status, 2);
    EXPECT_EQ(missing.err, "clipspout [warn]: Import: couldn't open \"" + server_path("/nonexistent/missing.avs") + "\"\n" +
                               std::string(not_a_clip));
}

TEST(RunSequence, FrameServerThatCannotServeIsAClearError)
{
    std::string script = write_script("loader.avs", "BlankClip()\n");
    const std::string library = frameserver_library();

    run_options absent;
    absent.frameserver = NO_FRAMESERVER;
    run_result r = run_tool({"info", script}, absent);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err.rfind("clipspout [error]: cannot load " + library + ": ", 0), 0u) << r.err;
    EXPECT_EQ(r.err.substr(r.err.size() - 2), ".\n");
    EXPECT_EQ(r.err.find('\n'), r.err.size() - 1);

    run_options incomplete;
    incomplete.frameserver = INCOMPLETE;
    r = run_tool({"info", script}, incomplete);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "clipspout [error]: cannot find avs_delete_script_environment in " + library + ".\n");

    run_options old_interface;
    old_interface.env = {"AVS_STANDIN_MAX_INTERFACE=3"};
    r = run_tool({"info", script}, old_interface);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "clipspout [error]: cannot create a script environment (interface version 4) with " + library +
                         ".\n");
    EXPECT_EQ(r.out, "");
}

TEST(RunSequence, LibraryPlantedInTheCurrentFolderIsNeverLoaded)
{
    std::string script = write_script("planted.avs", "BlankClip()\n");
    run_options planted;
    planted.cwd = build_folder(PLANTED);
    planted.frameserver = NO_FRAMESERVER;
    run_result r = run_tool({"info", script}, planted);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err.rfind("clipspout [error]: cannot load " + frameserver_library() + ": ", 0), 0u) << r.err;

    planted.frameserver = STANDIN;
    r = run_tool({"info", script}, planted);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_NE(r.out, "");
}

TEST(RunSequence, ReportLostToAFullDiskIsAFailure)
{
    std::string script = write_script("full.avs", "BlankClip()\n");
    run_options full;
    full.stdout_path = "/dev/full";
    run_result r = run_tool({"info", script}, full);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "clipspout [error]: cannot write to stdout.\n");
}

TEST(RunSequence, FolderOrEscapedExceptionEndsWithAnErrorNotACrash)
{
    std::string folder = write_script("a_folder.avs", "");
    std::remove(folder.c_str());
    ASSERT_EQ(shell("mkdir '" + folder + "' && echo made"), "made\n");
    for (const char* mode : {"info", "video", "audio", "x264bd"}) {
        run_result r = run_tool({mode, folder});
        EXPECT_EQ(r.status, 2) << mode;
        EXPECT_EQ(r.signal, 0) << mode;
        EXPECT_EQ(r.err, "clipspout [error]: cannot import \"" + folder + "\": it is a folder, not a script.\n");
        EXPECT_EQ(r.out, "");
    }

    if (frameserver_library() == "avisynth.dll")
        GTEST_SKIP() << "an exception cannot cross from the stand-in DLL's C++ runtime into the tool's";
    // Whatever else throws out of the frame server ends the same way.
    std::string script = write_script("escape.avs", "BlankClip(pixel_type=\"RGB32\")\n");
    const char* cases[][2] = {{"Import", "info"}, {"ConvertToYV24", "video"}};
    for (const auto& c : cases) {
        run_options escape;
        escape.env = {std::string("AVS_STANDIN_ESCAPE=") + c[0]};
        run_result r = run_tool({c[1], script}, escape);
        EXPECT_EQ(r.status, 2) << c[0];
        EXPECT_EQ(r.signal, 0) << c[0];
        EXPECT_NE(r.err.find("clipspout [error]: the frame server failed: cannot create std::vector larger than "
                             "max_size().\n"),
                  std::string::npos)
            << r.err;
        EXPECT_EQ(r.out, "");
    }
}

TEST(RunSequence, ScriptPathsOutsideTheAnsiCodePage)
{
    const char* script = "BlankClip(length=2, width=1280, height=720, pixel_type=\"YV12\", fps=25, audio_rate=8000)\n";
    {
        SCOPED_TRACE("a frame server whose Import takes utf8");
        expect_twins_agree(script);
    }
    run_options old_server;
    old_server.env = {"AVS_STANDIN_NO_UTF8=1"};
    {
        SCOPED_TRACE("a frame server without it: the short path");
        expect_twins_agree(script, old_server);
    }

    // A path with neither road (no file, so no short name) is refused by the
    // tool on Windows; elsewhere every path goes to the frame server as bytes.
    std::string missing = write_script("日本語_Кириллица/gone.avs", "");
    std::remove(missing.c_str());
    run_result r = run_tool({"info", missing}, old_server);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    if (frameserver_library() == "avisynth.dll")
        EXPECT_EQ(r.err, "clipspout [error]: cannot pass \"" + missing +
                             "\" to this frame server: its Import takes no UTF-8 path, and the path has no short "
                             "form the ANSI code page holds.\n");
    else
        EXPECT_EQ(r.err, "clipspout [warn]: Import: couldn't open \"" + server_path(missing) +
                             "\"\nclipspout [error]: avs files return value is not a clip.\n");

    // A path the code page holds goes as it always did: in its bytes, with
    // no utf8 argument, so even a server without one opens it.
    std::string cafe = write_script("café/script.avs", script);
    r = run_tool({"info", cafe}, old_server);
    EXPECT_EQ(r.status, 0) << r.err;
    std::remove(cafe.c_str());
    r = run_tool({"info", cafe}, old_server);
    EXPECT_EQ(r.err, "clipspout [warn]: Import: couldn't open \"" + server_path(cafe) +
                         "\"\nclipspout [error]: avs files return value is not a clip.\n");
}
