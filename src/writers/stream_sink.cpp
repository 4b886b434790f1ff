#include "writers/stream_sink.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/diag.h"
#include "common/platform.h"

namespace {

stream_sink chosen;
started_program program;  // the program started, while it runs
bool started = false;

// On the failure road (an error, an interrupt) the process ends with exit:
// the program still gets the end of its input and is waited for, so that
// whoever runs the tool knows the encode is over when the tool is, and its
// status is said.
void wait_after_failure()
{
    if (!started)
        return;
    started = false;
    const program_end end = wait_for_program(program);
    diag_print(end.ok() ? DIAG_INFO : DIAG_WARN, "%s.\n", describe_program_end(program, end).c_str());
}

void open_chosen_sink()
{
    if (!chosen.program.empty()) {
        std::string reason;
        if (!start_program_on_stdout(chosen.program, &program, &reason))
            diag_print(DIAG_ERROR, "cannot start %s: %s.\n", chosen.program[0].c_str(), reason.c_str());
        started = true;
        atexit(wait_after_failure);
        return;
    }
    if (!chosen.output_index)
        return;
    const std::string name = chosen.argv[chosen.output_index] + chosen.output_skip;
    if (name == "-")
        return;  // standard output
    std::string reason;
    if (is_named_pipe_name(name)) {
        if (!serve_named_pipe_on_stdout(chosen.argv, chosen.output_index, chosen.output_skip, &reason))
            diag_print(DIAG_ERROR, "cannot serve the pipe \"%s\": %s.\n", name.c_str(), reason.c_str());
        return;
    }
    FILE* file = create_output_file(chosen.argv, chosen.output_index, chosen.output_skip);
    if (!file)
        diag_print(DIAG_ERROR, "cannot create \"%s\": %s.\n", name.c_str(), strerror(errno));
    if (!make_stdout(file))
        diag_print(DIAG_ERROR, "cannot write the stream to \"%s\".\n", name.c_str());
}

}  // namespace

void choose_stream_sink(const stream_sink& sink)
{
    chosen = sink;
}

void begin_stream_sink()
{
    open_chosen_sink();
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

void end_stream_sink()
{
    if (!fflush(stdout) && chosen.output_index)
        drain_stdout_to_reader();
    if (!started)
        return;
    const unsigned long long unread = bytes_left_unread(program);
    if (unread > 0)
        diag_print(DIAG_ERROR, "%s stopped reading before the stream's end: it left %llu bytes unread.\n",
                   program.name.c_str(), unread);
    started = false;
    const program_end end = wait_for_program(program);
    if (!end.ok())
        diag_print(DIAG_ERROR, "%s.\n", describe_program_end(program, end).c_str());
}
