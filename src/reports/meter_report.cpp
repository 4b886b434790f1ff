#include "reports/meter_report.h"

#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <cmath>
#include <vector>

#include "common/diag.h"
#include "common/json.h"
#include "common/platform.h"
#include "common/progress.h"
#include "frameserver/avs_library.h"
#include "frameserver/clip_traits.h"
#include "frameserver/video_plan.h"

namespace {

using meter_clock = std::chrono::steady_clock;

// What one run measured.
struct measurement {
    const char* unit = "frames";  // or "seconds" (of audio, a block each)
    int64_t total = 0;            // units the clip has
    std::vector<float> times;     // milliseconds to deliver each unit fetched
    // From the first fetch to the last delivery; the process's usage is
    // read at the same two moments, so that busy cores are its processor
    // time over this very stretch.
    double wall_seconds = 0;
    process_usage before, after;
};

double seconds_since(meter_clock::time_point start)
{
    return std::chrono::duration<double>(meter_clock::now() - start).count();
}

// Adds a unit's delivery to the run, its CSV row to the log.
void record(measurement& m, meter_options& options, int64_t n, meter_clock::time_point start,
            meter_clock::time_point asked, meter_clock::time_point delivered)
{
    const double ms = std::chrono::duration<double, std::milli>(delivered - asked).count();
    m.times.push_back(static_cast<float>(ms));
    if (options.log)
        fprintf(options.log, "%" PRId64 ",%.6f,%.3f,%.1f\n", n + options.first_frame,
                std::chrono::duration<double>(asked - start).count(), ms, resident_megabytes());
}

void fetch_frames(AVS_Clip* clip, AVS_ScriptEnvironment* env, const AVS_VideoInfo& vi, meter_options& options,
                  measurement& m)
{
    m.total = vi.num_frames;
    progress_meter progress = progress_begin("frames", "%.1f fps");
    m.before = read_process_usage();
    const meter_clock::time_point start = meter_clock::now();
    for (int n = 0; n < vi.num_frames; ++n) {
        const meter_clock::time_point asked = meter_clock::now();
        AVS_VideoFrame* frame = fetch_frame(clip, n);
        const meter_clock::time_point delivered = meter_clock::now();
        if (!frame)
            break;
        write_frame_props(options.frame_props, n, env, frame);
        avs.avs_release_video_frame(frame);
        record(m, options, n, start, asked, delivered);
        progress_update(progress, n + 1, vi.num_frames);
        if (interrupt_requested())
            break;
    }
    m.wall_seconds = seconds_since(start);
    m.after = read_process_usage();
    progress_end(progress);
}

void fetch_audio(AVS_Clip* clip, const AVS_VideoInfo& vi, meter_options& options, measurement& m)
{
    m.unit = "seconds";
    const int64_t rate = vi.audio_samples_per_second;
    const int64_t samples = vi.num_audio_samples > 0 ? vi.num_audio_samples : 0;
    const size_t frame_bytes = static_cast<size_t>(sample_bytes(vi.sample_type)) * static_cast<size_t>(vi.nchannels);
    m.total = (samples + rate - 1) / rate;
    // A second is fetched in pieces of at most 8 MiB, so that a clip of
    // thousands of channels needs no buffer of gigabytes.
    const int64_t most = static_cast<int64_t>((size_t{8} << 20) / frame_bytes);
    const int64_t piece = std::max<int64_t>(1, std::min<int64_t>({rate, samples, most}));
    std::vector<unsigned char> buffer(frame_bytes * static_cast<size_t>(piece) + 1);
    progress_meter progress = progress_begin("blocks", "%.1fx real time");
    m.before = read_process_usage();
    const meter_clock::time_point start = meter_clock::now();
    for (int64_t block = 0; block * rate < samples; ++block) {
        const int64_t end = std::min(block * rate + rate, samples);
        const meter_clock::time_point asked = meter_clock::now();
        bool delivered = true;
        for (int64_t first = block * rate; first < end && delivered; first += piece) {
            delivered = avs.avs_get_audio(clip, buffer.data(), first, std::min(piece, end - first)) == 0;
            if (!delivered) {
                const char* error = avs.avs_clip_get_error(clip);
                diag_print(DIAG_WARN, "audio at sample %" PRId64 ": %s\n", first,
                           one_line(error ? error : "no samples delivered").c_str());
            }
        }
        if (!delivered)
            break;
        record(m, options, block, start, asked, meter_clock::now());
        progress_update(progress, block + 1, m.total);
        if (interrupt_requested())
            break;
    }
    m.wall_seconds = seconds_since(start);
    m.after = read_process_usage();
    progress_end(progress);
}

// AviSynth+'s own counts, each where its interface gives one.
struct server_counts {
    long long logical_cpus = -1, pool_threads = -1, chain_threads = -1, memory_max_mb = -1;
};

server_counts read_server_counts(AVS_ScriptEnvironment* env)
{
    server_counts c;
    if (avs.avs_get_env_property) {
        c.logical_cpus = static_cast<long long>(avs.avs_get_env_property(env, AVS_AEP_LOGICAL_CPUS));
        c.pool_threads = static_cast<long long>(avs.avs_get_env_property(env, AVS_AEP_THREADPOOL_THREADS));
        c.chain_threads = static_cast<long long>(avs.avs_get_env_property(env, AVS_AEP_FILTERCHAIN_THREADS));
    }
    if (avs.avs_set_memory_max)
        c.memory_max_mb = avs.avs_set_memory_max(env, 0);
    return c;
}

struct summary {
    double fastest = 0, median = 0, p95 = 0, slowest = 0;
    int64_t slowest_unit = -1;
    double per_second = 0, user = 0, system = 0, busy_cores = 0;
};

summary summarize(const measurement& m)
{
    summary s;
    if (!m.times.empty()) {
        std::vector<float> sorted = m.times;
        std::sort(sorted.begin(), sorted.end());
        const size_t n = sorted.size();
        s.fastest = sorted.front();
        s.slowest = sorted.back();
        s.median = n % 2 ? sorted[n / 2] : (sorted[n / 2 - 1] + sorted[n / 2]) / 2.0;
        s.p95 = sorted[static_cast<size_t>(std::ceil(0.95 * static_cast<double>(n))) - 1];
        s.slowest_unit = std::max_element(m.times.begin(), m.times.end()) - m.times.begin();
    }
    if (m.wall_seconds > 0)
        s.per_second = static_cast<double>(m.times.size()) / m.wall_seconds;
    s.user = m.after.user_seconds - m.before.user_seconds;
    s.system = m.after.system_seconds - m.before.system_seconds;
    if (m.wall_seconds > 0)
        s.busy_cores = (s.user + s.system) / m.wall_seconds;
    return s;
}

void print_text(const measurement& m, const summary& s, const server_counts& c, const meter_options& options,
                const std::string& picture)
{
    const bool frames = m.unit[0] == 'f';
    const int64_t fetched = static_cast<int64_t>(m.times.size());
    if (frames)
        printf("frames        %" PRId64 " (%d to %" PRId64 ")\n", fetched, options.first_frame,
               options.first_frame + fetched - 1);
    else
        printf("seconds       %" PRId64 " of audio, a block each\n", fetched);
    printf("wall time     %.3f s\n", m.wall_seconds);
    printf("average       %.2f %s\n", s.per_second, frames ? "fps" : "seconds of audio a second");
    printf("fastest       %.3f ms\n", s.fastest);
    printf("median        %.3f ms\n", s.median);
    printf("95th          %.3f ms\n", s.p95);
    printf("slowest       %.3f ms (%s %" PRId64 ")\n", s.slowest, frames ? "frame" : "second",
           s.slowest_unit + (frames ? options.first_frame : 0));
    printf("peak memory   %.1f MB\n", m.after.peak_megabytes);
    printf("user time     %.3f s\n", s.user);
    printf("system time   %.3f s\n", s.system);
    printf("busy cores    %.2f\n", s.busy_cores);
    if (c.logical_cpus >= 0)
        printf("processors    %lld\n", c.logical_cpus);
    if (c.pool_threads >= 0)
        printf("pool threads  %lld\n", c.pool_threads);
    if (c.chain_threads >= 0)
        printf("chain threads %lld\n", c.chain_threads);
    if (c.memory_max_mb >= 0)
        printf("memory max    %lld MB\n", c.memory_max_mb);
    printf("speed         %s\n", picture.c_str());
}

// Times to the microsecond, memory to the kilobyte: the clock says no more.
std::string rounded(double value, double unit)
{
    return json_decimal(value, unit >= 1e-3 ? 3 : 6);
}

void print_json(const measurement& m, const summary& s, const server_counts& c, const meter_options& options,
                const std::string& picture)
{
    const bool frames = m.unit[0] == 'f';
    const int64_t fetched = static_cast<int64_t>(m.times.size());
    std::string json = "{\"unit\": \"" + std::string(m.unit) + "\", \"fetched\": " + json_integer(fetched) +
                       ", \"total\": " + json_integer(m.total);
    if (frames)
        json += ", \"first_frame\": " + json_integer(options.first_frame) +
                ", \"last_frame\": " + json_integer(options.first_frame + fetched - 1);
    json += ", \"wall_seconds\": " + rounded(m.wall_seconds, 1e-6) + ", \"per_second\": " + rounded(s.per_second, 1e-3);
    json += ", \"delivery_ms\": {\"fastest\": " + rounded(s.fastest, 1e-3) +
            ", \"median\": " + rounded(s.median, 1e-3) + ", \"p95\": " + rounded(s.p95, 1e-3) +
            ", \"slowest\": " + rounded(s.slowest, 1e-3) +
            ", \"slowest_at\": " + json_integer(s.slowest_unit + (frames ? options.first_frame : 0)) + "}";
    json += ", \"peak_memory_mb\": " + rounded(m.after.peak_megabytes, 1e-3) +
            ", \"user_seconds\": " + rounded(s.user, 1e-6) + ", \"system_seconds\": " + rounded(s.system, 1e-6) +
            ", \"busy_cores\": " + rounded(s.busy_cores, 1e-3);
    json += ", \"frame_server\": {";
    std::string counts;
    for (const auto& count : {std::make_pair("logical_cpus", c.logical_cpus),
                              std::make_pair("threadpool_threads", c.pool_threads),
                              std::make_pair("filterchain_threads", c.chain_threads),
                              std::make_pair("memory_max_mb", c.memory_max_mb)})
        if (count.second >= 0)
            counts += (counts.empty() ? "\"" : ", \"") + std::string(count.first) + "\": " + json_integer(count.second);
    json += counts + "}, \"speed_picture\": " + json_string(picture) + "}\n";
    fputs(json.c_str(), stdout);
}

}  // namespace

std::string speed_picture(const float* milliseconds, size_t count, bool ascii)
{
    static const char* const blocks[] = {"\u2581", "\u2582", "\u2583", "\u2584",
                                         "\u2585", "\u2586", "\u2587", "\u2588"};
    static const char* const letters[] = {"_", ".", "-", "=", "#"};
    const size_t columns = std::min<size_t>(60, count);
    std::vector<double> speed(columns, 0);
    double fastest = 0;
    for (size_t c = 0; c < columns; ++c) {
        const size_t first = c * count / columns, end = (c + 1) * count / columns;
        double ms = 0;
        for (size_t i = first; i < end; ++i)
            ms += milliseconds[i];
        speed[c] = ms > 0 ? static_cast<double>(end - first) / ms : 0;
        fastest = std::max(fastest, speed[c]);
    }
    std::string picture;
    const int levels = ascii ? 5 : 8;
    for (size_t c = 0; c < columns; ++c) {
        // A column with no time to speak of is as fast as the fastest.
        const double share = fastest > 0 && speed[c] > 0 ? speed[c] / fastest : 1;
        const int level = std::min(levels - 1, static_cast<int>(std::lround(share * (levels - 1))));
        picture += ascii ? letters[level] : blocks[level];
    }
    return picture;
}

void run_meter(AVS_Clip* clip, AVS_ScriptEnvironment* env, meter_options& options)
{
    const AVS_VideoInfo& vi = *avs.avs_get_video_info(clip);
    if (vi.width == 0 && vi.audio_samples_per_second == 0)
        diag_print(DIAG_ERROR, "clip has neither video nor audio.\n");
    if (vi.width == 0) {
        const std::string fault = audio_shape_fault(vi, INT32_MAX);
        if (!fault.empty())
            diag_print(DIAG_ERROR, "%s\n", fault.c_str());
    }
    if (options.log)
        fputs("frame,start_s,ms,rss_mb\n", options.log);
    measurement m;
    if (vi.width != 0)
        diag_print(DIAG_INFO, "fetching %d frames of %u/%u fps, %dx%d video.\n", vi.num_frames, vi.fps_numerator,
                   vi.fps_denominator, vi.width, vi.height);
    else
        // The report counts blocks of a second, the last one partial: the
        // line says both, so that 2.5 s fetched as 3 blocks adds up.
        diag_print(DIAG_INFO, "fetching %.3f seconds of %d Hz, %d channel audio in %" PRId64 " blocks of a second.\n",
                   static_cast<double>(vi.num_audio_samples) / vi.audio_samples_per_second,
                   vi.audio_samples_per_second, vi.nchannels,
                   (vi.num_audio_samples + vi.audio_samples_per_second - 1) / vi.audio_samples_per_second);
    if (vi.width != 0)
        fetch_frames(clip, env, vi, options, m);
    else
        fetch_audio(clip, vi, options, m);

    const int64_t fetched = static_cast<int64_t>(m.times.size());
    const char* counted = m.unit[0] == 'f' ? "frames" : "blocks";
    diag_print(DIAG_SUMMARY, "finished, fetched %" PRId64 " %s [%d%%].\n", fetched, counted,
               m.total > 0 ? static_cast<int>(fetched * 100 / m.total) : 100);
    end_frame_props(options.frame_props);
    if (options.log) {
        const bool ok = fflush(options.log) == 0 && !ferror(options.log);
        if (fclose(options.log) != 0 || !ok)
            diag_print(DIAG_ERROR, "cannot write the log to \"%s\".\n", options.log_path.c_str());
    }
    if (interrupt_requested() && fetched < m.total)
        diag_print(DIAG_ERROR, "interrupted after %" PRId64 " of %" PRId64 " %s.\n", fetched, m.total, counted);
    if (fetched < m.total)
        diag_print(DIAG_ERROR, "only fetched %" PRId64 " of %" PRId64 " %s.\n", fetched, m.total, counted);

    const summary s = summarize(m);
    const server_counts counts = read_server_counts(env);
    const std::string picture = speed_picture(m.times.data(), m.times.size(), options.ascii || !stdout_shows_utf8());
    if (options.json)
        print_json(m, s, counts, options, picture);
    else
        print_text(m, s, counts, options, picture);
}
