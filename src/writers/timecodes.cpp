#include "writers/timecodes.h"

#include "common/diag.h"

std::string milliseconds_text(int64_t num, int64_t den)
{
    // Nine decimals of the seconds, one digit at a time so that nothing
    // overflows (den stays below INT64_MAX / 10), then rounded on the tenth.
    int64_t seconds = num / den, rest = num % den, fraction = 0;
    for (int i = 0; i < 9; ++i) {
        rest *= 10;
        fraction = fraction * 10 + rest / den;
        rest %= den;
    }
    if (rest * 2 >= den && ++fraction == 1000000000) {
        fraction = 0;
        ++seconds;
    }
    char text[48];
    snprintf(text, sizeof text, "%lld.%06lld", static_cast<long long>(seconds * 1000 + fraction / 1000000),
             static_cast<long long>(fraction % 1000000));
    return text;
}

void timecodes_begin(timecodes_file& timecodes, FILE* file, const std::string& path)
{
    timecodes.file = file;
    timecodes.path = path;
    timecodes.ok = fputs("# timestamp format v2\n", file) >= 0;
}

void timecodes_add_frame(timecodes_file& timecodes, int64_t num, int64_t den)
{
    if (!timecodes.file)
        return;
    const std::string start = milliseconds_text(timecodes.start.num, timecodes.start.den);
    timecodes.ok = timecodes.ok && fprintf(timecodes.file, "%s\n", start.c_str()) > 0;
    if (start == timecodes.last_line && timecodes.shared < 0)
        timecodes.shared = timecodes.frames;
    timecodes.last_line = start;
    const std::string unfit = add_stream_time(timecodes.start, num, den, TIMECODES_LAST_SECOND);
    if (!unfit.empty())
        diag_print(DIAG_ERROR, "cannot time frame %d in the timecodes \"%s\": %s.\n", timecodes.frames,
                   timecodes.path.c_str(), unfit.c_str());
    ++timecodes.frames;
}

bool timecodes_end(timecodes_file& timecodes)
{
    if (!timecodes.file)
        return true;
    if (timecodes.shared >= 0)
        diag_print(DIAG_WARN,
                   "frame %d starts within the same nanosecond as the frame before it, the finest time the "
                   "timecodes' 6 decimals of a millisecond say: frames that short share a start, and a muxer may "
                   "drop the ones that do.\n",
                   timecodes.shared);
    bool ok = timecodes.ok && fflush(timecodes.file) == 0 && !ferror(timecodes.file);
    ok = fclose(timecodes.file) == 0 && ok;
    timecodes.file = nullptr;
    return ok;
}
