#include "common/progress.h"

#include <cstdio>

#include "common/diag.h"
#include "common/platform.h"

using progress_clock = std::chrono::steady_clock;

progress_meter progress_begin(const char* unit, const char* speed_format, bool lines_elsewhere)
{
    progress_meter meter;
    meter.enabled = stderr_is_terminal();
    meter.lines = !meter.enabled && lines_elsewhere;
    meter.enabled = meter.enabled || meter.lines;
    meter.unit = unit;
    meter.speed_format = speed_format;
    meter.start = progress_clock::now();
    return meter;
}

namespace {

void say_line(progress_meter& meter, progress_clock::time_point now)
{
    const double seconds = std::chrono::duration<double>(now - meter.start).count();
    const double rate = seconds > 0 ? static_cast<double>(meter.done) / seconds : 0;
    char speed[32], left[32] = "-";
    snprintf(speed, sizeof speed, meter.speed_format, rate);
    if (rate > 0 && meter.done > 0) {
        const long long s = static_cast<long long>((meter.total - meter.done) / rate + 0.5);
        snprintf(left, sizeof left, "%lld:%02lld:%02lld", s / 3600, s / 60 % 60, s % 60);
    }
    const int percent = meter.total > 0 ? static_cast<int>(meter.done * 100 / meter.total) : 100;
    diag_print(DIAG_INFO, "%lld of %lld %s [%d%%], %s, %s left\n", static_cast<long long>(meter.done),
               static_cast<long long>(meter.total), meter.unit, percent, speed, left);
    meter.shown = true;
    meter.last_shown = now;
    meter.said_last = true;
}

}  // namespace

void progress_update(progress_meter& meter, int64_t done, int64_t total)
{
    if (!meter.enabled)
        return;
    progress_clock::time_point now = progress_clock::now();
    if (meter.lines) {
        meter.done = done;
        meter.total = total;
        meter.said_last = false;
        if (!meter.shown || now - meter.last_shown >= std::chrono::milliseconds(500))
            say_line(meter, now);
        return;
    }
    if (meter.shown && now - meter.last_shown < std::chrono::milliseconds(250))
        return;
    double seconds = std::chrono::duration<double>(now - meter.start).count();
    char speed[32] = "";
    if (seconds > 0)
        snprintf(speed, sizeof speed, meter.speed_format, static_cast<double>(done) / seconds);
    int percent = total > 0 ? static_cast<int>(done * 100 / total) : 100;
    char line[160];
    int width = snprintf(line, sizeof line, "%lld of %lld %s [%d%%], %s", static_cast<long long>(done),
                         static_cast<long long>(total), meter.unit, percent, speed);
    // Pads over what is left of a longer earlier line.
    diag_print(DIAG_SUMMARY, "%s%*s", line, meter.width > width ? meter.width - width : 0, "");
    meter.width = width > meter.width ? width : meter.width;
    meter.shown = true;
    meter.last_shown = now;
}

void progress_end(progress_meter& meter)
{
    if (meter.lines && !meter.said_last)
        say_line(meter, progress_clock::now());
    if (!meter.shown || meter.lines)
        return;
    // The prefix is as long as the diagnostic prefix it printed before.
    fprintf(stderr, "\r%*s\r", meter.width + static_cast<int>(sizeof "clipspout [info]: " - 1), "");
}
