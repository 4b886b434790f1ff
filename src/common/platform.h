// The few things that differ between Windows and POSIX systems.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

// Makes sure the standard streams are there before anything else is
// opened: a closed standard input or error is replaced by the null device,
// so that no file the tool opens later takes its place (a timecodes file
// opened as descriptor 2 would receive the diagnostics). Returns false,
// opening nothing, where standard output is closed: then the stream has
// nowhere to go.
bool open_standard_streams();

// Sets standard output aside for the stream, before the frame server is
// loaded: the stream keeps a descriptor (on Windows a handle) of its own,
// and descriptor 1, C's stdout and the process's standard output handle,
// as the frame server and its plugins see them, go to standard error from
// then on. A program the tool starts gets the stream's destination as its
// standard output. Where the copy cannot be made, the stream stays on
// descriptor 1.
void set_stream_aside();

// Where everything the tool writes as payload goes: the stream, the
// reports, the argument lines, --help and --version.
FILE* stream_out();

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

// Where open_library looks for the frame server, how to install it and how
// to name it instead: one line, for the message that it was not found.
std::string frameserver_search_remedy();

// Loads a shared library by file name from the platform's trusted search
// path. On failure returns null and puts the system's reason, without a
// trailing full stop or line end, in reason.
void* open_library(const char* name, char* reason, size_t reason_size);

void* library_symbol(void* library, const char* name);

// Loads the library file path names (file_name within it, where it is a
// folder), never searched for: on Windows by its full wide name, the DLLs
// it needs from its own folder first. Puts the file's path in loaded. On
// failure returns null with the reason: "it does not exist", "it is a
// 32-bit DLL for the 64-bit tool" (and the other way round), or the
// system's.
void* open_library_file(const std::string& path, const char* file_name, std::string* loaded, std::string* reason);

// The file a loaded library came from; empty where the system cannot say.
std::string library_file_name(void* library, const char* symbol);

// The command line as the user typed it, in UTF-8 on Windows (read from
// the wide command line: the narrow one holds only what the ANSI code
// page does), its bytes elsewhere. From here on names travel as these
// strings.
std::vector<std::string> command_arguments(int argc, char** argv);

// The script path as the frame server can take it: on Windows in the ANSI
// code page where that holds it exactly, else in UTF-8 and, where the
// volume has one the ANSI code page holds, its 8.3 short form.
struct script_path {
    std::string ansi;        // the path as the frame server's ANSI functions take it
    bool ansi_exact = true;  // false on Windows where the ANSI code page cannot hold it
    std::string utf8;        // the path in UTF-8 (Windows)
    std::string short_ansi;  // its 8.3 short form, where the volume has one and ANSI holds it
    bool is_folder = false;
};

script_path read_script_path(const std::string& path);

// Text for the frame server (-a values): on Windows in the ANSI code page
// where that holds it exactly, else in UTF-8; elsewhere as it is.
std::string frameserver_text(const std::string& text);

// Creates (or empties) the file for binary writing; on Windows by its wide
// name, so that any path works. Null on failure, with errno set.
FILE* create_output_file(const std::string& path);

// Whether a and b name the same file: the same regular file, through
// whatever path or link, or the same name where neither exists yet. A
// device or pipe is no file here (two outputs to the null device are no
// clash).
bool same_file(const std::string& a, const std::string& b);

// Whether the path names the regular file that standard output was sent
// to (> FILE).
bool is_standard_output_file(const std::string& path);

// Whether the existing file path names is open as the script runs: on
// POSIX systems by a descriptor of this process beyond the standard ones
// and the stream's (a source film a plugin reads); on Windows by any
// handle, of this process or another, since a file held open cannot be
// opened without sharing.
bool file_held_open(const std::string& path);

// A program the tool started, reading the tool's stream on its standard
// input.
struct started_program {
    std::string name;    // as the user gave it, for messages
    long long pid = 0;   // POSIX: its process id
    void* process = nullptr;  // Windows: its process handle
    bool ended = false;  // POSIX: already waited for, with this status
    int status = 0;
};

// Starts args[0] with the rest as its arguments, its standard input on the
// read end of a new pipe whose write end becomes the tool's standard output
// (no other process inherits either end), its standard output and error
// the tool's own. The program is looked up as a shell does: through PATH
// (POSIX), or as cmd.exe does on Windows (the folder a path names, else
// PATH with PATHEXT: "x264" finds x264.exe), never in the current folder
// unless the name says so. It runs in a process group of its own, so that
// an interrupt meant for the tool (Ctrl-C) does not cut its file short: it
// finishes once the tool closes the pipe. False, with the system's reason,
// where it cannot be started.
bool start_program_on_stdout(const std::vector<std::string>& args, started_program* program, std::string* reason);

// How a program ended.
struct program_end {
    bool by_signal = false;  // POSIX: ended by a signal
    long long code = 0;      // its exit status, or the signal
    bool ok() const { return !by_signal && code == 0; }
};

// Closes the tool's standard output, the pipe's write end, so that the
// program sees the end of its input, and waits for it to end.
program_end wait_for_program(started_program& program);

// Once the whole stream is written: waits until the program has read all
// of it from the pipe or has ended. The number of bytes it left unread, 0
// where it read them all (or where the system cannot tell: Windows). A
// short stream fits the pipe whole, so a program that stops reading early
// shows here rather than as a failed write.
unsigned long long bytes_left_unread(started_program& program);

// "x265 ended with status 1", "x265 was ended by signal 9 (Killed)".
std::string describe_program_end(const started_program& program, const program_end& end);

// Makes the file standard output (it takes the file's descriptor, which is
// closed); false where the system refuses.
bool make_stdout(FILE* file);

// Windows: creates the named pipe \\.\pipe\NAME, waits for one reader
// to connect, and makes it standard output; false with the reason.
// Elsewhere such a name is an ordinary file.
bool is_named_pipe_name(const std::string& name);
bool serve_named_pipe_on_stdout(const std::string& name, std::string* reason);

// Waits until a pipe's reader has taken every byte written to standard
// output (Windows discards what a named pipe still holds when its server
// ends); nothing elsewhere.
void drain_stdout_to_reader();

// SIGINT, SIGTERM and SIGHUP (on Windows, every console control event) ask
// the tool to stop after the frame or block it is writing; a second one
// ends the process at once, and the program it started with it. After the
// first, a write or a wait that a reader holds up for INTERRUPT_GRACE_SECONDS
// without taking anything is given up, and the program told to stop.
void catch_interrupts();
bool interrupt_requested();
constexpr int INTERRUPT_GRACE_SECONDS = 5;


// A thread of the tool's own beside the main one, and the lock and
// condition the two share. No call into the frame server is ever made from
// it. On POSIX systems it never takes SIGINT, SIGTERM or SIGHUP: they land
// where the frame server's threads can take them, and the main thread
// tells it (worker_nudge).
struct worker;
worker* worker_start(void (*run)(void*), void* arg);  // null where the system cannot
void worker_join(worker* thread);
// The tool was interrupted: a write the worker is blocked in goes on
// without blocking, and is given up where the reader takes nothing for
// INTERRUPT_GRACE_SECONDS, as on the main thread (POSIX; nothing on
// Windows, whose writes block as they would on the main thread).
void worker_nudge(worker* thread);

struct handoff;
handoff* handoff_create();
void handoff_destroy(handoff* h);
void handoff_lock(handoff* h);
void handoff_unlock(handoff* h);
// With the lock held: waits until woken or timeout_ms has passed.
void handoff_wait(handoff* h, int timeout_ms);
void handoff_wake(handoff* h);  // every waiter

// What the process has used so far: its peak and present resident memory,
// and its processor time in user and system mode.
struct process_usage {
    double peak_megabytes = 0, resident_megabytes = 0;
    double user_seconds = 0, system_seconds = 0;
};
process_usage read_process_usage();

// The present resident memory alone, cheaply (for a row a frame).
double resident_megabytes();

// Whether text on standard output may use characters beyond ASCII: not
// where it is a console (or terminal) that cannot show UTF-8.
bool stdout_shows_utf8();
