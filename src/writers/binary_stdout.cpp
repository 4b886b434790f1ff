#include "writers/binary_stdout.h"

#include <cstdio>

#include "common/diag.h"
#include "common/platform.h"

void begin_binary_stdout()
{
    if (!set_stdout_binary())
        diag_print(DIAG_ERROR, "cannot switch stdout to binary mode.\n");
    enlarge_stdout_pipe();
    // Where the platform has no gather write, rows go out through stdio:
    // a large buffer makes that few large writes instead of many small ones.
    static char buffer[1 << 20];
    setvbuf(stdout, buffer, _IOFBF, sizeof buffer);
}

bool flush_stdout()
{
    return fflush(stdout) == 0 && !ferror(stdout);
}
