// The few things that differ between Windows and POSIX systems.
#pragma once

#include <cstddef>

// Standard output in untranslated mode: no "\n" to "\r\n" on Windows.
bool set_stdout_binary();

// A reader that closes the pipe must surface as a failed write, not as a
// signal that kills the process before it can say what happened.
void ignore_broken_pipe();

// Loads a shared library by file name from the platform's trusted search
// path. On failure returns null and puts the system's reason, without a
// trailing full stop or line end, in reason.
void* open_library(const char* name, char* reason, size_t reason_size);

void* library_symbol(void* library, const char* name);
