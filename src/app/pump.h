// The one loop of every stream and of meter: fetch a frame or a block of
// samples, hand it to the format, write its bytes to the sink. It owns what
// goes with the loop, once: the side files (--timecodes, --frame-props,
// --log), progress, Ctrl-C, the summary, every end-of-run message and the
// status.
#pragma once

#include <string>

#include "frameserver/avs_c.h"
#include "frameserver/video_plan.h"
#include "reports/meter_report.h"
#include "writers/format.h"
#include "writers/sink.h"

struct pump_job {
    AVS_Clip* clip = nullptr;
    AVS_ScriptEnvironment* env = nullptr;
    const stream_format* format = &NULL_FORMAT;
    const video_plan* plan = nullptr;  // the video as written; null: none, or meter's clip as it is
    stream_sink* sink = nullptr;       // null: no stream (meter)
    int64_t channel_mask = 0;          // --channel-mask (WAV)
    rf64_use rf64 = RF64_NEVER;        // --rf64 (WAV)
    bool reader_told = false;          // --tell-encoder: the program has the *args line
    int first_frame = 0;               // of the range (-s), for the side files' numbers
    std::string timecodes_path, frame_props_path, log_path;  // empty: not asked for
    meter_measurement* measure = nullptr;  // meter: each fetch timed
    bool progress_lines = false;           // --progress: a line each where standard error is no terminal
};

// Runs the job to its end. Returns only where every frame and sample went
// out (or, for meter, was fetched); anything less ends the process with an
// error that says what was written.
void run_pump(pump_job& job);
