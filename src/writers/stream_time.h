// Times kept exact, as fractions of a second in lowest terms, so that the
// starts of a film's frames add up without drift and are rounded only where
// a stream writes them.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "common/numbers.h"

struct exact_time {
    int64_t num = 0, den = 1;  // seconds; den > 0
};

// time += num/den seconds (num >= 0, den > 0). False, leaving time as it
// was, where the sum cannot be held exactly in 64 bits.
bool add_time(exact_time& time, int64_t num, int64_t den);

// time x units (units per second), rounded to the nearest unit (halves up),
// or up to the next whole unit. False where the result does not fit.
bool time_in_units(const exact_time& time, int64_t units, int64_t* result);
bool time_in_units_rounded_up(const exact_time& time, int64_t units, int64_t* result);

// Where frames carried their own durations, whether their sum, total, is
// within a frame of what frames at the clip's rate last; if not, warns
// that a filter changed the rate and left the source's durations on the
// frames (AviSynth+'s AssumeFPS does), and how the script drops them.
void check_durations_against_rate(const exact_time& total, int frames, unsigned fps_numerator,
                                  unsigned fps_denominator);

// A rate of 0 (AssumeFPS(0, 1) is accepted) gives frames no duration, and
// neither container can state it (y4m readers take F0:1 for 25 fps or
// refuse it): an error before the stream starts.
void refuse_rate_without_duration(unsigned fps_numerator, unsigned fps_denominator);

// Whether frames of these durations (seconds, num/den each, in order) keep
// to the clip's rate as a source stores it: a container keeps each frame's
// time in its own timebase, rounded, so a film at 24000/1001 in Matroska
// has frames of 41 and 42 ms. They keep to the rate when every start, the
// sum of the durations before it, lies within one tick of where the rate
// puts it. The tick is the finest the durations show (the least common
// multiple of their denominators) but at most a millisecond, the coarsest
// timebase containers use, so that no real difference passes as rounding.
struct rate_fit {
    bool keeps_rate = false;
    long double tick = 0;  // seconds
};
rate_fit durations_keep_rate(unsigned fps_numerator, unsigned fps_denominator,
                             const std::vector<std::pair<int64_t, int64_t>>& durations);

// How far, in seconds, a start lies from frame n's start at the rate.
long double distance_from_rate(const exact_time& start, int64_t n, unsigned fps_numerator, unsigned fps_denominator);

// The latest time each stream can say: Matroska's readers hold times as
// signed 64-bit nanoseconds (about 292 years), the timecodes file as
// signed 64-bit milliseconds before its decimals.
constexpr long double MATROSKA_LAST_SECOND = 9223372036854775807.0L / 1000000000;
constexpr long double TIMECODES_LAST_SECOND = 9223372036854774.0L;  // whole milliseconds and the decimals fit

long double seconds_of(const exact_time& time);

// Adds num/den seconds to time, as add_time does, and checks the sum
// against the latest second the stream can say. Empty where it holds; else
// why not: the frames run too long for the stream, or their durations are
// too fine to add up exactly in 64 bits.
std::string add_stream_time(exact_time& time, int64_t num, int64_t den, long double last_second);

// Before the stream starts: frames of frame_num/frame_den seconds each, and
// audio of samples at rate, against the latest second the stream can say;
// empty where they fit, else the reason.
std::string check_clip_length(int64_t frames, int64_t frame_num, int64_t frame_den, int64_t samples, int64_t rate,
                              long double last_second);
