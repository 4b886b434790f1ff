#include "reports/bluray_args.h"

#include <cstdio>

#include "common/diag.h"
#include "common/platform.h"
#include "frameserver/avs_library.h"
#include "frameserver/clip_traits.h"

namespace {

enum size_class { SIZE_1080, SIZE_720, SIZE_576, SIZE_480 };
enum rate_class { RATE_59_94, RATE_50, RATE_30, RATE_29_97, RATE_25, RATE_24, RATE_23_976 };

struct frame_size {
    int width, height;
    size_class size;
    int ref;
    const char* colour;
};

const frame_size sizes[] = {
    {1920, 1080, SIZE_1080, 4, "bt709"}, {1440, 1080, SIZE_1080, 4, "bt709"}, {1280, 720, SIZE_720, 6, "bt709"},
    {720, 576, SIZE_576, 6, "bt470bg"},  {720, 480, SIZE_480, 6, "smpte170m"},
};

struct frame_rate {
    unsigned numerator, denominator;
    rate_class rate;
    int keyint;
};

// The x/50, x/100 and x/125 rates are what float rates such as 29.97
// become in the frame server.
const frame_rate rates[] = {
    {60000, 1001, RATE_59_94, 60}, {2997, 50, RATE_59_94, 60},   {50, 1, RATE_50, 50},
    {30, 1, RATE_30, 30},          {30000, 1001, RATE_29_97, 30}, {2997, 100, RATE_29_97, 30},
    {25, 1, RATE_25, 25},          {24, 1, RATE_24, 24},          {24000, 1001, RATE_23_976, 24},
    {2997, 125, RATE_23_976, 24},
};

struct combination {
    size_class size;
    rate_class rate;
    bool field_based;
    const char* extra;  // null: --tff or --bff, from the clip
};

const combination combinations[] = {
    {SIZE_1080, RATE_30, true, nullptr},
    {SIZE_1080, RATE_29_97, true, nullptr},
    {SIZE_1080, RATE_25, true, nullptr},
    {SIZE_1080, RATE_29_97, false, "--fake-interlaced --pic-struct"},
    {SIZE_1080, RATE_25, false, "--fake-interlaced --pic-struct"},
    {SIZE_1080, RATE_24, false, ""},
    {SIZE_1080, RATE_23_976, false, ""},
    {SIZE_720, RATE_59_94, false, ""},
    {SIZE_720, RATE_50, false, ""},
    {SIZE_720, RATE_29_97, false, "--pulldown double"},
    {SIZE_720, RATE_25, false, "--pulldown double"},
    {SIZE_720, RATE_24, false, ""},
    {SIZE_720, RATE_23_976, false, ""},
    {SIZE_576, RATE_25, true, nullptr},
    {SIZE_576, RATE_25, false, "--fake-interlaced --pic-struct"},
    {SIZE_480, RATE_29_97, true, nullptr},
    {SIZE_480, RATE_29_97, false, "--pulldown 32 --fake-interlaced"},
};

}  // namespace

bool bluray_args_for(const AVS_VideoInfo& vi, std::string* args)
{
    // Sizes and rates are matched field by field: packing them into one
    // 32-bit key would let 89536/1001 pass for 24000/1001.
    const frame_size* size = nullptr;
    for (const frame_size& s : sizes)
        if (vi.width == s.width && vi.height == s.height)
            size = &s;
    const frame_rate* rate = nullptr;
    for (const frame_rate& r : rates)
        if (vi.fps_numerator == r.numerator && vi.fps_denominator == r.denominator)
            rate = &r;
    if (!size || !rate)
        return false;

    field_order order = clip_field_order(vi);
    const combination* found = nullptr;
    for (const combination& c : combinations)
        if (c.size == size->size && c.rate == rate->rate && c.field_based == (order != FIELD_PROGRESSIVE))
            found = &c;
    if (!found)
        return false;

    const char* extra = found->extra;
    if (!extra)
        extra = order == FIELD_BFF ? "--bff" : "--tff";
    // --open-gop takes no value since 2011; --bluray-compat is what the
    // old "--open-gop bluray" selected.
    char line[512];
    snprintf(line, sizeof line,
             "--weightp 1 --bframes 3 --nal-hrd vbr --vbv-maxrate 15000 --vbv-bufsize 30000 --level 4.1 --keyint %d "
             "--b-pyramid strict --open-gop --bluray-compat --slices 4 --ref %d %s --aud --colorprim \"%s\" "
             "--transfer \"%s\" --colormatrix \"%s\"",
             rate->keyint, size->ref, extra, size->colour, size->colour, size->colour);
    *args = line;
    return true;
}

void suggest_bluray_args(AVS_Clip* clip)
{
    const AVS_VideoInfo* vi = avs.avs_get_video_info(clip);
    std::string args;
    if (!bluray_args_for(*vi, &args))
        diag_print(DIAG_ERROR, "%dx%d @ %u/%u fps not supported.\n", vi->width, vi->height, vi->fps_numerator,
                   vi->fps_denominator);
    fputs(args.c_str(), stream_out());
}
