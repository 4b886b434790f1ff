#include "writers/stream_time.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "common/diag.h"
#include "common/numbers.h"

namespace {

bool multiply(int64_t a, int64_t b, int64_t* product)
{
    if (a != 0 && (b > INT64_MAX / a || b < INT64_MIN / a))
        return false;
    *product = a * b;
    return true;
}

// floor(time x units) and what is left over, as a fraction of den.
bool scale(const exact_time& time, int64_t units, int64_t* whole, int64_t* rest)
{
    // num = q den + r, so num x units / den = q units + r units / den.
    const int64_t q = time.num / time.den, r = time.num % time.den;
    int64_t q_units = 0, r_units = 0;
    if (!multiply(q, units, &q_units) || !multiply(r, units, &r_units))
        return false;
    *whole = q_units + r_units / time.den;
    *rest = r_units % time.den;
    return *whole >= q_units;
}

}  // namespace

bool add_time(exact_time& time, int64_t num, int64_t den)
{
    // num/den + a/b over the least common denominator, in lowest terms.
    const int64_t g = gcd(time.den, den);
    int64_t den_sum = 0, left = 0, right = 0;
    if (!multiply(time.den / g, den, &den_sum) || !multiply(time.num, den / g, &left) ||
        !multiply(num, time.den / g, &right) || left > INT64_MAX - right || den_sum > INT64_MAX / 10)
        return false;
    const int64_t reduce = gcd(left + right, den_sum);
    time.num = (left + right) / reduce;
    time.den = den_sum / reduce;
    return true;
}

bool time_in_units(const exact_time& time, int64_t units, int64_t* result)
{
    int64_t whole = 0, rest = 0;
    if (!scale(time, units, &whole, &rest))
        return false;
    *result = whole + (rest >= time.den - rest ? 1 : 0);
    return true;
}

bool time_in_units_rounded_up(const exact_time& time, int64_t units, int64_t* result)
{
    int64_t whole = 0, rest = 0;
    if (!scale(time, units, &whole, &rest))
        return false;
    *result = whole + (rest > 0 ? 1 : 0);
    return true;
}

void check_durations_against_rate(const exact_time& total, int frames, unsigned fps_numerator,
                                  unsigned fps_denominator)
{
    if (fps_numerator == 0 || frames <= 0)
        return;
    const double by_durations = static_cast<double>(total.num) / static_cast<double>(total.den);
    const double frame = static_cast<double>(fps_denominator) / fps_numerator;
    const double by_rate = frames * frame;
    if (std::fabs(by_durations - by_rate) <= frame)
        return;
    diag_print(DIAG_WARN,
               "the frames' own durations (_DurationNum/_DurationDen) add up to %.3f s, but %d frames at the clip's "
               "%u/%u fps last %.3f s: a filter that changed the rate (AssumeFPS) left the source's durations on the "
               "frames, and they time the stream; propDelete(\"_DurationNum\") at the script's end times it by the "
               "rate.\n",
               by_durations, frames, fps_numerator, fps_denominator, by_rate);
}

long double distance_from_rate(const exact_time& start, int64_t n, unsigned fps_numerator, unsigned fps_denominator)
{
    const long double at_rate = static_cast<long double>(n) * fps_denominator / fps_numerator;
    return std::fabs(static_cast<long double>(start.num) / start.den - at_rate);
}

rate_fit durations_keep_rate(unsigned fps_numerator, unsigned fps_denominator,
                             const std::vector<std::pair<int64_t, int64_t>>& durations)
{
    rate_fit fit;
    if (fps_numerator == 0 || fps_denominator == 0 || durations.empty())
        return fit;
    // The timebase: the least common multiple of the denominators, where it
    // stays below a nanosecond's; past a millisecond the tick is one.
    int64_t timebase = 1;
    for (const auto& d : durations) {
        if (d.first <= 0 || d.second <= 0)
            return fit;
        const int64_t g = gcd(timebase, d.second);
        if (timebase / g > 1000000000 / d.second) {
            timebase = 1000000000;
            break;
        }
        timebase = timebase / g * d.second;
    }
    fit.tick = timebase < 1000 ? 0.001L : 1.0L / timebase;
    // Where the start lies exactly on the tick's edge, long double's last
    // bit must not decide.
    const long double allowed = fit.tick * (1 + 1e-9L);
    exact_time start;
    for (size_t n = 0; n < durations.size(); ++n) {
        if (!add_time(start, durations[n].first, durations[n].second) ||
            distance_from_rate(start, static_cast<int64_t>(n) + 1, fps_numerator, fps_denominator) > allowed)
            return fit;
    }
    fit.keeps_rate = true;
    return fit;
}

long double seconds_of(const exact_time& time)
{
    return static_cast<long double>(time.num) / time.den;
}

namespace {

std::string duration_text(long double seconds)
{
    char text[64];
    if (seconds >= 31557600.0L)
        snprintf(text, sizeof text, "%.3Lg years", seconds / 31557600.0L);
    else
        snprintf(text, sizeof text, "%.3Lf s", seconds);
    return text;
}

}  // namespace

std::string add_stream_time(exact_time& time, int64_t num, int64_t den, long double last_second)
{
    const long double sum = seconds_of(time) + static_cast<long double>(num) / den;
    if (sum > last_second)
        return "the frames run to " + duration_text(sum) + ", past the " + duration_text(last_second) +
               " the stream's times can say: too long";
    if (!add_time(time, num, den))
        return "the frames' durations are too fine to add up exactly in 64 bits";
    return "";
}

std::string check_clip_length(int64_t frames, int64_t frame_num, int64_t frame_den, int64_t samples, int64_t rate,
                              long double last_second)
{
    const long double video = frame_den > 0 ? static_cast<long double>(frames) * frame_num / frame_den : 0;
    const long double audio = rate > 0 ? static_cast<long double>(samples) / rate : 0;
    const long double length = video > audio ? video : audio;
    if (length <= last_second)
        return "";
    return "the clip lasts " + duration_text(length) + ", past the " + duration_text(last_second) +
           " the stream's times can say: too long";
}

void refuse_rate_without_duration(unsigned fps_numerator, unsigned fps_denominator)
{
    if (fps_numerator == 0 || fps_denominator == 0)
        diag_print(DIAG_ERROR, "the clip's frame rate %u/%u gives its frames no duration.\n", fps_numerator,
                   fps_denominator);
}
