#include "timecodes_cases.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>

namespace {

const std::string clip = "BlankClip(length=6, width=16, height=16, pixel_type=\"YV12\", fps=24000, "
                         "fps_denominator=1001)\n";

std::string timecodes_path()
{
    std::string path = write_script("timecodes/tc.txt", "");
    std::remove(path.c_str());
    return path;
}

}  // namespace

void check_timecodes(const run_options& options)
{
    const std::string v2 = "# timestamp format v2\n";
    struct {
        std::vector<std::string> args;  // before "video SCRIPT"; "TC" is the file
        const char* tail;
        std::string lines;
    } cases[] = {
        // The clip's rate, in both spellings.
        {{"--timecodes", "TC"}, "", "0.000000\n41.708333\n83.416667\n125.125000\n166.833333\n208.541667\n"},
        {{"--timecodes=TC"}, "", "0.000000\n41.708333\n83.416667\n125.125000\n166.833333\n208.541667\n"},
        // Each frame's own duration where it has one.
        {{"--timecodes", "TC"}, "propSet(\"_DurationNum\", 1).propSet(\"_DurationDen\", 50)\n",
         "0.000000\n20.000000\n40.000000\n60.000000\n80.000000\n100.000000\n"},
        // A range starts at 0.
        {{"-s", "2", "-e", "4", "--timecodes", "TC"}, "", "0.000000\n41.708333\n83.416667\n"},
        {{"--depth=keep", "--timecodes", "TC"}, "", "0.000000\n41.708333\n83.416667\n125.125000\n166.833333\n208.541667\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args) + c.tail);
        std::string tc = timecodes_path();
        std::vector<std::string> args;
        for (const std::string& a : c.args)
            args.push_back(a == "TC" ? tc : a == "--timecodes=TC" ? "--timecodes=" + tc : a);
        std::vector<std::string> plain_args(args.begin(), args.end());
        args.push_back("video");
        args.push_back(write_script("timecodes.avs", clip + c.tail));
        run_result r = run_tool(args, options);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(read_file(tc), v2 + c.lines);
    }

    std::string script = write_script("timecodes.avs", clip);
    run_result plain = run_tool({"video", script}, options);

    // The stream is the same with and without the file.
    std::string tc = timecodes_path();
    run_result with = run_tool({"--timecodes", tc, "video", script}, options);
    EXPECT_TRUE(with.out == plain.out);
    EXPECT_EQ(with.err, plain.err);

    // Other modes ignore it, and create nothing.
    tc = timecodes_path();
    run_result info = run_tool({"--timecodes", tc, "info", script}, options);
    EXPECT_EQ(info.status, 0);
    EXPECT_FALSE(std::ifstream(tc).good()) << "info created the timecodes file";

    // A reader that closes the pipe: the file holds the frames that went
    // out, and the run fails as ever.
    run_options closing = options;
    closing.stdout_limit = 1000;
    tc = timecodes_path();
    std::string long_clip = write_script("timecodes-long.avs", "BlankClip(length=100, width=640, height=480, "
                                                               "pixel_type=\"YV12\")\n");
    run_result cut = run_tool({"--timecodes", tc, "video", long_clip}, closing);
    EXPECT_EQ(cut.status, 2);
    long long written = number_after(cut.err, "finished, wrote ");
    ASSERT_GE(written, 0) << cut.err;
    std::string lines = read_file(tc);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), '\n'), written + 1) << lines;

    // A file that cannot be completed is a failure, never a success (Wine
    // has no /dev/full).
    if (frameserver_library() == "libavisynth.so") {
        run_result full = run_tool({"--timecodes", "/dev/full", "video", script}, options);
        EXPECT_EQ(full.status, 2);
        EXPECT_NE(full.err.find("clipspout [error]: cannot write the timecodes to \"/dev/full\".\n"), std::string::npos)
            << full.err;
    }

    // A file that cannot be made: nothing on stdout.
    run_result nowhere = run_tool({"--timecodes", "/nonexistent/tc.txt", "video", script}, options);
    EXPECT_EQ(nowhere.status, 2);
    EXPECT_EQ(nowhere.out, "");
    EXPECT_EQ(nowhere.err.rfind("clipspout [error]: cannot create the timecodes file \"/nonexistent/tc.txt\": ", 0), 0u)
        << nowhere.err;
    run_result empty = run_tool({"--timecodes=", "video", script}, options);
    EXPECT_EQ(empty.status, 2);
    EXPECT_EQ(empty.err, "clipspout [error]: option --timecodes needs a file name.\n");
}

void check_chroma_siting(const run_options& options)
{
    struct {
        const char* clip;
        const char* tail;
        bool deep;
        const char* tag;
    } cases[] = {
        {"YV12", "propSet(\"_ChromaLocation\", 0)\n", true, "C420mpeg2"},
        {"YV12", "propSet(\"_ChromaLocation\", 1)\n", true, "C420jpeg"},
        {"YV12", "propSet(\"_ChromaLocation\", 2)\n", true, "C420paldv"},
        {"YV12", "propSet(\"_ChromaLocation\", 3)\n", true, "C420 "},     // no name for it
        {"YV12", "propSet(\"_ChromaLocation\", 2)\n", false, "C420\n"},   // the plain header without --depth
        {"YUV420P10", "propSet(\"_ChromaLocation\", 2)\n", true, "C420p10 "},  // ffmpeg reads no siting there
        {"YV16", "propSet(\"_ChromaLocation\", 2)\n", true, "C422 "},
        {"YV12", "", true, "C420 "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.clip) + " " + c.tail);
        std::string script = write_script("siting.avs", "BlankClip(length=2, width=16, height=16, pixel_type=\"" +
                                                            std::string(c.clip) + "\")\n" + c.tail);
        std::vector<std::string> args = {"video", script};
        if (c.deep)
            args.insert(args.begin(), "--depth=keep");
        run_result r = run_tool(args, options);
        EXPECT_EQ(r.status, 0) << r.err;
        std::string header = r.out.substr(0, r.out.find('\n') + 1);
        EXPECT_NE(header.find(std::string(" ") + c.tag), std::string::npos) << header;
    }
}
