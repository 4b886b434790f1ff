// Where a stream goes, chosen here alone: standard output, a file (-o
// FILE), a named pipe a reader connects to (-o \\.\pipe\NAME, Windows), or
// a program the tool starts on a pipe of its own (PROGRAM [ARG...]). Every
// writer writes to standard output; when the stream begins, the sink makes
// standard output that place.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

struct stream_sink {
    std::vector<std::string> program;  // PROGRAM and its arguments; empty: none
    char** argv = nullptr;             // -o FILE: the argument that names it, from skip on; index 0: none
    int output_index = 0;
    size_t output_skip = 0;
};

// The sink the next stream goes to.
void choose_stream_sink(const stream_sink& sink);

// Opens the chosen sink as standard output (starts the program, creates the
// file, waits for the pipe's reader) in untranslated mode with a large
// buffer, or ends the process with an error before any byte is written.
void begin_stream_sink();

// Pushes every buffered byte out; false if any write so far has failed.
bool flush_stdout();

// Ends a complete stream on its sink: closes the program's pipe and waits
// for the program, whose failure is then an error ("x265 ended with status
// 1."), or lets a pipe's reader take the last bytes. Where the tool fails
// before this, the process's exit closes the pipe and waits all the same.
void end_stream_sink();
