// Matroska's head: the EBML header, a Segment of unknown size (a pipe
// cannot seek back to say its size), Info and Tracks.

#include "writers/matroska_head.h"

#include <cmath>
#include <string>

#include "common/numbers.h"
#include "common/version.h"

namespace {

// Element ids.
enum : uint32_t {
    EBML = 0x1A45DFA3,
    EBML_VERSION = 0x4286,
    EBML_READ_VERSION = 0x42F7,
    EBML_MAX_ID_LENGTH = 0x42F2,
    EBML_MAX_SIZE_LENGTH = 0x42F3,
    DOC_TYPE = 0x4282,
    DOC_TYPE_VERSION = 0x4287,
    DOC_TYPE_READ_VERSION = 0x4285,
    SEGMENT = 0x18538067,
    INFO = 0x1549A966,
    TIMESTAMP_SCALE = 0x2AD7B1,
    DURATION = 0x4489,
    MUXING_APP = 0x4D80,
    WRITING_APP = 0x5741,
    TRACKS = 0x1654AE6B,
    TRACK_ENTRY = 0xAE,
    TRACK_NUMBER = 0xD7,
    TRACK_UID = 0x73C5,
    TRACK_TYPE = 0x83,
    FLAG_LACING = 0x9C,
    LANGUAGE = 0x22B59C,
    CODEC_ID = 0x86,
    DEFAULT_DURATION = 0x23E383,
    VIDEO = 0xE0,
    FLAG_INTERLACED = 0x9A,
    FIELD_ORDER = 0x9D,
    PIXEL_WIDTH = 0xB0,
    PIXEL_HEIGHT = 0xBA,
    DISPLAY_WIDTH = 0x54B0,
    DISPLAY_HEIGHT = 0x54BA,
    DISPLAY_UNIT = 0x54B2,
    COLOUR_SPACE = 0x2EB524,
    COLOUR = 0x55B0,
    MATRIX_COEFFICIENTS = 0x55B1,
    CHROMA_SITING_HORZ = 0x55B7,
    CHROMA_SITING_VERT = 0x55B8,
    RANGE = 0x55B9,
    TRANSFER_CHARACTERISTICS = 0x55BA,
    PRIMARIES = 0x55BB,
    MAX_CLL = 0x55BC,
    MAX_FALL = 0x55BD,
    MASTERING_METADATA = 0x55D0,
    PRIMARY_R_CHROMATICITY_X = 0x55D1,  // then R y, G x, G y, B x, B y, white point x, y
    LUMINANCE_MAX = 0x55D9,
    LUMINANCE_MIN = 0x55DA,
    AUDIO = 0xE1,
    SAMPLING_FREQUENCY = 0xB5,
    CHANNELS = 0x9F,
    BIT_DEPTH = 0x6264,
};

constexpr uint32_t fourcc(unsigned a, unsigned b, unsigned c, unsigned d)
{
    return a | b << 8 | c << 16 | d << 24;
}


// Where chroma sits (_ChromaLocation 0 left, 1 center, 2 top left, 3 top,
// 4 bottom left, 5 bottom) in Matroska's terms: horizontally 1 collocated
// with the left sample or 2 half way, vertically 1 collocated with the top
// or 2 half way; it has no word for the bottom.
void put_chroma_siting(ebml_bytes& colour, int location)
{
    static const int horizontal[] = {1, 2, 1, 2, 1, 2};
    static const int vertical[] = {2, 2, 1, 1, 0, 0};
    put_ebml_uint(colour, CHROMA_SITING_HORZ, static_cast<uint64_t>(horizontal[location]));
    if (vertical[location])
        put_ebml_uint(colour, CHROMA_SITING_VERT, static_cast<uint64_t>(vertical[location]));
}

// What frame 0 says of the picture; an element for each thing it says.
ebml_bytes colour_of(const video_plan& plan)
{
    const frame_properties& p = plan.frame0;
    ebml_bytes colour;
    const bool subsampled = plan.layout.kind == PIXEL_PLANAR_YUV && (plan.layout.shift_w || plan.layout.shift_h);
    if (p.matrix != PROPERTY_ABSENT && !(p.matrix == 0 && is_identity_misplaced(plan)))
        put_ebml_uint(colour, MATRIX_COEFFICIENTS, static_cast<uint64_t>(p.matrix));
    if (subsampled && p.chroma_location != PROPERTY_ABSENT)
        put_chroma_siting(colour, p.chroma_location);
    if (p.colour_range != PROPERTY_ABSENT)
        put_ebml_uint(colour, RANGE, p.colour_range == 1 ? 1 : 2);  // broadcast, full
    if (p.transfer != PROPERTY_ABSENT)
        put_ebml_uint(colour, TRANSFER_CHARACTERISTICS, static_cast<uint64_t>(p.transfer));
    if (p.primaries != PROPERTY_ABSENT)
        put_ebml_uint(colour, PRIMARIES, static_cast<uint64_t>(p.primaries));
    if (p.has_light_level) {
        put_ebml_uint(colour, MAX_CLL, static_cast<uint64_t>(std::llround(p.max_content_light)));
        put_ebml_uint(colour, MAX_FALL, static_cast<uint64_t>(std::llround(p.max_frame_average_light)));
    }
    const mastering_display& m = p.mastering;
    if (m.has_primaries || m.has_luminance) {
        ebml_bytes mastering;
        if (m.has_primaries) {
            const double chromaticities[] = {m.primaries_x[0], m.primaries_y[0], m.primaries_x[1], m.primaries_y[1],
                                             m.primaries_x[2], m.primaries_y[2], m.white_x,        m.white_y};
            for (uint32_t i = 0; i < 8; ++i)
                put_ebml_float(mastering, PRIMARY_R_CHROMATICITY_X + i, chromaticities[i]);
        }
        if (m.has_luminance) {
            put_ebml_float(mastering, LUMINANCE_MAX, m.max_luminance);
            put_ebml_float(mastering, LUMINANCE_MIN, m.min_luminance);
        }
        put_ebml_master(colour, MASTERING_METADATA, mastering);
    }
    return colour;
}

void put_video_track(ebml_bytes& tracks, const video_plan& plan, int64_t default_duration_ns)
{
    const AVS_VideoInfo& vi = *plan.vi;
    ebml_bytes video;
    put_ebml_uint(video, FLAG_INTERLACED, plan.order == FIELD_PROGRESSIVE ? 2 : 1);
    put_ebml_uint(video, FIELD_ORDER, plan.order == FIELD_PROGRESSIVE ? 0 : plan.order == FIELD_TFF ? 1 : 6);
    put_ebml_uint(video, PIXEL_WIDTH, static_cast<uint64_t>(vi.width));
    put_ebml_uint(video, PIXEL_HEIGHT, static_cast<uint64_t>(vi.height));
    if (plan.sar_num > 0) {
        // The display aspect ratio, exact and in lowest terms, which gives
        // back the pixels' own aspect ratio.
        int64_t width = vi.width * plan.sar_num, height = vi.height * plan.sar_den;
        reduce_fraction(&width, &height);
        put_ebml_uint(video, DISPLAY_WIDTH, static_cast<uint64_t>(width));
        put_ebml_uint(video, DISPLAY_HEIGHT, static_cast<uint64_t>(height));
        put_ebml_uint(video, DISPLAY_UNIT, 3);
    }
    const uint32_t code = raw_fourcc(plan.layout);
    const unsigned char fourcc[4] = {static_cast<unsigned char>(code), static_cast<unsigned char>(code >> 8),
                                     static_cast<unsigned char>(code >> 16), static_cast<unsigned char>(code >> 24)};
    put_ebml_binary(video, COLOUR_SPACE, fourcc, sizeof fourcc);
    const ebml_bytes colour = colour_of(plan);
    if (!colour.empty())
        put_ebml_master(video, COLOUR, colour);

    ebml_bytes entry;
    put_ebml_uint(entry, TRACK_NUMBER, MATROSKA_TRACK_VIDEO);
    put_ebml_uint(entry, TRACK_UID, MATROSKA_TRACK_VIDEO);
    put_ebml_uint(entry, TRACK_TYPE, 1);
    put_ebml_uint(entry, FLAG_LACING, 0);
    put_ebml_string(entry, LANGUAGE, "und");
    put_ebml_string(entry, CODEC_ID, "V_UNCOMPRESSED");
    if (default_duration_ns > 0)
        put_ebml_uint(entry, DEFAULT_DURATION, static_cast<uint64_t>(default_duration_ns));
    put_ebml_master(entry, VIDEO, video);
    put_ebml_master(tracks, TRACK_ENTRY, entry);
}

void put_audio_track(ebml_bytes& tracks, const audio_shape& a, int number)
{
    ebml_bytes audio;
    put_ebml_float(audio, SAMPLING_FREQUENCY, a.rate);
    put_ebml_uint(audio, CHANNELS, static_cast<uint64_t>(a.channels));
    put_ebml_uint(audio, BIT_DEPTH, static_cast<uint64_t>(a.sample_bytes * 8));

    ebml_bytes entry;
    put_ebml_uint(entry, TRACK_NUMBER, static_cast<uint64_t>(number));
    put_ebml_uint(entry, TRACK_UID, static_cast<uint64_t>(number));
    put_ebml_uint(entry, TRACK_TYPE, 2);
    put_ebml_uint(entry, FLAG_LACING, 0);
    put_ebml_string(entry, LANGUAGE, "und");
    // 8-bit PCM is unsigned here, as in WAV and as the frame server has it.
    put_ebml_string(entry, CODEC_ID, a.sample_type == AVS_SAMPLE_FLOAT ? "A_PCM/FLOAT/IEEE" : "A_PCM/INT/LIT");
    put_ebml_master(entry, AUDIO, audio);
    put_ebml_master(tracks, TRACK_ENTRY, entry);
}

}  // namespace

ebml_bytes matroska_head(const video_plan* video, int64_t default_duration_ns, int64_t unit_ns, double duration,
                         const audio_shape& audio_track_shape, int audio_track)
{
    ebml_bytes header;
    put_ebml_uint(header, EBML_VERSION, 1);
    put_ebml_uint(header, EBML_READ_VERSION, 1);
    put_ebml_uint(header, EBML_MAX_ID_LENGTH, 4);
    put_ebml_uint(header, EBML_MAX_SIZE_LENGTH, 8);
    put_ebml_string(header, DOC_TYPE, "matroska");
    put_ebml_uint(header, DOC_TYPE_VERSION, 4);       // the Colour elements
    put_ebml_uint(header, DOC_TYPE_READ_VERSION, 2);  // SimpleBlock

    const std::string app = std::string("clipspout ") + CLIPSPOUT_VERSION;
    ebml_bytes info;
    put_ebml_uint(info, TIMESTAMP_SCALE, static_cast<uint64_t>(unit_ns));
    // Without it a reader of a saved stream guesses the length from the bit
    // rate.
    if (duration >= 0)
        put_ebml_float(info, DURATION, duration);
    put_ebml_string(info, MUXING_APP, app);
    put_ebml_string(info, WRITING_APP, app);

    ebml_bytes tracks;
    if (video)
        put_video_track(tracks, *video, default_duration_ns);
    if (audio_track)
        put_audio_track(tracks, audio_track_shape, audio_track);

    ebml_bytes head;
    put_ebml_master(head, EBML, header);
    put_ebml_id(head, SEGMENT);
    put_ebml_unknown_size(head);
    put_ebml_master(head, INFO, info);
    put_ebml_master(head, TRACKS, tracks);
    return head;
}


bool is_identity_misplaced(const video_plan& plan)
{
    const video_layout& l = plan.layout;
    return l.kind == PIXEL_MONO || (l.kind == PIXEL_PLANAR_YUV && (l.shift_w || l.shift_h));
}

uint32_t raw_fourcc(const video_layout& l)
{
    const unsigned deep = static_cast<unsigned>(l.bits);
    const bool alpha = l.planes == 4;
    switch (l.kind) {
    case PIXEL_MONO: return l.bits == 8 ? fourcc('Y', '8', '0', '0') : fourcc('Y', '1', 0, deep);
    case PIXEL_PLANAR_YUV: {
        const bool is_444 = l.shift_w == 0, is_422 = l.shift_w == 1 && l.shift_h == 0,
                   is_420 = l.shift_w == 1 && l.shift_h == 1;
        const unsigned subsampling = is_444 ? 0 : is_422 ? 10 : 11;  // ffmpeg's code in its deeper FourCCs
        if (alpha)
            return fourcc('Y', '4', subsampling, deep);
        if (l.bits > 8)
            return fourcc('Y', '3', subsampling, deep);
        return is_444 ? fourcc('4', '4', '4', 'P')
               : is_422 ? fourcc('Y', '4', '2', 'B')
               : is_420 ? fourcc('I', '4', '2', '0')
                        : fourcc('Y', '4', '1', 'B');
    }
    case PIXEL_PLANAR_RGB: return fourcc('G', alpha ? '4' : '3', 0, deep);
    case PIXEL_PACKED_RGB:
        // Blue, green, red (and alpha) in each pixel, as ffmpeg's bgr24,
        // bgra, bgr48le and bgra64le have them.
        if (l.bits == 8)
            return l.pixel_bytes == 4 ? fourcc('B', 'G', 'R', 'A') : fourcc('B', 'G', 'R', 24);
        return l.pixel_bytes == 8 ? fourcc('B', 'R', 'A', 64) : fourcc('B', 'G', 'R', 48);
    default: return 0;
    }
}
