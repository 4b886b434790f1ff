// The Matroska stream as its readers see it: cases that every frame server
// with frame properties must pass, run against the one options names, and
// the helpers that read a stream back through ffmpeg from a pipe.
#pragma once

#include <functional>
#include <map>
#include <string>

#include "harness.h"

// What a reader makes of a stream that reaches it through a pipe: the
// command gets the stream on its standard input; its standard output.
std::string read_through_pipe(const std::string& stream, const std::string& reader);

// ffmpeg's decode of the stream's video as raw frames in pix_fmt, or of its
// audio in a raw sample format ("s16le").
std::string matroska_frames(const std::string& stream, const std::string& pix_fmt);
std::string matroska_samples(const std::string& stream, const std::string& raw_format);

// ffprobe's "key=value" lines for the first stream of that type ("v", "a"),
// side data included; a key seen twice keeps its first value.
std::map<std::string, std::string> probe_fields(const std::string& stream, const char* type = "v");

// A fraction as ffprobe prints it ("17/25", "1000/1") as a number.
double fraction_value(const std::string& text);

void check_matroska_metadata(const run_options& options);

// The audio of every sample type in 2 and 6 channels equals what "audio"
// writes. script gives a clip of 1.2 s of video at 25 fps with 1.5 s of
// audio of that type ("8bit", "16bit", "24bit", "32bit", "float").
void check_matroska_audio(const run_options& options,
                          const std::function<std::string(const std::string& sample_type, int channels)>& script);

void check_matroska_timing(const run_options& options);
void check_matroska_ranges_and_failures(const run_options& options);
