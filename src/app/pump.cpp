#include "app/pump.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cinttypes>
#include <cstring>
#include <deque>
#include <vector>

#include "common/diag.h"
#include "common/numbers.h"
#include "common/platform.h"
#include "common/progress.h"
#include "frameserver/avs_library.h"
#include "frameserver/channel_mask.h"
#include "frameserver/frame_properties.h"
#include "frameserver/property_json.h"
#include "writers/stream_time.h"
#include "writers/timecodes.h"
#include "writers/write_queue.h"

namespace {

using pump_clock = std::chrono::steady_clock;

// A file an option names, created before the stream starts; one that
// cannot be created is an error.
FILE* create_side_file(const std::string& path, const char* what)
{
    if (path.empty())
        return nullptr;
    FILE* file = create_output_file(path);
    if (!file)
        diag_print(DIAG_ERROR, "cannot create the %s file \"%s\": %s.\n", what, path.c_str(), strerror(errno));
    return file;
}

// What is done once a unit's last packet is written: a frame is counted,
// gets its side-file lines and goes back to the frame server; a block of
// samples is counted and its buffer used again.
struct pending_unit {
    uint64_t after = 0;  // written once this many packets are
    AVS_VideoFrame* frame = nullptr;  // null: a block of samples
    bool whole = true;  // false: a frame that did not go out whole, only released
    int n = 0;
    int64_t duration_num = 0, duration_den = 1;
    int64_t samples_end = 0;  // the sample frame up to which audio is then written
    std::vector<unsigned char> samples;
    pump_clock::time_point asked, delivered;
};

// Everything one run has open and has counted.
struct pump_run {
    explicit pump_run(pump_job& j) : job(j) {}
    pump_job& job;
    stream_start start;
    void* state = nullptr;
    bool has_video = false;
    int frames = 0;
    int handed = 0, written = 0;     // frames handed to the writer, and written whole
    int64_t position = 0;            // the next sample frame to fetch
    int64_t samples_written = 0;     // the sample frames written
    bool ok = true;                  // every byte so far reached the output
    out_packet packet;
    write_queue* queue = nullptr;    // null: no stream (meter), or the stream's end
    uint64_t packets_written = UINT64_MAX;  // without a queue: all, or as its end said
    std::deque<pending_unit> pending;  // in the order their packets go
    std::vector<std::vector<unsigned char>> spare_samples;
    frame_props_file frame_props;
    timecodes_file timecodes;
    FILE* log = nullptr;
    exact_time written_time;  // the frames' durations, summed
    bool own_durations = false;
    // A video stream that states one rate and nothing else of its frames'
    // times (y4m without --timecodes): whether a frame started off the rate.
    bool watches_rate = false;
    int first_off_rate = -1;
    progress_meter progress;
    pump_clock::time_point started;
};

bool emit(pump_run& run)
{
    if (run.queue && run.ok && run.packet.size)
        run.ok = write_queue_push(run.queue, run.packet);
    packet_clear(run.packet);
    return run.ok;
}

// meter: a unit's delivery, and its CSV row.
void record(pump_run& run, int64_t unit, pump_clock::time_point asked, pump_clock::time_point delivered)
{
    meter_measurement* m = run.job.measure;
    if (!m)
        return;
    const double ms = std::chrono::duration<double, std::milli>(delivered - asked).count();
    m->times.push_back(static_cast<float>(ms));
    if (run.log)
        fprintf(run.log, "%" PRId64 ",%.6f,%.3f,%.1f\n", unit + run.job.first_frame,
                std::chrono::duration<double>(asked - run.started).count(), ms, resident_megabytes());
}

// A unit whose bytes were all written: what goes with that.
void complete(pump_run& run, pending_unit& unit)
{
    pump_job& job = run.job;
    if (!unit.frame) {
        run.samples_written = unit.samples_end;
        run.spare_samples.push_back(std::move(unit.samples));
        const audio_shape& a = run.start.audio;
        if (!run.has_video && !job.measure)
            progress_update(run.progress, run.samples_written / a.rate, a.total / a.rate);
        return;
    }
    if (!unit.whole) {
        avs.avs_release_video_frame(unit.frame);
        return;
    }
    write_frame_props(run.frame_props, unit.n, job.env, unit.frame);
    if (run.timecodes.file)
        timecodes_add_frame(run.timecodes, unit.duration_num, unit.duration_den);
    // The frame's start, the durations before it summed, off the rate by
    // more than a millisecond, the coarsest timebase a container rounds
    // to. (The last frame's end is no start: sources guess its duration.)
    const AVS_VideoInfo& vi = *run.start.clip;
    if (run.watches_rate && run.first_off_rate < 0 && vi.fps_numerator != 0 &&
        distance_from_rate(run.written_time, run.written, vi.fps_numerator, vi.fps_denominator) > 0.001L)
        run.first_off_rate = unit.n;
    add_time(run.written_time, unit.duration_num, unit.duration_den);
    avs.avs_release_video_frame(unit.frame);
    record(run, unit.n, unit.asked, unit.delivered);
    ++run.written;
    progress_update(run.progress, run.written, run.frames);
}

// Completes the units the writer is done with; at the end (all_in), drops
// the rest, whose bytes will never be written.
void settle(pump_run& run, bool all_in = false)
{
    const uint64_t written = run.queue ? write_queue_written(run.queue) : run.packets_written;
    while (!run.pending.empty() && run.pending.front().after <= written) {
        complete(run, run.pending.front());
        run.pending.pop_front();
    }
    if (!all_in)
        return;
    for (pending_unit& unit : run.pending)
        if (unit.frame)
            avs.avs_release_video_frame(unit.frame);
    run.pending.clear();
}

// Queues what follows the packets handed over so far, and completes what
// the writer has done meanwhile.
void add_pending(pump_run& run, pending_unit&& unit)
{
    unit.after = run.queue ? write_queue_pushed(run.queue) : 0;
    run.pending.push_back(std::move(unit));
    settle(run);
}

// Samples from the next one up to end, fetched in runs the format takes
// (and at most 8 MiB, so that thousands of channels need no buffer of
// gigabytes); false where the frame server or the output fails.
bool pump_samples(pump_run& run, int64_t end)
{
    const audio_shape& a = run.start.audio;
    if (a.rate == 0 || run.position >= end)
        return true;
    const int64_t most = static_cast<int64_t>((size_t{8} << 20) / a.frame_bytes);
    const int64_t longest = std::max<int64_t>(1, std::min(run.job.format->block_samples(run.state), most));
    while (run.position < end) {
        const int64_t count = std::min(longest, end - run.position);
        const size_t bytes = static_cast<size_t>(count) * a.frame_bytes;
        // A buffer of its own until its bytes are written.
        pending_unit unit;
        if (!run.spare_samples.empty()) {
            unit.samples = std::move(run.spare_samples.back());
            run.spare_samples.pop_back();
        }
        if (unit.samples.size() < bytes + 1)
            unit.samples.resize(bytes + 1);
        if (avs.avs_get_audio(run.job.clip, unit.samples.data(), run.position, count) != 0) {
            const char* error = avs.avs_clip_get_error(run.job.clip);
            const std::string reason = one_line(error ? error : "no samples delivered");
            diag_print(DIAG_WARN, "audio at sample %" PRId64 ": %s\n", run.position, reason.c_str());
            if (run.job.measure)
                run.job.measure->error = "audio at sample " + std::to_string(run.position) + ": " + reason;
            return false;
        }
        run.job.format->audio_block(run.state, {unit.samples.data(), run.position, count, bytes}, run.packet);
        if (!emit(run))
            return false;
        run.position += count;
        unit.samples_end = run.position;
        add_pending(run, std::move(unit));
    }
    return true;
}

// One frame and the samples that go with it; false where it did not go
// out whole.
bool pump_frame(pump_run& run, int n, std::vector<out_chunk>& rows)
{
    pump_job& job = run.job;
    const AVS_VideoInfo& vi = *run.start.clip;
    const pump_clock::time_point asked = pump_clock::now();
    AVS_VideoFrame* frame = fetch_frame(job.clip, n, job.measure ? &job.measure->error : nullptr);
    const pump_clock::time_point delivered = pump_clock::now();
    if (!frame)
        return false;
    frame_in in;
    in.n = n;
    rows.clear();
    if (job.plan) {
        if (!add_frame_rows(rows, frame, *job.plan)) {
            avs.avs_release_video_frame(frame);
            diag_print(DIAG_WARN, "frame %d: smaller than the clip's %dx%d\n", n, vi.width, vi.height);
            return false;
        }
        in.rows = &rows;
        in.bytes = static_cast<size_t>(frame_bytes(*job.plan));
    }
    // Its own duration where the source knows it, else the clip's rate.
    in.duration_num = vi.fps_denominator;
    in.duration_den = vi.fps_numerator;
    if (job.format->reads_durations || run.timecodes.file || run.watches_rate)
        run.own_durations = read_frame_duration(job.env, frame, &in.duration_num, &in.duration_den) ||
                            run.own_durations;
    const int64_t audio_end = job.format->video_frame(run.state, in, run.packet);
    bool ok = emit(run) && pump_samples(run, audio_end);
    if (ok && job.format->frame_done) {
        job.format->frame_done(run.state, run.packet);
        ok = emit(run);
    }
    // Held, its rows in the packets, until they are written; one that
    // failed half way may have packets still to write all the same.
    pending_unit unit;
    unit.frame = frame;
    unit.whole = ok;
    unit.n = n;
    unit.duration_num = in.duration_num;
    unit.duration_den = in.duration_den;
    unit.asked = asked;
    unit.delivered = delivered;
    add_pending(run, std::move(unit));
    return ok;
}

// Audio after the last frame, or a clip's only track: a second at a time.
void pump_audio_tail(pump_run& run)
{
    const audio_shape& a = run.start.audio;
    while (run.ok && run.handed == run.frames && run.position < a.total && !interrupt_requested()) {
        const pump_clock::time_point asked = pump_clock::now();
        const int64_t unit = run.position / a.rate;
        if (!pump_samples(run, std::min(run.position + a.rate, a.total)))
            return;
        record(run, unit, asked, pump_clock::now());
        if (!run.has_video && run.job.measure)
            progress_update(run.progress, unit + 1, (a.total + a.rate - 1) / a.rate);
    }
}

// Asked to stop before the first byte of a stream: nothing more is made,
// and a program already started sees an empty input and is waited for (on
// the way out, see open_sink).
void stop_if_interrupted_before_the_stream(const pump_job& job)
{
    if (job.sink && interrupt_requested())
        diag_print(DIAG_ERROR, "interrupted before the stream began.\n");
}

// Before the clip is opened for writing: which tracks go, and whether the
// format can carry them.
void settle_tracks(pump_run& run)
{
    const pump_job& job = run.job;
    const AVS_VideoInfo& vi = *run.start.clip;
    const format_tracks tracks = job.format->tracks;
    const bool clip_video = vi.width != 0, clip_audio = vi.audio_samples_per_second != 0;
    if (tracks == TRACKS_AUDIO && !clip_audio)
        diag_print(DIAG_ERROR, "clip has no audio.\n");
    if ((tracks == TRACKS_BOTH || tracks == TRACKS_VIDEO_ELSE_AUDIO) && !clip_video && !clip_audio)
        diag_print(DIAG_ERROR, "clip has neither video nor audio.\n");
    run.has_video = tracks != TRACKS_AUDIO && clip_video;
    const bool audio = clip_audio && (tracks == TRACKS_AUDIO || tracks == TRACKS_BOTH ||
                                      (tracks == TRACKS_VIDEO_ELSE_AUDIO && !clip_video));
    if (audio) {
        const std::string fault = audio_shape_fault(vi, job.format->max_channels);
        if (!fault.empty())
            diag_print(DIAG_ERROR, "%s\n", fault.c_str());
        run.start.audio = audio_shape_of(vi);
    }
    run.frames = run.has_video ? vi.num_frames : 0;
    run.start.video = run.has_video ? job.plan : nullptr;
}

// The side files, created before the stream starts.
void open_side_files(pump_run& run)
{
    pump_job& job = run.job;
    run.frame_props.first_frame = job.first_frame;
    run.frame_props.path = job.frame_props_path;
    run.frame_props.file = create_side_file(job.frame_props_path, "frame properties");
    run.timecodes.file = create_side_file(job.timecodes_path, "timecodes");
    run.log = create_side_file(job.log_path, "log");
    if (run.log)
        fputs("frame,start_s,ms,rss_mb\n", run.log);
}

// Starts that the timecodes cannot say are an error before the stream
// starts, as far as frame 0's duration and the clip's length tell.
void check_timecodes_length(const pump_run& run)
{
    if (!run.timecodes.file || !run.job.plan)
        return;
    const video_plan& plan = *run.job.plan;
    const AVS_VideoInfo& vi = *plan.vi;
    const bool own = plan.frame0.duration_den != 0;
    const std::string too_long =
        check_clip_length(vi.num_frames, own ? plan.frame0.duration_num : vi.fps_denominator,
                          own ? plan.frame0.duration_den : vi.fps_numerator, 0, 0, TIMECODES_LAST_SECOND);
    if (!too_long.empty())
        diag_print(DIAG_ERROR, "cannot write the timecodes \"%s\": %s.\n", run.job.timecodes_path.c_str(),
                   too_long.c_str());
}

void close_side_files(pump_run& run)
{
    end_frame_props(run.frame_props);
    if (run.log) {
        const bool ok = fflush(run.log) == 0 && !ferror(run.log);
        if (fclose(run.log) != 0 || !ok)
            diag_print(DIAG_ERROR, "cannot write the log to \"%s\".\n", run.job.log_path.c_str());
    }
}

// The summary and every end-of-run message; an incomplete run ends here
// with status 2.
void say_how_it_ended(pump_run& run, bool timecodes_ok)
{
    const pump_job& job = run.job;
    const bool meter = job.measure != nullptr;
    const audio_shape& a = run.start.audio;
    const bool audio_track = a.rate != 0;
    const char* verb = meter ? "fetched" : "wrote";
    if (run.has_video)
        diag_print(DIAG_SUMMARY, "finished, %s %d frames [%d%%].\n", verb, run.written,
                   percent_of(static_cast<uint64_t>(run.written), static_cast<uint64_t>(run.frames)));
    else if (meter)
        diag_print(DIAG_SUMMARY, "finished, fetched %zu blocks [%d%%].\n", job.measure->times.size(),
                   percent_of(job.measure->times.size(), static_cast<uint64_t>((a.total + a.rate - 1) / a.rate)));
    else
        diag_print(DIAG_SUMMARY, "finished, wrote %" PRId64 " seconds [%d%%].\n", run.samples_written / a.rate,
                   percent_of(static_cast<uint64_t>(run.samples_written), static_cast<uint64_t>(a.total)));
    if (!timecodes_ok)
        diag_print(DIAG_ERROR, "cannot write the timecodes to \"%s\".\n", job.timecodes_path.c_str());

    const bool frames_short = run.written != run.frames, samples_short = audio_track && run.samples_written != a.total;
    const long long blocks = meter ? static_cast<long long>(job.measure->times.size()) : 0;
    const long long all_blocks = audio_track ? (a.total + a.rate - 1) / a.rate : 0;
    char failure[160] = "";
    if (interrupt_requested() && (frames_short || samples_short)) {
        if (run.has_video)
            snprintf(failure, sizeof failure, "interrupted after %d of %d frames.\n", run.written, run.frames);
        else if (meter)
            snprintf(failure, sizeof failure, "interrupted after %lld of %lld blocks.\n", blocks, all_blocks);
        else
            snprintf(failure, sizeof failure, "interrupted after %" PRId64 " of %" PRId64 " samples.\n",
                     run.samples_written, a.total);
    } else if (frames_short) {
        snprintf(failure, sizeof failure, "only %s %d of %d frames.\n", verb, run.written, run.frames);
    } else if (samples_short && meter) {
        snprintf(failure, sizeof failure, "only fetched %lld of %lld blocks.\n", blocks, all_blocks);
    } else if (samples_short) {
        snprintf(failure, sizeof failure, "only wrote %" PRId64 " of %" PRId64 " samples.\n",
                 run.samples_written, a.total);
    } else if (!run.ok) {
        snprintf(failure, sizeof failure, "cannot write to stdout.\n");
    }
    if (!failure[0])
        return;
    // meter reports what it measured of a run cut short, then fails.
    if (meter) {
        job.measure->interrupted = interrupt_requested();
        job.measure->failure = failure;
        return;
    }
    if (!job.sink)
        diag_print(DIAG_ERROR, "%s", failure);
    char written[96];
    if (run.has_video)
        snprintf(written, sizeof written, "%d of %d frames", run.written, run.frames);
    else
        snprintf(written, sizeof written, "%" PRId64 " of %" PRId64 " samples", run.samples_written, a.total);
    fail_stream(*job.sink, failure, written);
}

}  // namespace

void run_pump(pump_job& job)
{
    pump_run run(job);
    run.start.clip = job.plan ? job.plan->vi : avs.avs_get_video_info(job.clip);
    run.start.rf64 = job.rf64;
    run.start.reader_told = job.reader_told;
    settle_tracks(run);
    stop_if_interrupted_before_the_stream(job);
    open_side_files(run);
    run.watches_rate = run.has_video && job.format->tracks == TRACKS_VIDEO && !job.format->reads_durations &&
                       !run.timecodes.file && avs_interface.exports_properties;
    if (job.format->takes_channel_mask)
        run.start.channel_mask = resolve_channel_mask(job.channel_mask, *run.start.clip);
    run.state = job.format->open(run.start);
    check_timecodes_length(run);

    stop_if_interrupted_before_the_stream(job);
    if (job.sink)
        open_sink(*job.sink);
    // Durations of the first frames, for a format that times its track by
    // them before the first frame goes out.
    if (run.has_video && job.format->lookahead_frames && job.plan && job.plan->frame0.duration_den != 0)
        run.start.first_durations =
            read_first_durations(job.clip, job.env, *run.start.clip, job.format->lookahead_frames);
    stop_if_interrupted_before_the_stream(job);
    if (job.sink)
        run.queue = write_queue_start(*job.sink);
    job.format->begin(run.state, run.start, run.packet);
    emit(run);
    if (run.timecodes.file)
        timecodes_begin(run.timecodes, run.timecodes.file, job.timecodes_path);

    const bool meter = job.measure != nullptr;
    if (meter) {
        job.measure->unit = run.has_video ? "frames" : "seconds";
        job.measure->total = run.has_video ? run.frames : (run.start.audio.total + run.start.audio.rate - 1) /
                                                              std::max(run.start.audio.rate, 1);
    }
    run.progress = run.has_video ? progress_begin("frames", "%.1f fps", job.progress_lines)
                                 : progress_begin(meter ? "blocks" : "seconds", "%.1fx real time", job.progress_lines);
    if (meter)
        job.measure->before = read_process_usage();
    run.started = pump_clock::now();
    std::vector<out_chunk> rows;
    rows.reserve(static_cast<size_t>(run.start.clip->height) * 2 + 1);
    for (int n = 0; run.ok && n < run.frames; ++n) {
        if (!pump_frame(run, n, rows))
            break;
        ++run.handed;
        if (interrupt_requested())
            break;
    }
    pump_audio_tail(run);
    if (run.queue)
        run.ok = write_queue_finish(run.queue, &run.packets_written) && run.ok;
    run.queue = nullptr;
    settle(run, true);
    if (meter) {
        job.measure->wall_seconds = std::chrono::duration<double>(pump_clock::now() - run.started).count();
        job.measure->after = read_process_usage();
    }
    if (job.sink)
        run.ok = fflush(stream_out()) == 0 && !ferror(stream_out()) && run.ok;
    progress_end(run.progress);

    close_side_files(run);
    if (run.own_durations && !run.watches_rate)
        check_durations_against_rate(run.written_time, run.written, run.start.clip->fps_numerator,
                                     run.start.clip->fps_denominator);
    if (run.first_off_rate >= 0)
        diag_print(DIAG_WARN,
                   "the frames carry durations of their own (a variable frame rate: frame %d starts off the clip's "
                   "%u/%u fps), and this stream states that one rate: their timing is lost. --timecodes FILE writes "
                   "it for mkvmerge, or mkv carries it.\n",
                   run.first_off_rate + job.first_frame, run.start.clip->fps_numerator,
                   run.start.clip->fps_denominator);
    job.format->end(run.state, run.written);
    const bool timecodes_ok = timecodes_end(run.timecodes);
    say_how_it_ended(run, timecodes_ok);
    if (job.sink && !close_sink(*job.sink))
        diag_print(DIAG_ERROR, "cannot write to stdout.\n");
}
