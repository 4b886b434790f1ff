// Runs the built tool as a separate process against the stand-in frame
// server.
//
// CLIPSPOUT_TEST_WINDOWS_BUILD names a Windows build folder instead: the
// tool is then the copy of clipspout.exe in the frame-server folder (Windows
// looks beside the program), started through CLIPSPOUT_TEST_LAUNCHER (for
// example "wine"). Standard error is in text mode there, so its "\r\n" line
// ends are read back as "\n"; platform_text gives what a text-mode report
// on standard output looks like.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The six lines of the usage text, exactly.
constexpr const char USAGE_TEXT[] =
    "clipspout for AviSynth 2.6.0 Alpha 2\n"
    "Usage: clipspout [audio|video|info|x264] input.avs\n"
    "   audio  - output wav extensible format audio to stdout.\n"
    "   video  - output yuv4mpeg2 format video to stdout.\n"
    "   info   - output information about aviscript clip.\n"
    "   x264bd - suggest x264 arguments for bluray disc encoding.\n";

// Folders of the build that hold a frame-server library (see
// tests/CMakeLists.txt).
constexpr const char* STANDIN = "standin";
constexpr const char* INCOMPLETE = "standin-incomplete";
constexpr const char* PLANTED = "planted";
constexpr const char* NO_FRAMESERVER = "no-frameserver";

// The folder of a real AviSynth+ library (libavisynth.so) that the
// real-server tests run against, from CLIPSPOUT_TEST_REAL_FRAMESERVER; empty
// when the suite has none.
std::string real_frameserver();

struct run_options {
    // The only folder searched for the frame server: a folder of the build
    // named above, or an absolute path (see real_frameserver).
    std::string frameserver = STANDIN;
    std::string cwd;                    // working folder, if not the test's own
    std::string stdout_path;            // stdout to this file instead of a pipe
    long stdout_limit = -1;             // close the pipe after this many bytes
    std::vector<std::string> env;       // extra NAME=VALUE settings
    bool close_stdin = false, close_stdout = false, close_stderr = false;  // start the tool without them
    // A signal for the tool (native builds): once standard error holds
    // signal_on_stderr (at once where empty) and signal_after_ms more have
    // passed; signal_count 2 sends a second one 200 ms after the first.
    int signal = 0;
    std::string signal_on_stderr;
    int signal_after_ms = 0;
    int signal_count = 1;
    int timeout_seconds = 60;  // then the tool is killed, and timed_out says so
};

struct run_result {
    int status = -1;     // exit status, or -1 if the process died of a signal
    int signal = 0;
    bool timed_out = false;
    int signals_sent = 0;
    std::string out;
    std::string err;     // without the line below
    // The line a frame server without working frame properties gets
    // ("clipspout [info]: the frame server (interface version 8) has ...").
    // It is taken out of err, so that what a test expects there holds on
    // every AviSynth+; the tests of that line read it here.
    std::string frameserver_note;
};

// A program of the test build (tests/helpers) as the tool can start it by
// its path: on Windows its .exe by its Windows path.
std::string helper_program(const std::string& name);

// Whether the tool under test is a Windows build (run through a launcher
// such as Wine).
bool testing_windows_build();

// The interface version of the real frame server (CLIPSPOUT_TEST_REAL_FRAMESERVER),
// as clipspout --version reports it; 0 where there is none.
int real_server_interface();

// Whether the real frame server's frame properties can be read (interface
// version 9, AviSynth+ 3.7.1, and later). A test of what the tool makes of
// properties skips where they cannot, and says why.
bool real_server_gives_properties();
constexpr const char* NO_PROPERTIES_REASON =
    "this AviSynth+ (before 3.7.1) gives no frame properties through its C interface";

// Under Wine, a launch that fails with one of Wine's own signatures (see
// wine_failure_signature) is tried once more; the second result stands.
run_result run_tool(const std::vector<std::string>& args, const run_options& options = {});

// Wine's own failure in a run, never the tool's: a "wine client error" or
// "wine: " line on stderr (but for "wine: Unhandled ...", the program's own
// crash), or status 1 with nothing on either stream. Empty if none.
std::string wine_failure_signature(const run_result& result);

// Writes a script into a fresh folder of the test run (name may hold
// folders); returns its path.
std::string write_script(const std::string& name, const std::string& text);

// The same, executable by its owner.
std::string write_program(const std::string& name, const std::string& text);

// A path as the frame server names it in its messages. Where the tool runs
// on Windows that is its full form (drive Z: is Wine's "/") in the ANSI
// code page (1252 under the suite's Wine locale: "é" becomes one byte; only
// Latin-1 characters are converted); elsewhere the path itself.
std::string server_path(const std::string& path);

// Runs every mode on two copies of a script, one under an ASCII path and
// one under a folder and file name in Japanese and Cyrillic; the runs must
// succeed with the same output.
void expect_twins_agree(const std::string& text, const run_options& options = {});

std::string read_file(const std::string& path);

// The stand-in's documented content.
inline unsigned char pattern_byte(int frame, int plane, int row, int column)
{
    return static_cast<unsigned char>((column + 3 * (row + frame % 8) + 85 * plane) % 251);
}

inline uint32_t sample_key(int64_t sample, int channel)
{
    return static_cast<uint32_t>(sample) * 2654435761u + static_cast<uint32_t>(channel) * 40503u;
}

// Runs a bash command with pipefail, returns what it printed on stdout; status in *status.
std::string shell(const std::string& command, int* status = nullptr);

// The command that starts the tool from a shell, frame-server path included.
std::string tool_command(const run_options& options = {});

// The file name the tool loads the frame server from.
std::string frameserver_library();

// A text report as the platform's text mode writes it: "\n" or "\r\n".
std::string platform_text(const std::string& text);

// The reverse of platform_text.
std::string lf_text(const std::string& text);

// The path of a folder of the build (see the folder names above).
std::string build_folder(const std::string& name);

// The test build's C plugin for the real AviSynth+ that prints on standard
// output (tests/plugins/print_plugin.cpp), as a script names it.
std::string print_plugin();

// Adler-32 as ffmpeg's framecrc muxer computes it (starting value 0).
uint32_t framecrc_adler(const std::string& bytes);

// The number that follows the first occurrence of prefix in text, or -1.
long long number_after(const std::string& text, const std::string& prefix);

// The two ways a reader fails a stream: closing the pipe after 1000 bytes,
// and a full disk.
struct cut_short_runs {
    run_result closed_pipe, full_disk;
};
cut_short_runs run_cut_short(const std::vector<std::string>& args, const run_options& base = {});
