#include "reports/meter_report.h"

#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <vector>

#include "common/diag.h"
#include "common/json.h"
#include "common/platform.h"
#include "frameserver/avs_library.h"

namespace {

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

summary summarize(const meter_measurement& m)
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

void print_text(const meter_measurement& m, const summary& s, const server_counts& c, int first_frame,
                const std::string& picture)
{
    const bool frames = m.unit[0] == 'f';
    const int64_t fetched = static_cast<int64_t>(m.times.size());
    if (frames && fetched > 0)
        fprintf(stream_out(), "frames        %" PRId64 " (%d to %" PRId64 ")\n", fetched, first_frame,
               first_frame + fetched - 1);
    else if (frames)
        fprintf(stream_out(), "frames        0\n");
    else
        fprintf(stream_out(), "seconds       %" PRId64 " of audio, a block each\n", fetched);
    fprintf(stream_out(), "wall time     %.3f s\n", m.wall_seconds);
    fprintf(stream_out(), "average       %.2f %s\n", s.per_second, frames ? "fps" : "seconds of audio a second");
    fprintf(stream_out(), "fastest       %.3f ms\n", s.fastest);
    fprintf(stream_out(), "median        %.3f ms\n", s.median);
    fprintf(stream_out(), "95th          %.3f ms\n", s.p95);
    if (fetched > 0)
        fprintf(stream_out(), "slowest       %.3f ms (%s %" PRId64 ")\n", s.slowest, frames ? "frame" : "second",
               s.slowest_unit + (frames ? first_frame : 0));
    else
        fprintf(stream_out(), "slowest       %.3f ms\n", s.slowest);
    fprintf(stream_out(), "peak memory   %.1f MB\n", m.after.peak_megabytes);
    fprintf(stream_out(), "user time     %.3f s\n", s.user);
    fprintf(stream_out(), "system time   %.3f s\n", s.system);
    fprintf(stream_out(), "busy cores    %.2f\n", s.busy_cores);
    if (c.logical_cpus >= 0)
        fprintf(stream_out(), "processors    %lld\n", c.logical_cpus);
    if (c.pool_threads >= 0)
        fprintf(stream_out(), "pool threads  %lld\n", c.pool_threads);
    if (c.chain_threads >= 0)
        fprintf(stream_out(), "chain threads %lld\n", c.chain_threads);
    if (c.memory_max_mb >= 0)
        fprintf(stream_out(), "memory max    %lld MB\n", c.memory_max_mb);
    fprintf(stream_out(), "speed         %s\n", picture.c_str());
    // A run cut short says so last, where a reader of the figures looks.
    if (m.interrupted || !m.error.empty())
        fprintf(stream_out(), "cut short     %s (%" PRId64 " of %" PRId64 " %s fetched)\n",
               m.interrupted ? "interrupted" : m.error.c_str(), fetched, m.total, frames ? "frames" : "seconds");
}

// Times to the microsecond, memory to the kilobyte: the clock says no more.
std::string rounded(double value, double unit)
{
    return json_decimal(value, unit >= 1e-3 ? 3 : 6);
}

void print_json(const meter_measurement& m, const summary& s, const server_counts& c, int first_frame,
                const std::string& picture)
{
    const bool frames = m.unit[0] == 'f';
    const int64_t fetched = static_cast<int64_t>(m.times.size());
    std::string json = "{\"unit\": \"" + std::string(m.unit) + "\", \"fetched\": " + json_integer(fetched) +
                       ", \"total\": " + json_integer(m.total);
    // No frame is named where none was fetched.
    const bool any = fetched > 0;
    if (frames)
        json += ", \"first_frame\": " + (any ? json_integer(first_frame) : "null") +
                ", \"last_frame\": " + (any ? json_integer(first_frame + fetched - 1) : "null");
    json += ", \"wall_seconds\": " + rounded(m.wall_seconds, 1e-6) + ", \"per_second\": " + rounded(s.per_second, 1e-3);
    json += ", \"delivery_ms\": {\"fastest\": " + rounded(s.fastest, 1e-3) +
            ", \"median\": " + rounded(s.median, 1e-3) + ", \"p95\": " + rounded(s.p95, 1e-3) +
            ", \"slowest\": " + rounded(s.slowest, 1e-3) +
            ", \"slowest_at\": " + (any ? json_integer(s.slowest_unit + (frames ? first_frame : 0)) : "null") + "}";
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
    json += counts + "}, \"speed_picture\": " + json_string(picture);
    json += std::string(", \"interrupted\": ") + (m.interrupted ? "true" : "false") +
            ", \"error\": " + (m.error.empty() ? "null" : json_string(m.error)) + "}\n";
    fputs(json.c_str(), stream_out());
}

}  // namespace

std::string speed_picture(const float* milliseconds, size_t count, bool ascii)
{
    static const char* const blocks[] = {"\u2581", "\u2582", "\u2583", "\u2584",
                                         "\u2585", "\u2586", "\u2587", "\u2588"};
    static const char* const letters[] = {"_", ".", "-", "=", "#"};
    const size_t columns = std::min<size_t>(60, count);
    std::vector<double> speed(columns, 0);
    for (size_t c = 0; c < columns; ++c) {
        const size_t first = c * count / columns, end = (c + 1) * count / columns;
        double ms = 0;
        for (size_t i = first; i < end; ++i)
            ms += milliseconds[i];
        speed[c] = ms > 0 ? static_cast<double>(end - first) / ms : 0;
    }
    // The top is the 90th percentile of the columns, not the fastest: a
    // source's last frames, delivered from its cache in a fraction of a
    // millisecond, would flatten the rest of a film into the lowest level.
    std::vector<double> timed;
    for (double s : speed)
        if (s > 0)
            timed.push_back(s);
    std::sort(timed.begin(), timed.end());
    const double top = timed.empty() ? 0 : timed[(timed.size() - 1) * 9 / 10];
    std::string picture;
    const int levels = ascii ? 5 : 8;
    for (size_t c = 0; c < columns; ++c) {
        // A column with no time to speak of is as fast as the top.
        const double share = top > 0 && speed[c] > 0 ? std::min(1.0, speed[c] / top) : 1;
        const int level = std::min(levels - 1, static_cast<int>(std::lround(share * (levels - 1))));
        picture += ascii ? letters[level] : blocks[level];
    }
    return picture;
}

void print_meter_report(const meter_measurement& m, AVS_ScriptEnvironment* env, bool json, bool ascii,
                        int first_frame)
{
    const summary s = summarize(m);
    const server_counts counts = read_server_counts(env);
    const std::string picture = speed_picture(m.times.data(), m.times.size(), ascii || !stdout_shows_utf8());
    if (json)
        print_json(m, s, counts, first_frame, picture);
    else
        print_text(m, s, counts, first_frame, picture);
}
