// A live progress line for a person watching a long run in a terminal.
// Where standard error is not a terminal nothing is printed at all, so logs
// and pipes carry only the tool's regular messages, unless asked for lines
// (--progress): then each update is a line of its own, for a program to
// read, at most two a second and one at the end:
//   clipspout [info]: 120 of 300 frames [40%], 45.2 fps, 0:00:03 left
// (seconds or blocks for audio and "x real time" for its speed; "-" left
// while nothing is done yet).
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
    bool lines = false;             // a line each, where standard error is no terminal
    int64_t done = 0, total = 0;    // as last told
    bool said_last = true;          // the last state told is on a line
};

progress_meter progress_begin(const char* unit, const char* speed_format, bool lines_elsewhere = false);

// Shows done of total, at most a few times a second.
void progress_update(progress_meter& meter, int64_t done, int64_t total);

// Clears the line, so that the summary that follows replaces it whole.
void progress_end(progress_meter& meter);
