// Runs the built tool as a separate process against the stand-in frame
// server. CLIPSPOUT_TEST_TOOL overrides the tool's path and
// CLIPSPOUT_TEST_LAUNCHER puts a launcher (for example "wine") before it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct run_options {
    std::string library_dir = STANDIN_DIR;  // the only folder searched for the frame server
    std::string stdout_path;                // stdout to this file instead of a pipe
    long stdout_limit = -1;                 // close the pipe after this many bytes
    std::vector<std::string> env;           // extra NAME=VALUE settings
};

struct run_result {
    int status = -1;     // exit status, or -1 if the process died of a signal
    int signal = 0;
    std::string out;
    std::string err;
};

run_result run_tool(const std::vector<std::string>& args, const run_options& options = {});

// Writes a script into a fresh folder of the test run; returns its path.
std::string write_script(const std::string& name, const std::string& text);

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

// Adler-32 as ffmpeg's framecrc muxer computes it (starting value 0).
uint32_t framecrc_adler(const std::string& bytes);

// The number that follows the first occurrence of prefix in text, or -1.
long long number_after(const std::string& text, const std::string& prefix);

// The two ways a reader fails a stream: closing the pipe after 1000 bytes,
// and a full disk.
struct cut_short_runs {
    run_result closed_pipe, full_disk;
};
cut_short_runs run_cut_short(const std::vector<std::string>& args);
