#include "reports/info_report.h"

#include <cinttypes>
#include <cstdio>

#include "frameserver/avs_library.h"
#include "frameserver/clip_traits.h"

uint64_t video_duration_seconds(int num_frames, unsigned fps_numerator, unsigned fps_denominator)
{
    if (fps_numerator == 0 || num_frames <= 0)
        return 0;
    // At most (2^31 - 1) * (2^32 - 1): the product always fits in 64 bits.
    return static_cast<uint64_t>(num_frames) * fps_denominator / fps_numerator;
}

void print_info(AVS_Clip* clip)
{
    const AVS_VideoInfo* vi = avs.avs_get_video_info(clip);
    if (vi->width != 0) {
        static const char* const field_words[] = {"no", "tff", "bff"};
        printf("v:width       %d\n", vi->width);
        printf("v:height      %d\n", vi->height);
        printf("v:fps         %u/%u\n", vi->fps_numerator, vi->fps_denominator);
        printf("v:frames      %d\n", vi->num_frames);
        printf("v:duration    %" PRIu64 "\n",
               video_duration_seconds(vi->num_frames, vi->fps_numerator, vi->fps_denominator));
        printf("v:interlaced  %s\n", field_words[clip_field_order(*vi)]);
        printf("v:pixel_type  %x\n", static_cast<unsigned>(vi->pixel_type));
    }
    if (vi->audio_samples_per_second != 0) {
        printf("a:sample_rate %d\n", vi->audio_samples_per_second);
        printf("a:format      %s\n", vi->sample_type == AVS_SAMPLE_FLOAT ? "float" : "pcm");
        printf("a:bit_depth   %d\n", sample_bytes(vi->sample_type) * 8);
        printf("a:channels    %d\n", vi->nchannels);
        printf("a:samples     %" PRId64 "\n", vi->num_audio_samples);
        printf("a:duration    %" PRId64 "\n", vi->num_audio_samples / vi->audio_samples_per_second);
    }
}
