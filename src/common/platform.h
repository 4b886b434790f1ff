// The few things that differ between Windows and POSIX systems.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

// Makes sure the standard streams are there before anything else is
// opened: a closed standard input or error is replaced by the null device,
// so that no file the tool opens later takes its place (a timecodes file
// opened as descriptor 2 would receive the diagnostics). Returns false,
// opening nothing, where standard output is closed: then the stream has
// nowhere to go.
bool open_standard_streams();

// Ends the process with status once its output is flushed, without the
// teardown of the libraries it loaded (see main): no static destructors and
// no atexit handlers, only those registered with at_quick_exit where the
// system has it. Under the sanitizers the leak check runs first, as it
// would at a normal exit.
[[noreturn]] void end_process(int status);

// Standard output in untranslated mode: no "\n" to "\r\n" on Windows.
bool set_stdout_binary();

// Where standard output is a pipe, asks for the largest buffer the system
// allows: a bigger pipe lets the reader take more per wake-up. Refusal is
// harmless.
void enlarge_stdout_pipe();

struct out_chunk {
    const void* data;
    size_t size;
};

// Writes the chunks to standard output in order, straight from where they
// lie (no copy into a buffer on POSIX systems), and returns when all of them
// have reached the output or writing failed. Returns the bytes written.
size_t write_stdout_chunks(const out_chunk* chunks, size_t count);

// True when standard error is a terminal a person may be watching.
bool stderr_is_terminal();

// A reader that closes the pipe must surface as a failed write, not as a
// signal that kills the process before it can say what happened.
void ignore_broken_pipe();

// Loads a shared library by file name from the platform's trusted search
// path. On failure returns null and puts the system's reason, without a
// trailing full stop or line end, in reason.
void* open_library(const char* name, char* reason, size_t reason_size);

void* library_symbol(void* library, const char* name);

// The script path as the frame server can take it. On Windows the narrow
// arguments are in the ANSI code page, which turns every character it does
// not hold into "?"; there the path is read from the wide command line.
struct script_path {
    std::string ansi;        // the path as the narrow arguments give it
    bool ansi_exact = true;  // false on Windows where the ANSI code page cannot hold it
    std::string utf8;        // then: the path in UTF-8,
    std::string short_ansi;  // and its 8.3 short form, where the volume has one and ANSI holds it
    bool is_folder = false;
};

script_path read_script_path(char** argv, int index);

// Argument index from its character skip on, as text for the frame server:
// on Windows in the ANSI code page where that holds it exactly, else in
// UTF-8 from the wide command line; elsewhere its bytes.
std::string read_argument_text(char** argv, int index, size_t skip);

// Creates (or empties) the file that argument index names from its
// character skip on, for binary writing; on Windows by its wide name, so
// that any path works. Null on failure, with errno set.
FILE* create_output_file(char** argv, int index, size_t skip);
