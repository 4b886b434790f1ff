// meter, --json and --frame-props: cases that both frame servers must
// pass, run against the one options names.
#pragma once

#include <string>

#include "harness.h"

// Parses text as JSON with Python's json module and with jq; the object
// Python makes of it, printed back by Python with sorted keys, or "" where
// either refuses it.
std::string parse_json(const std::string& text);

// A field of a JSON object (a path of keys, as jq writes it: ".video.frames"),
// as jq prints it.
std::string json_field(const std::string& text, const std::string& path);

// What meter --json reports must agree with itself whatever else the
// machine is doing: every field there with its type, busy cores the
// processor time over the wall time of the same stretch, the rate the units
// fetched over that time, the delivery times in order and within the wall
// time. "" where they agree, else what does not.
std::string meter_figures_disagree(const std::string& json);

// info --json: valid whatever the properties hold (quotes, newlines, bytes
// that are not UTF-8, NaN), each property with its type and the value the
// script set, the same facts as info, and what video and mkv would write.
void check_info_json(const run_options& options);

// meter: every frame fetched, as video writes them, also in a range; its
// report and its JSON agree; --log has a row a frame; --frame-props a line
// a frame written, for video and mkv too; a frame the server cannot deliver
// ends with status 2.
void check_meter(const run_options& options);

// meter where frame 7 cannot be delivered (fault: the script line that
// makes it so; message: the server's reason): the report of frames 0 to 6,
// marked as cut short, then status 2.
void check_meter_cut_short_by_a_frame(const run_options& options, const std::string& fault,
                                      const std::string& message);

// meter on a clip of no frames names none.
void check_meter_of_no_frames(const run_options& options);
