#include "reports/info_report.h"

#include <cinttypes>
#include <cstdio>
#include <string>

#include "common/json.h"
#include "common/platform.h"
#include "frameserver/avs_library.h"
#include "frameserver/property_json.h"
#include "frameserver/video_plan.h"
#include "writers/format.h"
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
        fprintf(stream_out(), "v:width       %d\n", vi->width);
        fprintf(stream_out(), "v:height      %d\n", vi->height);
        fprintf(stream_out(), "v:fps         %u/%u\n", vi->fps_numerator, vi->fps_denominator);
        fprintf(stream_out(), "v:frames      %d\n", vi->num_frames);
        fprintf(stream_out(), "v:duration    %" PRIu64 "\n",
               video_duration_seconds(vi->num_frames, vi->fps_numerator, vi->fps_denominator));
        fprintf(stream_out(), "v:interlaced  %s\n", field_words[clip_field_order(*vi)]);
        fprintf(stream_out(), "v:pixel_type  %x\n", static_cast<unsigned>(vi->pixel_type));
    }
    if (vi->audio_samples_per_second != 0) {
        fprintf(stream_out(), "a:sample_rate %d\n", vi->audio_samples_per_second);
        fprintf(stream_out(), "a:format      %s\n", vi->sample_type == AVS_SAMPLE_FLOAT ? "float" : "pcm");
        fprintf(stream_out(), "a:bit_depth   %d\n", sample_bytes(vi->sample_type) * 8);
        fprintf(stream_out(), "a:channels    %d\n", vi->nchannels);
        fprintf(stream_out(), "a:samples     %" PRId64 "\n", vi->num_audio_samples);
        fprintf(stream_out(), "a:duration    %" PRId64 "\n", vi->num_audio_samples / vi->audio_samples_per_second);
    }
}

namespace {

const char* const field_order_names[] = {"progressive", "tff", "bff"};

std::string fourcc_json(uint32_t fourcc)
{
    char text[12];
    for (int i = 0; i < 4; ++i) {
        const unsigned char c = static_cast<unsigned char>(fourcc >> (8 * i));
        if (c < 0x20 || c > 0x7E) {
            // ffmpeg's deeper FourCCs hold numbers: given as hexadecimal.
            snprintf(text, sizeof text, "0x%08X", fourcc);
            return json_string(text);
        }
        text[i] = static_cast<char>(c);
    }
    text[4] = '\0';
    return json_string(text);
}

// count * per / rate seconds, where the text report truncates to whole
// seconds: the double nearest the exact quotient (15.015 for 360 frames at
// 24000/1001), in its shortest form.
std::string exact_seconds(int64_t count, int64_t per, int64_t rate)
{
    if (rate <= 0 || count <= 0)
        return "0";
    // The whole seconds exactly (frames below 2^31 times a denominator below
    // 2^32 fit in 64 bits; samples come with per 1), then the fraction the
    // remainder gives, so nothing is rounded before the last step.
    const uint64_t units = static_cast<uint64_t>(count) * static_cast<uint64_t>(per);
    const uint64_t whole = units / static_cast<uint64_t>(rate), left = units % static_cast<uint64_t>(rate);
    return json_number(static_cast<double>(whole) + static_cast<double>(left) / static_cast<double>(rate));
}

// What a stream of the clip would be: a plan made on a handle of its own,
// so that the clip itself stays as the script gives it.
std::string stream_json(AVS_Clip* clip, AVS_ScriptEnvironment* env, int depth, video_carrier carrier)
{
    AVS_Value value;
    avs.avs_set_to_clip(&value, clip);
    AVS_Clip* copy = avs.avs_take_clip(value, env);
    avs.avs_release_value(value);
    const video_plan plan = plan_video(&copy, env, depth, carrier);
    const video_layout& l = plan.layout;
    // The default y4m header is the classic one: the clip's flags, no
    // aspect ratio.
    const bool classic = carrier == CARRIER_Y4M && !plan.header_says_frame0;
    const field_order order = carrier == CARRIER_Y4M ? plan.header_order : plan.order;
    std::string json = "{\"layout\": " + json_string(l.name) + ", \"depth\": " + json_integer(l.bits);
    if (carrier == CARRIER_Y4M)
        json += ", \"y4m_tag\": " + json_string("C" + y4m_chroma_tag(l));
    else
        json += ", \"fourcc\": " + fourcc_json(raw_fourcc(l));
    json += ", \"width\": " + json_integer(plan.vi->width) + ", \"height\": " + json_integer(plan.vi->height);
    json += ", \"field_order\": \"" + std::string(field_order_names[order]) + "\", \"sar\": ";
    const std::string sar = std::to_string(plan.sar_num) + ":" + std::to_string(plan.sar_den);
    json += plan.sar_num > 0 && !classic ? json_string(sar) : "null";
    avs.avs_release_clip(copy);
    return json + "}";
}

}  // namespace

void print_info_json(AVS_Clip* clip, AVS_ScriptEnvironment* env, int depth)
{
    const AVS_VideoInfo vi = *avs.avs_get_video_info(clip);
    std::string json = "{\"frame_server\": {\"interface_version\": " + json_integer(avs_interface.version) +
                       ", \"frame_properties\": " + (avs.avs_get_frame_props_ro ? "true" : "false") + "}";
    json += ", \"video\": ";
    if (vi.width != 0) {
        char pixel_type[12];
        snprintf(pixel_type, sizeof pixel_type, "%x", static_cast<unsigned>(vi.pixel_type));
        json += "{\"width\": " + json_integer(vi.width) + ", \"height\": " + json_integer(vi.height) +
                ", \"fps_numerator\": " + json_integer(vi.fps_numerator) +
                ", \"fps_denominator\": " + json_integer(vi.fps_denominator) +
                ", \"frames\": " + json_integer(vi.num_frames) + ", \"duration_seconds\": " +
                exact_seconds(vi.fps_numerator ? vi.num_frames : 0, vi.fps_denominator, vi.fps_numerator) +
                ", \"field_order\": \"" + field_order_names[clip_field_order(vi)] +
                "\", \"pixel_type\": " + json_string(pixel_type);
        // Frame 0 as the script gives it, every property.
        std::string properties = "null";
        if (vi.num_frames > 0) {
            // A report without frame 0 would pass for one of a frame that
            // says nothing.
            AVS_VideoFrame* frame = fetch_frame_or_fail(clip, 0);
            properties = frame_properties_json(env, frame);
            avs.avs_release_video_frame(frame);
        }
        json += ", \"frame0_properties\": " + properties + "}";
        json += ", \"streams\": {\"video\": " + stream_json(clip, env, depth, CARRIER_Y4M) +
                ", \"mkv\": " + stream_json(clip, env, depth, CARRIER_MATROSKA) + "}";
    } else {
        json += "null, \"streams\": null";
    }
    json += ", \"audio\": ";
    if (vi.audio_samples_per_second != 0) {
        const bool mask_known = avs.avs_is_channel_mask_known && avs.avs_get_channel_mask &&
                                avs.avs_is_channel_mask_known(&vi);
        json += "{\"sample_rate\": " + json_integer(vi.audio_samples_per_second) + ", \"format\": \"" +
                (vi.sample_type == AVS_SAMPLE_FLOAT ? "float" : "pcm") +
                "\", \"bit_depth\": " + json_integer(sample_bytes(vi.sample_type) * 8) +
                ", \"channels\": " + json_integer(vi.nchannels) + ", \"samples\": " +
                json_integer(vi.num_audio_samples) + ", \"duration_seconds\": " +
                exact_seconds(vi.num_audio_samples, 1, vi.audio_samples_per_second) + ", \"channel_mask\": " +
                (mask_known ? json_integer(avs.avs_get_channel_mask(&vi)) : "null") + "}";
    } else {
        json += "null";
    }
    fputs((json + "}\n").c_str(), stream_out());
}
