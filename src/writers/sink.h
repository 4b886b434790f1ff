// Where a stream goes: standard output, a file (-o FILE), a named pipe a
// reader connects to (-o \\.\pipe\NAME, Windows), or a program the tool
// starts on a pipe of its own (PROGRAM [ARG...]). The sink is chosen once
// from the command line and handed to the pump, which opens it when the
// stream begins, writes each packet to it and closes it.
#pragma once

#include <string>
#include <vector>

#include "common/platform.h"
#include "writers/format.h"

enum sink_kind { SINK_STDOUT, SINK_FILE, SINK_NAMED_PIPE, SINK_PROGRAM };

struct stream_sink {
    sink_kind kind = SINK_STDOUT;
    std::string path;                  // the file or the pipe's name
    std::vector<std::string> program;  // PROGRAM and its arguments
    started_program started;           // the program, while it runs
    bool running = false;
};

// The sink for -o's value ("" where not given; "-" is standard output) or
// a program and its arguments.
stream_sink choose_sink(const std::string& output, const std::vector<std::string>& program);

// Makes the sink standard output (starts the program, creates the file,
// waits for the pipe's reader) in untranslated mode with a large buffer, or
// ends the process with an error before any byte is written. Where the tool
// fails later, the process's exit closes the program's pipe and waits for
// it all the same, and says how it ended.
void open_sink(stream_sink& sink);

// Writes the packet; true once all of it has reached the output.
bool write_packet(stream_sink& sink, const out_packet& packet);

// Ends a stream cut short with its error, the failure ("only wrote 8 of 30
// frames."): where the program the tool started failed, that is the cause,
// and the last line says it as the error ("x265 ended with status 1 after
// reading 8 of 30 frames.", with written "8 of 30 frames"), the failure
// before it as a warning. Otherwise (no program, one that ended well, or
// an interrupt, which is then the cause) the failure is the error, after
// how the program ended. Does not return.
[[noreturn]] void fail_stream(stream_sink& sink, const std::string& failure, const std::string& written);

// Ends a complete stream: lets a pipe's reader take the last bytes, or
// closes the program's pipe and waits for the program, whose failure is
// then an error ("x265 ended with status 1."). False where bytes still held
// could not be written.
bool close_sink(stream_sink& sink);
