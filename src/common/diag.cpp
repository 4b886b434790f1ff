#include "common/diag.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

void diag_print(unsigned level, const char* format, ...)
{
    const char* tag = "unknown";
    switch (level) {
    case DIAG_ERROR: tag = "error"; break;
    case DIAG_WARN: tag = "warn"; break;
    case DIAG_INFO: tag = "info"; break;
    case DIAG_SUMMARY: tag = "info"; break;
    }
    // A failure to write to standard error cannot be reported anywhere.
    if (level == DIAG_SUMMARY)
        fputs("\r", stderr);
    fprintf(stderr, "clipspout [%s]: ", tag);
    va_list args;
    va_start(args, format);
    vfprintf(stderr, format, args);
    va_end(args);
    if (level == DIAG_ERROR)
        exit(2);
}

void diag_error_discarding_output(const char* message)
{
    fprintf(stderr, "clipspout [error]: %s", message);
    fflush(stderr);
    std::_Exit(2);
}

std::string one_line(const char* message)
{
    std::string line;
    for (const char* c = message; *c; ++c) {
        if (*c != '\n' && *c != '\r')
            line += *c;
        else if (!line.empty() && line.back() != ' ')
            line += ' ';
    }
    while (!line.empty() && line.back() == ' ')
        line.pop_back();
    return line;
}
