// Diagnostics: every note, warning and error goes to standard error through
// diag_print; standard output carries nothing but the payload.
#pragma once

#include <cinttypes>
#include <string>

enum : unsigned {
    DIAG_ERROR = 0,    // prints, then ends the process with status 2
    DIAG_WARN = 1,
    DIAG_INFO = 2,
    DIAG_SUMMARY = 3,  // starts with "\r" so it overwrites a progress line
};

#if defined(__MINGW32__)
#define DIAG_PRINTF_FORMAT __attribute__((format(__MINGW_PRINTF_FORMAT, 2, 3)))
#elif defined(__GNUC__)
#define DIAG_PRINTF_FORMAT __attribute__((format(printf, 2, 3)))
#else
#define DIAG_PRINTF_FORMAT
#endif

void diag_print(unsigned level, const char* format, ...) DIAG_PRINTF_FORMAT;

// An error that ends the process with status 2 without writing what
// standard output still holds: a report cut short must not pass for a
// whole one.
[[noreturn]] void diag_error_discarding_output(const char* message);

// The frame server's messages may span lines ("...\n(script.avs, line 3)");
// a diagnostic is one line.
std::string one_line(const char* message);
