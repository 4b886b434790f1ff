// What the two platform files share, for them alone.
#pragma once

#include <cstdio>
#include <cstring>

#include "common/platform.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

// The system's reason for a failure, without a trailing full stop or line
// end.
inline void copy_reason(char* reason, size_t reason_size, const char* text)
{
    if (reason_size == 0)
        return;
    snprintf(reason, reason_size, "%s", text ? text : "unknown reason");
    size_t n = strlen(reason);
    while (n > 0 && (reason[n - 1] == '\n' || reason[n - 1] == '\r' || reason[n - 1] == '.' || reason[n - 1] == ' '))
        reason[--n] = '\0';
}

// Before the process ends: an output that did not reach its end must not
// end as a success; under the sanitizers the leak check runs, as it would
// at a normal exit.
inline void end_process_flush(int* status)
{
    if (fflush(stream_out()) != 0 || ferror(stream_out()))
        *status = *status ? *status : 2;
    fflush(stdout);  // what plugins printed, on standard error
    fflush(stderr);
#if defined(__SANITIZE_ADDRESS__)
    __lsan_do_leak_check();
#endif
}
