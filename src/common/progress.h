// A live progress line for a person watching a long run in a terminal.
// Where standard error is not a terminal nothing is printed at all, so logs
// and pipes carry only the tool's regular messages.
#pragma once

#include <chrono>
#include <cstdint>

struct progress_meter {
    bool enabled = false;
    const char* unit = "";          // "frames", "seconds"
    const char* speed_format = "";  // printf format of the speed, units per second
    std::chrono::steady_clock::time_point start, last_shown;
    bool shown = false;
    int width = 0;                  // length of the line on screen
};

progress_meter progress_begin(const char* unit, const char* speed_format);

// Shows done of total, at most a few times a second.
void progress_update(progress_meter& meter, int64_t done, int64_t total);

// Clears the line, so that the summary that follows replaces it whole.
void progress_end(progress_meter& meter);
