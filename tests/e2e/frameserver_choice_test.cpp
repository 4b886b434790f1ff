// --frameserver=PATH: the library of the user's choice, by its file or its
// folder, and that file and no other; each bad road an error before
// anything is written.

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "harness.h"

namespace {

// The same stand-in, built for the other word size, where there is one:
// the Windows builds of both sizes sit side by side; natively a 32-bit
// ELF library is assembled here (binutils comes with g++).
std::string library_of_the_other_size()
{
    if (testing_windows_build()) {
        std::string folder = build_folder("standin");
        for (const auto& swap : {std::make_pair("x86_64", "i686"), std::make_pair("i686", "x86_64")}) {
            const size_t at = folder.find(std::string("build-win-") + swap.first);
            if (at != std::string::npos)
                return folder.replace(at + 10, strlen(swap.first), swap.second) + "/avisynth.dll";
        }
        return "";
    }
    const std::string source = write_script("choice/other/f.s", ".globl f\nf:\n ret\n");
    const std::string folder = source.substr(0, source.rfind('/'));
    shell("as --32 -o '" + folder + "/f.o' '" + source + "' && ld -m elf_i386 -shared -o '" + folder +
          "/lib32.so' '" + folder + "/f.o'");
    return folder + "/lib32.so";
}

}  // namespace

TEST(FrameserverChoice, TheNamedLibraryAndNoOther)
{
    // The tool's own search finds the classic stand-in (interface 6); the
    // option names the full one (11), by its folder and by its file.
    run_options classic;
    classic.frameserver = "standin-classic";
    const std::string folder = build_folder(STANDIN);
    const std::string file = folder + "/" + frameserver_library();
    for (const std::string& named : {folder, file}) {
        SCOPED_TRACE(named);
        const run_result r = run_tool({"--frameserver=" + named, "--version"}, classic);
        const std::string out = lf_text(r.out);  // text, in CR LF on Windows
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_NE(out.find("frame server file: "), std::string::npos) << out;
        EXPECT_NE(out.find(frameserver_library() + "\n"), std::string::npos) << out;
        EXPECT_NE(out.find("interface version: 11\n"), std::string::npos) << out;
        const run_result info = run_tool({"--frameserver=" + named, "info", write_script("choice/c.avs",
                                                                                         "BlankClip(length=2)\n")},
                                         classic);
        EXPECT_EQ(info.status, 0) << info.err;
    }
    const run_result searched = run_tool({"--version"}, classic);
    EXPECT_NE(lf_text(searched.out).find("interface version: 6\n"), std::string::npos) << searched.out;
}

TEST(FrameserverChoice, EachBadRoadIsAnErrorBeforeAnyByte)
{
    const std::string script = write_script("choice/bad.avs", "BlankClip(length=2)\n");
    const std::string text = write_script("choice/notes.txt", "not a library\n");
    const std::string other = library_of_the_other_size();
    const bool tool64 = !testing_windows_build() || build_folder(STANDIN).find("x86_64") != std::string::npos;
    const std::string word = testing_windows_build() ? "DLL" : "library";
    struct bad_road {
        const char* what;
        std::string path;
        std::string said;  // the end of the error line
    };
    const std::vector<bad_road> roads = {
        {"a file that does not exist", "/no/such/avisynth-anywhere", ": it does not exist.\n"},
        {"a folder without the library", std::filesystem::path(script).parent_path().string(),
         ": it does not exist.\n"},
        {"a text file", text, ": it is not a library.\n"},
        {"a library without the frame server's functions", build_folder("standin-incomplete") + "/" +
                                                                frameserver_library(),
         ": it is no frame server.\n"},
        {"the other word size", other,
         tool64 ? ": it is a 32-bit " + word + " for the 64-bit tool.\n"
                : ": it is a 64-bit " + word + " for the 32-bit tool.\n"},
    };
    for (const bad_road& road : roads) {
        SCOPED_TRACE(road.what);
        if (road.path.empty() || (!std::filesystem::exists(road.path) && road.said.find("exist") == std::string::npos)) {
            ADD_FAILURE() << "no such library here: " << road.path;
            continue;
        }
        const run_result r = run_tool({"--frameserver=" + road.path, "video", script});
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.out, "") << "written before the error";
        EXPECT_EQ(r.err.rfind("clipspout [error]: cannot ", 0), 0u) << r.err;
        EXPECT_TRUE(r.err.size() >= road.said.size() &&
                    r.err.compare(r.err.size() - road.said.size(), road.said.size(), road.said) == 0)
            << r.err;
    }
}
