// --timecodes FILE: the start time of every frame written, so that a muxer
// can restore a variable frame rate (mkvmerge --timestamps 0:FILE).
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "writers/stream_time.h"

// Format v2: "# timestamp format v2", then one line a frame, its start in
// milliseconds with 6 decimals; the first frame written is at 0.
struct timecodes_file {
    FILE* file = nullptr;  // null: no timecodes asked for
    std::string path;      // for messages
    // The next frame's start, kept exact: an hour of 24000/1001 must not
    // drift.
    exact_time start;
    bool ok = true;
    bool own_durations = false;  // some frame said how long it lasts
    std::string last_line;       // the latest start written
    int frames = 0;              // lines written
    int shared = -1;             // the first frame whose line repeats the one before
};

// Writes the file's first line; a file that cannot be created ends the
// process with an error.
void timecodes_begin(timecodes_file& timecodes, FILE* file, const std::string& path);

// Adds the line of a frame that went out, lasting num/den seconds. A start
// past what the file can say (64-bit milliseconds), or durations too fine
// to add up exactly, end the process with an error naming the frame.
void timecodes_add_frame(timecodes_file& timecodes, int64_t num, int64_t den);

// Completes the file; false where any of it did not reach the disk. Says
// where frames shorter than the file's finest time (a nanosecond) share
// their start.
bool timecodes_end(timecodes_file& timecodes);

// A time of num/den seconds as milliseconds with 6 decimals, rounded.
std::string milliseconds_text(int64_t num, int64_t den);
