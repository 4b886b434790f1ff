#include "writers/sink.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/diag.h"

namespace {

// The sink whose program the failure road waits for: an error or an
// interrupt ends the process with exit, and whoever runs the tool must
// know the encode is over when the tool is.
stream_sink* waited_on_exit = nullptr;

void wait_after_failure()
{
    if (!waited_on_exit || !waited_on_exit->running)
        return;
    stream_sink& sink = *waited_on_exit;
    sink.running = false;
    const program_end end = wait_for_program(sink.started);
    diag_print(end.ok() ? DIAG_INFO : DIAG_WARN, "%s.\n", describe_program_end(sink.started, end).c_str());
}

bool flush_stdout()
{
    return fflush(stream_out()) == 0 && !ferror(stream_out());
}

}  // namespace

stream_sink choose_sink(const std::string& output, const std::vector<std::string>& program)
{
    stream_sink sink;
    if (!program.empty()) {
        sink.kind = SINK_PROGRAM;
        sink.program = program;
    } else if (!output.empty() && output != "-") {
        sink.kind = is_named_pipe_name(output) ? SINK_NAMED_PIPE : SINK_FILE;
        sink.path = output;
    }
    return sink;
}

void open_sink(stream_sink& sink)
{
    std::string reason;
    switch (sink.kind) {
    case SINK_STDOUT: break;
    case SINK_PROGRAM:
        if (!start_program_on_stdout(sink.program, &sink.started, &reason))
            diag_print(DIAG_ERROR, "cannot start %s: %s.\n", sink.program[0].c_str(), reason.c_str());
        sink.running = true;
        waited_on_exit = &sink;
        atexit(wait_after_failure);
        break;
    case SINK_NAMED_PIPE:
        if (!serve_named_pipe_on_stdout(sink.path, &reason) && interrupt_requested())
            diag_print(DIAG_ERROR, "interrupted before the stream began.\n");
        if (!reason.empty())
            diag_print(DIAG_ERROR, "cannot serve the pipe \"%s\": %s.\n", sink.path.c_str(), reason.c_str());
        break;
    case SINK_FILE: {
        // A FIFO no one opens holds the open until a signal breaks it.
        FILE* file = create_output_file(sink.path);
        if (!file && interrupt_requested())
            diag_print(DIAG_ERROR, "interrupted before the stream began.\n");
        if (!file)
            diag_print(DIAG_ERROR, "cannot create \"%s\": %s.\n", sink.path.c_str(), strerror(errno));
        if (!make_stdout(file))
            diag_print(DIAG_ERROR, "cannot write the stream to \"%s\".\n", sink.path.c_str());
        break;
    }
    }
    if (!set_stdout_binary())
        diag_print(DIAG_ERROR, "cannot switch stdout to binary mode.\n");
    enlarge_stdout_pipe();
    // Where the platform has no gather write, rows go out through stdio:
    // a large buffer makes that few large writes instead of many small ones.
    static char buffer[1 << 20];
    setvbuf(stream_out(), buffer, _IOFBF, sizeof buffer);
}

bool write_packet(stream_sink&, const out_packet& packet)
{
    if (packet.size == 0)
        return true;
    return write_stdout_chunks(packet.chunks.data(), packet.chunks.size()) == packet.size;
}

void fail_stream(stream_sink& sink, const std::string& failure, const std::string& written)
{
    if (sink.running) {
        flush_stdout();
        sink.running = false;
        const program_end end = wait_for_program(sink.started);
        const std::string ended = describe_program_end(sink.started, end);
        // After an interrupt the program may have been told to stop: the
        // interrupt is the cause.
        if (!end.ok() && !interrupt_requested()) {
            diag_print(DIAG_WARN, "%s", failure.c_str());
            diag_print(DIAG_ERROR, "%s after reading %s.\n", ended.c_str(), written.c_str());
        }
        diag_print(end.ok() ? DIAG_INFO : DIAG_WARN, "%s.\n", ended.c_str());
    }
    diag_print(DIAG_ERROR, "%s", failure.c_str());
    exit(2);  // not reached: an error ends the process
}

bool close_sink(stream_sink& sink)
{
    const bool flushed = flush_stdout();
    if (flushed && sink.kind != SINK_STDOUT)
        drain_stdout_to_reader();
    if (!sink.running)
        return flushed;
    const unsigned long long unread = bytes_left_unread(sink.started);
    if (unread > 0)
        diag_print(DIAG_ERROR, "%s stopped reading before the stream's end: it left %llu bytes unread.\n",
                   sink.started.name.c_str(), unread);
    sink.running = false;
    const program_end end = wait_for_program(sink.started);
    if (!end.ok())
        diag_print(DIAG_ERROR, "%s.\n", describe_program_end(sink.started, end).c_str());
    return flushed;
}
