#include "common/progress.h"

#include <cstdio>

#include "common/diag.h"
#include "common/platform.h"

using progress_clock = std::chrono::steady_clock;

progress_meter progress_begin(const char* unit, const char* speed_format)
{
    progress_meter meter;
    meter.enabled = stderr_is_terminal();
    meter.unit = unit;
    meter.speed_format = speed_format;
    meter.start = progress_clock::now();
    return meter;
}

void progress_update(progress_meter& meter, int64_t done, int64_t total)
{
    if (!meter.enabled)
        return;
    progress_clock::time_point now = progress_clock::now();
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
    if (!meter.shown)
        return;
    // The prefix is as long as the diagnostic prefix it printed before.
    fprintf(stderr, "\r%*s\r", meter.width + static_cast<int>(sizeof "clipspout [info]: " - 1), "");
}
