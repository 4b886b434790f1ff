// Command line, script import and frame-server loading, end to end.

#include <gtest/gtest.h>

#include <filesystem>

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
    // First where the tool looked and what to do, then the error, last,
    // without the library's name twice.
    const size_t second_line = r.err.find('\n') + 1;
    EXPECT_EQ(r.err.rfind("clipspout [info]: looked for " + library, 0), 0u) << r.err;
    EXPECT_NE(r.err.substr(0, second_line).find("install AviSynth+"), std::string::npos) << r.err;
    EXPECT_NE(r.err.substr(0, second_line).find("--frameserver=PATH\n"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("clipspout [error]: cannot load " + library + ": ", second_line), second_line) << r.err;
    EXPECT_EQ(r.err.find(library + ": " + library), std::string::npos) << r.err;
    EXPECT_EQ(r.err.substr(r.err.size() - 2), ".\n");
    EXPECT_EQ(r.err.find('\n', second_line), r.err.size() - 1);
    EXPECT_EQ(r.out, "");

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

// A runtime-only install holds the library under its versioned name alone
// (libavisynth.so.11, no development link): the search finds it there too.
TEST(RunSequence, TheSearchFindsTheLibraryByItsVersionedNameAlone)
{
    if (testing_windows_build())
        GTEST_SKIP() << "Windows DLLs have no versioned names";
    const std::string script = write_script("versioned/clip.avs", "BlankClip(length=3)\n");
    const std::string folder = script.substr(0, script.rfind('/')) + "/lib";
    std::filesystem::create_directories(folder);
    std::filesystem::copy_file(build_folder(STANDIN) + "/libavisynth.so", folder + "/libavisynth.so.11",
                               std::filesystem::copy_options::overwrite_existing);
    run_options versioned;
    versioned.frameserver = folder;
    const run_result r = run_tool({"info", script}, versioned);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("v:frames      3\n"), std::string::npos) << r.out;
    const run_result version = run_tool({"--version"}, versioned);
    EXPECT_NE(version.out.find("frame server file: " + folder + "/libavisynth.so.11\n"), std::string::npos)
        << version.out;
}

// A source plugin's function that the frame server does not know: one line
// names the plugin and how to load it, before the error; any other unknown
// function gets no such line.
TEST(RunSequence, AMissingSourcePluginIsNamedWithItsRemedy)
{
    const struct {
        const char* call;
        const char* hint;  // nullptr: none
    } cases[] = {
        {"FFVideoSource(\"film.mkv\")", "FFVideoSource comes from the FFMS2 source plugin, which is not loaded"},
        {"lwlibavvideosource(\"film.mkv\")", "lwlibavvideosource comes from the L-SMASH Works source plugin"},
        {"BSVideoSource(\"film.mkv\")", "BSVideoSource comes from the BestSource source plugin"},
        {"NoSuchFilter()", nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.call);
        const run_result r = run_tool({"info", write_script("source.avs", std::string(c.call) + "\n")});
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.err.find("clipspout [info]: "), c.hint ? r.err.find('\n') + 1 : std::string::npos) << r.err;
        if (c.hint) {
            EXPECT_NE(r.err.find(std::string("clipspout [info]: ") + c.hint), std::string::npos) << r.err;
            EXPECT_NE(r.err.find("LoadPlugin(\"PATH\")"), std::string::npos) << r.err;
        }
        EXPECT_TRUE(r.err.size() > 57 &&
                    r.err.compare(r.err.size() - 57, 57, "clipspout [error]: avs files return value is not a clip.\n") == 0)
            << r.err;
    }
}

TEST(RunSequence, LibraryPlantedInTheCurrentFolderIsNeverLoaded)
{
    std::string script = write_script("planted.avs", "BlankClip()\n");
    run_options planted;
    planted.cwd = build_folder(PLANTED);
    planted.frameserver = NO_FRAMESERVER;
    run_result r = run_tool({"info", script}, planted);
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("\nclipspout [error]: cannot load " + frameserver_library() + ": "), std::string::npos)
        << r.err;

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
