// clipspout MODE SCRIPT PROGRAM [ARG...]: the tool starts the program on a
// pipe of its own and waits for it; -o FILE; --tell-encoder; Ctrl-C. Cases
// that both frame servers must pass, run against the one options names.
#pragma once

#include "harness.h"

// The test build's echo_args run by the tool: it must get every argument
// exactly (spaces, empty ones, quotes, backslashes, characters outside the
// ANSI code page) and every byte of the stream.
void check_program_arguments(const run_options& options);

// The stream's writers as the tool starts them (x264, x265, SvtAv1EncApp,
// ffmpeg from mkv, flac from audio): each output equals what the same
// shell pipe makes.
void check_program_encoders(const run_options& options);

// A program that does not exist, is no program, refuses an option, stops
// reading early or is killed: a message naming it, status 2, no hang.
void check_program_failures(const run_options& options);

// -o FILE, the usage errors of the new words, and --tell-encoder (the
// encoder gets its line's options before the user's own).
void check_output_and_telling(const run_options& options);

// No file the tool writes is the script or another file of the same run.
void check_outputs_that_would_overwrite(const run_options& options);

// Ctrl-C (SIGINT to the tool's process group) in the middle of a stream,
// with and without a program: the tool stops after a whole frame, closes
// the pipe, the encoder finishes its file with exactly the frames written,
// and so do the timecodes.
void check_interrupts(const run_options& options);

// Windows: -o \\.\pipe\NAME serves a named pipe that a reader (the test
// build's pipe_reader) takes whole; a program named without a folder or
// ".exe" is found on PATH.
void check_windows_roads(const run_options& options);
