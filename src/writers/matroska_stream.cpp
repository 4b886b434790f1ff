// Matroska (RFC 9559) in the form a pipe can carry: the EBML header, a
// Segment of unknown size holding Info and Tracks, then Clusters, each
// written whole with its size, and no Cues. Video is V_UNCOMPRESSED under
// ffmpeg's raw FourCC for its layout; audio is PCM. Every frame goes out in
// a Cluster of its own, beside the samples of its span of time, so a
// reader never holds more than about a frame's worth of either.
//
// Timestamps are milliseconds (finer for frames shorter than one). Each
// frame starts at the exact sum of the
// durations before it (its own _DurationNum/_DurationDen, else the clip's
// rate), rounded once; a sample's time is its number over the rate.

#include "writers/matroska_stream.h"

#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "common/diag.h"
#include "common/platform.h"
#include "common/progress.h"
#include "common/version.h"
#include "frameserver/avs_library.h"
#include "frameserver/clip_traits.h"
#include "frameserver/video_plan.h"
#include "writers/stream_sink.h"
#include "writers/ebml.h"
#include "writers/stream_time.h"

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
    CLUSTER = 0x1F43B675,
    TIMESTAMP = 0xE7,
    SIMPLE_BLOCK = 0xA3,
};

// Timestamps count units of TimestampScale nanoseconds: a millisecond, as
// readers expect, unless the clip's frames are shorter (see
// timestamp_unit_ns).
constexpr int64_t MILLISECOND_NS = 1000000;
constexpr int TRACK_VIDEO = 1, TRACK_AUDIO = 2;

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

// The identity matrix (_Matrix 0: the planes are G, B and R) makes no
// sense of subsampled chroma or of grey; a reader would take the YUV for
// RGB.
bool is_identity_misplaced(const video_plan& plan)
{
    const video_layout& l = plan.layout;
    return l.kind == PIXEL_MONO || (l.kind == PIXEL_PLANAR_YUV && (l.shift_w || l.shift_h));
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
    const unsigned char fourcc[4] = {
        static_cast<unsigned char>(plan.layout.fourcc), static_cast<unsigned char>(plan.layout.fourcc >> 8),
        static_cast<unsigned char>(plan.layout.fourcc >> 16), static_cast<unsigned char>(plan.layout.fourcc >> 24)};
    put_ebml_binary(video, COLOUR_SPACE, fourcc, sizeof fourcc);
    const ebml_bytes colour = colour_of(plan);
    if (!colour.empty())
        put_ebml_master(video, COLOUR, colour);

    ebml_bytes entry;
    put_ebml_uint(entry, TRACK_NUMBER, TRACK_VIDEO);
    put_ebml_uint(entry, TRACK_UID, TRACK_VIDEO);
    put_ebml_uint(entry, TRACK_TYPE, 1);
    put_ebml_uint(entry, FLAG_LACING, 0);
    put_ebml_string(entry, LANGUAGE, "und");
    put_ebml_string(entry, CODEC_ID, "V_UNCOMPRESSED");
    if (default_duration_ns > 0)
        put_ebml_uint(entry, DEFAULT_DURATION, static_cast<uint64_t>(default_duration_ns));
    put_ebml_master(entry, VIDEO, video);
    put_ebml_master(tracks, TRACK_ENTRY, entry);
}

void put_audio_track(ebml_bytes& tracks, const AVS_VideoInfo& vi, int number)
{
    ebml_bytes audio;
    put_ebml_float(audio, SAMPLING_FREQUENCY, vi.audio_samples_per_second);
    put_ebml_uint(audio, CHANNELS, static_cast<uint64_t>(vi.nchannels));
    put_ebml_uint(audio, BIT_DEPTH, static_cast<uint64_t>(sample_bytes(vi.sample_type) * 8));

    ebml_bytes entry;
    put_ebml_uint(entry, TRACK_NUMBER, static_cast<uint64_t>(number));
    put_ebml_uint(entry, TRACK_UID, static_cast<uint64_t>(number));
    put_ebml_uint(entry, TRACK_TYPE, 2);
    put_ebml_uint(entry, FLAG_LACING, 0);
    put_ebml_string(entry, LANGUAGE, "und");
    // 8-bit PCM is unsigned here, as in WAV and as the frame server has it.
    put_ebml_string(entry, CODEC_ID, vi.sample_type == AVS_SAMPLE_FLOAT ? "A_PCM/FLOAT/IEEE" : "A_PCM/INT/LIT");
    put_ebml_master(entry, AUDIO, audio);
    put_ebml_master(tracks, TRACK_ENTRY, entry);
}

// Everything before the first Cluster. duration is the stream's length in
// timestamp units of unit_ns where it is known before the first frame, else
// negative.
ebml_bytes stream_head(const video_plan* video, int64_t default_duration_ns, int64_t unit_ns, double duration,
                       const AVS_VideoInfo& vi, int audio_track)
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
        put_audio_track(tracks, vi, audio_track);

    ebml_bytes head;
    put_ebml_master(head, EBML, header);
    put_ebml_id(head, SEGMENT);
    put_ebml_unknown_size(head);
    put_ebml_master(head, INFO, info);
    put_ebml_master(head, TRACKS, tracks);
    return head;
}

// A SimpleBlock's payload, where it lies, and its time in timestamp units.
struct block {
    int track = 0;
    int64_t time = 0;
    size_t size = 0;
    const out_chunk* pieces = nullptr;
    size_t piece_count = 0;
};

// A block's time is relative to its Cluster's, in a signed 16-bit number.
constexpr int64_t LATEST_IN_CLUSTER = 32767;

// Writes one Cluster holding the blocks, in one gathered write; true if all
// of it reached the output. The Cluster's time is its first block's; the
// others follow within LATEST_IN_CLUSTER units of it.
bool write_cluster(const block* blocks, int count, ebml_bytes& heads, std::vector<out_chunk>& chunks)
{
    const int64_t cluster_time = blocks[0].time;
    ebml_bytes timestamp;
    put_ebml_uint(timestamp, TIMESTAMP, static_cast<uint64_t>(cluster_time));
    uint64_t body = timestamp.size();
    for (int i = 0; i < count; ++i) {
        const uint64_t block_size = 4 + blocks[i].size;  // track, relative time, flags, payload
        body += ebml_head_size(SIMPLE_BLOCK, block_size) + block_size;
    }
    // All heads first, then the pieces that point into them, so that heads
    // is not reallocated under a piece.
    heads.clear();
    put_ebml_head(heads, CLUSTER, body);
    heads.insert(heads.end(), timestamp.begin(), timestamp.end());
    size_t ends[2] = {};
    for (int i = 0; i < count; ++i) {
        put_ebml_head(heads, SIMPLE_BLOCK, 4 + blocks[i].size);
        heads.push_back(static_cast<unsigned char>(0x80 | blocks[i].track));  // the track as a 1-byte EBML number
        const int64_t relative = blocks[i].time - cluster_time;
        heads.push_back(static_cast<unsigned char>(static_cast<uint64_t>(relative) >> 8));
        heads.push_back(static_cast<unsigned char>(relative));
        heads.push_back(0x80);  // a keyframe: every frame and every run of samples stands alone
        ends[i] = heads.size();
    }
    chunks.clear();
    size_t expected = heads.size();
    for (int i = 0; i < count; ++i) {
        const size_t begin = i == 0 ? 0 : ends[i - 1];  // the Cluster's own head goes with the first block's
        chunks.push_back({heads.data() + begin, ends[i] - begin});
        chunks.insert(chunks.end(), blocks[i].pieces, blocks[i].pieces + blocks[i].piece_count);
        expected += blocks[i].size;
    }
    return write_stdout_chunks(chunks.data(), chunks.size()) == expected;
}

// The clip's audio, fetched a run of samples at a time into one buffer.
struct audio_source {
    AVS_Clip* clip = nullptr;
    int64_t rate = 0;
    size_t sample_frame = 0;  // bytes of one sample of every channel
    int64_t total = 0;        // sample frames in the clip
    int64_t position = 0;     // the next sample frame to go out
    int64_t longest_run = 0;  // sample frames in one block at most
    int64_t units = 1000;     // timestamp units a second
    std::vector<unsigned char> buffer;
    out_chunk piece{};
};

// A sample's time in timestamp units; the clip's length, checked before the
// stream starts, keeps it within 64 bits.
int64_t time_of_sample(const audio_source& audio, int64_t sample)
{
    int64_t units = 0;
    exact_time time;
    time.num = sample;
    time.den = audio.rate;
    time_in_units(time, audio.units, &units);
    return units;
}

// Fetches the next run of samples, up to end, into a block; false (with the
// frame server's message) where it cannot deliver them.
bool next_audio_block(audio_source& audio, int64_t end, int track, block* out)
{
    const int64_t count = end - audio.position < audio.longest_run ? end - audio.position : audio.longest_run;
    const size_t bytes = static_cast<size_t>(count) * audio.sample_frame;
    if (audio.buffer.size() < bytes + 1)
        audio.buffer.resize(bytes + 1);
    if (avs.avs_get_audio(audio.clip, audio.buffer.data(), audio.position, count) != 0) {
        const char* error = avs.avs_clip_get_error(audio.clip);
        diag_print(DIAG_WARN, "audio at sample %" PRId64 ": %s\n", audio.position,
                   one_line(error ? error : "no samples delivered").c_str());
        return false;
    }
    audio.piece = {audio.buffer.data(), bytes};
    *out = {track, time_of_sample(audio, audio.position), bytes, &audio.piece, 1};
    return true;
}

// Writes the samples up to end in Clusters of their own; false where the
// frame server or the output fails.
bool write_audio_until(audio_source& audio, int64_t end, int track, ebml_bytes& heads, std::vector<out_chunk>& chunks)
{
    while (audio.position < end) {
        block samples;
        if (!next_audio_block(audio, end, track, &samples) || !write_cluster(&samples, 1, heads, chunks))
            return false;
        audio.position += static_cast<int64_t>(samples.size / audio.sample_frame);
    }
    return true;
}

// The frame in its Cluster beside the first run of the samples of its span
// (up to audio_end), then the rest of them; false where the frame server or
// the output fails.
bool write_frame_and_samples(const std::vector<out_chunk>& rows, size_t frame_size, int64_t time,
                             audio_source& audio, int64_t audio_end, int audio_track, ebml_bytes& heads,
                             std::vector<out_chunk>& chunks)
{
    block blocks[2];
    blocks[0] = {TRACK_VIDEO, time, frame_size, rows.data(), rows.size()};
    int count = 1;
    // Samples that start further into a long frame than a block's relative
    // time reaches go in Clusters of their own.
    if (audio.position < audio_end && time_of_sample(audio, audio.position) - time <= LATEST_IN_CLUSTER) {
        if (!next_audio_block(audio, audio_end, audio_track, &blocks[1]))
            return false;
        count = 2;
    }
    if (!write_cluster(blocks, count, heads, chunks))
        return false;
    if (count == 2)
        audio.position += static_cast<int64_t>(blocks[1].size / audio.sample_frame);
    // A frame longer than a second has the rest of its samples after it.
    return write_audio_until(audio, audio_end, audio_track, heads, chunks);
}

// Frames fetched ahead of the stream to tell a film whose durations are its
// rate, rounded to its source's timebase, from a variable rate: a third of
// a second of film. A variable-rate source (a phone's or a screen
// recording's) strays from its average rate within its first few frames;
// eight frames cost little, and the frame server's cache usually still
// holds them when the stream fetches them again.
constexpr int RATE_LOOKAHEAD = 8;

// How the video track is timed: at the clip's rate (then the track states
// it, DefaultDuration, which tells a reader the rate exactly: 24000/1001,
// not 23.976), or by each frame's own duration.
struct track_timing {
    int64_t default_duration_ns = 0;  // 0: a variable rate
    long double tick = 0;             // the source's rounding, seconds
    long double shortest = 0;         // seconds: the shortest frame known before the stream starts
};

track_timing time_the_track(const video_plan& plan, AVS_Clip* clip, AVS_ScriptEnvironment* env)
{
    const AVS_VideoInfo& vi = *plan.vi;
    track_timing timing;
    exact_time frame;
    frame.num = vi.fps_denominator;
    frame.den = vi.fps_numerator;
    timing.shortest = static_cast<long double>(vi.fps_denominator) / vi.fps_numerator;
    int64_t nanoseconds = 0;
    if (!time_in_units(frame, 1000000000, &nanoseconds))
        return timing;
    // Frames that say nothing of their duration go at the rate.
    if (plan.frame0.duration_den == 0) {
        timing.default_duration_ns = nanoseconds;
        return timing;
    }
    std::vector<std::pair<int64_t, int64_t>> durations;
    for (int n = 0; n < RATE_LOOKAHEAD && n < vi.num_frames; ++n) {
        AVS_VideoFrame* ahead = avs.avs_get_frame(clip, n);
        if (!ahead)
            break;  // the stream reports it when it comes to it
        int64_t num = vi.fps_denominator, den = vi.fps_numerator;
        read_frame_duration(env, ahead, &num, &den);
        avs.avs_release_video_frame(ahead);
        durations.emplace_back(num, den);
        timing.shortest = std::min(timing.shortest, static_cast<long double>(num) / den);
    }
    const rate_fit fit = durations_keep_rate(vi.fps_numerator, vi.fps_denominator, durations);
    if (fit.keeps_rate) {
        timing.default_duration_ns = nanoseconds;
        timing.tick = fit.tick;
    }
    return timing;
}

audio_source open_audio(AVS_Clip* clip, const AVS_VideoInfo& vi, bool beside_video)
{
    const std::string fault = audio_shape_fault(vi, INT32_MAX);
    if (!fault.empty())
        diag_print(DIAG_ERROR, "%s\n", fault.c_str());
    audio_source audio;
    audio.clip = clip;
    audio.rate = vi.audio_samples_per_second;
    audio.sample_frame = static_cast<size_t>(sample_bytes(vi.sample_type)) * static_cast<size_t>(vi.nchannels);
    audio.total = vi.num_audio_samples;
    // Beside video a block holds a frame's span, a second at most; on its
    // own a tenth of a second. Either way at most 8 MiB: readers refuse a
    // block past 256 MiB (ffmpeg), which a second at 2^31-1 Hz would be.
    audio.longest_run = beside_video ? audio.rate : (audio.rate / 10 > 0 ? audio.rate / 10 : 1);
    const int64_t most = static_cast<int64_t>((size_t{8} << 20) / audio.sample_frame);
    audio.longest_run = std::max<int64_t>(1, std::min(audio.longest_run, most));
    return audio;
}

// The stream's length in timestamp units where it is known before the
// first frame: frames at the rate, samples over their rate (each divided
// once, so that 48 frames at 24000/1001 are 2002 ms exactly); negative for
// a variable rate, rather than a guess.
double stream_length(bool has_video, const track_timing& timing, const AVS_VideoInfo& vi, const audio_source& audio)
{
    long double length = 0;
    if (has_video) {
        if (!timing.default_duration_ns)
            return -1;
        length = static_cast<long double>(vi.num_frames) * vi.fps_denominator * audio.units / vi.fps_numerator;
    }
    if (audio.rate > 0)
        length = std::max(length, static_cast<long double>(audio.total) * audio.units / audio.rate);
    return static_cast<double>(length);
}

// The timestamp unit in nanoseconds (TimestampScale): a millisecond, as
// readers expect, where the clip's frames last that long; for shorter ones
// the largest power of ten of a nanosecond that the shortest frame known
// before the stream starts (at the clip's rate, or by the durations of the
// first frames) still spans, so that every frame has a timestamp of its
// own. Frames shorter than a nanosecond, or later frames shorter than the
// unit, cannot; the stream says so when it meets them.
int64_t timestamp_unit_ns(const track_timing& timing)
{
    int64_t unit = MILLISECOND_NS;
    while (unit > 1 && unit > timing.shortest * 1e9L)
        unit /= 10;
    return unit;
}

int percent_of(int64_t part, int64_t whole)
{
    if (whole <= 0 || part >= whole)
        return 100;
    // part x 100 fits below this bound; above it, dividing first loses
    // nothing visible.
    return static_cast<int>(part <= INT64_MAX / 100 ? part * 100 / whole : part / (whole / 100));
}

}  // namespace

AVS_Clip* write_matroska(AVS_Clip* clip, AVS_ScriptEnvironment* env, int depth, frame_props_file& frame_props)
{
    const AVS_VideoInfo* vi = avs.avs_get_video_info(clip);
    const bool has_video = vi->width != 0, has_audio = vi->audio_samples_per_second != 0;
    if (!has_video && !has_audio)
        diag_print(DIAG_ERROR, "clip has neither video nor audio.\n");
    video_plan plan;
    if (has_video) {
        plan = plan_video(&clip, env, depth, CARRIER_MATROSKA);
        vi = plan.vi;
        refuse_rate_without_duration(vi->fps_numerator, vi->fps_denominator);
    }
    if (has_video) {
        warn_of_values_left_out(plan.frame0, true);
        const std::string depth_loss = hdr_depth_loss(plan);
        if (!depth_loss.empty())
            diag_print(DIAG_WARN, "%s.\n", depth_loss.c_str());
        if (plan.frame0.matrix == 0 && is_identity_misplaced(plan))
            diag_print(DIAG_WARN, "frame 0's _Matrix 0 (identity: the planes are G, B and R) does not fit %s video: "
                                  "it is left out.\n",
                       plan.layout.name);
    }
    audio_source audio;
    if (has_audio)
        audio = open_audio(clip, *vi, has_video);
    const int audio_track = !has_audio ? 0 : has_video ? TRACK_AUDIO : 1;
    // Times that a reader cannot hold are an error before the stream
    // starts, as far as frame 0's duration and the clip's length tell.
    if (has_video || has_audio) {
        const bool own = has_video && plan.frame0.duration_den != 0;
        const std::string too_long = check_clip_length(
            has_video ? vi->num_frames : 0, own ? plan.frame0.duration_num : vi->fps_denominator,
            own ? plan.frame0.duration_den : vi->fps_numerator, audio.total, audio.rate, MATROSKA_LAST_SECOND);
        if (!too_long.empty())
            diag_print(DIAG_ERROR, "cannot write the clip in Matroska: %s.\n", too_long.c_str());
    }
    begin_stream_sink();
    static const char* const field_words[] = {"progressive", "tff", "bff"};
    if (has_video)
        diag_print(DIAG_INFO, "writing %d frames of %u/%u fps, %dx%d %s %s video.\n", vi->num_frames,
                   vi->fps_numerator, vi->fps_denominator, vi->width, vi->height, plan.layout.name,
                   field_words[plan.order]);
    if (has_audio)
        diag_print(DIAG_INFO, "writing %" PRId64 " seconds of %d Hz, %d channel audio.\n", audio.total / audio.rate,
                   vi->audio_samples_per_second, vi->nchannels);
    const track_timing timing = has_video ? time_the_track(plan, clip, env) : track_timing();
    const int64_t unit_ns = has_video ? timestamp_unit_ns(timing) : MILLISECOND_NS;
    audio.units = 1000000000 / unit_ns;
    const ebml_bytes head = stream_head(has_video ? &plan : nullptr, timing.default_duration_ns, unit_ns,
                                        stream_length(has_video, timing, *vi, audio), *vi, audio_track);
    bool stream_ok = fwrite(head.data(), head.size(), 1, stdout) == 1 && flush_stdout();
    // A clip with neither frames nor samples is a stream of no blocks: one
    // empty Cluster makes it one that readers take.
    if (stream_ok && (!has_video || vi->num_frames == 0) && audio.total == 0) {
        ebml_bytes empty, timestamp;
        put_ebml_uint(timestamp, TIMESTAMP, 0);
        put_ebml_master(empty, CLUSTER, timestamp);
        stream_ok = fwrite(empty.data(), empty.size(), 1, stdout) == 1 && flush_stdout();
    }

    ebml_bytes heads;
    std::vector<out_chunk> chunks, rows;
    const int frames = has_video ? vi->num_frames : 0;
    progress_meter progress =
        has_video ? progress_begin("frames", "%.1f fps") : progress_begin("seconds", "%.1fx real time");
    int written = 0;
    exact_time start;  // of the next frame
    bool own_durations = false;
    int strayed = -1;  // the first frame that strays from the rate the track states, and its start
    long double strayed_at = 0;
    int shared = -1;   // the first frame whose timestamp is its predecessor's
    int64_t last_time = -1;
    for (int n = 0; stream_ok && n < frames; ++n) {
        AVS_VideoFrame* frame = fetch_frame(clip, n);
        if (!frame)
            break;
        rows.clear();
        if (!add_frame_rows(rows, frame, plan)) {
            avs.avs_release_video_frame(frame);
            diag_print(DIAG_WARN, "frame %d: smaller than the clip's %dx%d\n", n, vi->width, vi->height);
            break;
        }
        // Its own duration where the source knows it, else the clip's rate.
        int64_t num = vi->fps_denominator, den = vi->fps_numerator;
        own_durations = read_frame_duration(env, frame, &num, &den) || own_durations;
        exact_time next = start;
        const std::string unfit = add_stream_time(next, num, den, MATROSKA_LAST_SECOND);
        if (!unfit.empty())
            diag_print(DIAG_ERROR, "cannot time frame %d in Matroska: %s.\n", n, unfit.c_str());
        int64_t time = 0, audio_end = audio.total;
        time_in_units(start, audio.units, &time);  // within 64 bits: start is at most MATROSKA_LAST_SECOND
        if (has_audio && !time_in_units_rounded_up(next, audio.rate, &audio_end))
            audio_end = audio.total;
        if (time == last_time && shared < 0)
            shared = n;
        last_time = time;
        if (timing.default_duration_ns && strayed < 0 &&
            distance_from_rate(start, n, vi->fps_numerator, vi->fps_denominator) > timing.tick * (1 + 1e-9L)) {
            strayed = n;
            strayed_at = static_cast<long double>(start.num) / start.den;
        }
        stream_ok = write_frame_and_samples(rows, static_cast<size_t>(frame_bytes(plan)), time, audio,
                                            audio_end < audio.total ? audio_end : audio.total, audio_track, heads,
                                            chunks);
        if (stream_ok)
            write_frame_props(frame_props, n, env, frame);
        avs.avs_release_video_frame(frame);
        if (!stream_ok)
            break;
        start = next;
        ++written;
        progress_update(progress, written, frames);
        if (interrupt_requested())
            break;
    }
    // Audio that runs on past the video, or a clip's only track.
    while (stream_ok && written == frames && audio.position < audio.total && !interrupt_requested()) {
        const int64_t end = audio.total - audio.position > audio.rate ? audio.position + audio.rate : audio.total;
        stream_ok = write_audio_until(audio, end, audio_track, heads, chunks);
        if (!has_video)
            progress_update(progress, audio.position / audio.rate, audio.total / audio.rate);
    }
    stream_ok = flush_stdout() && stream_ok;
    progress_end(progress);
    end_frame_props(frame_props);
    if (own_durations)
        check_durations_against_rate(start, written, vi->fps_numerator, vi->fps_denominator);
    if (shared >= 0)
        diag_print(DIAG_WARN,
                   "frame %d starts within the same timestamp unit (%" PRId64 " ns, the finest this stream has) as "
                   "the frame before it: frames that short share a timestamp, and a reader may drop the ones that "
                   "do.\n",
                   shared, unit_ns);
    if (strayed >= 0)
        diag_print(DIAG_WARN,
                   "frame %d starts at %.3f s, not at %.3f s where the clip's %u/%u fps put it, the rate the track "
                   "states from its first frames: readers follow each frame's own time, but one that takes the rate "
                   "(an MP4 encode) repeats or drops frames there.\n",
                   strayed, static_cast<double>(strayed_at),
                   static_cast<double>(strayed) * vi->fps_denominator / vi->fps_numerator, vi->fps_numerator,
                   vi->fps_denominator);

    if (has_video) {
        diag_print(DIAG_SUMMARY, "finished, wrote %d frames [%d%%].\n", written, percent_of(written, frames));
        if (interrupt_requested() && (written != frames || audio.position != audio.total))
            diag_print(DIAG_ERROR, "interrupted after %d of %d frames.\n", written, frames);
        if (written != frames)
            diag_print(DIAG_ERROR, "only wrote %d of %d frames.\n", written, frames);
    } else {
        diag_print(DIAG_SUMMARY, "finished, wrote %" PRId64 " seconds [%d%%].\n", audio.position / audio.rate,
                   percent_of(audio.position, audio.total));
        if (interrupt_requested() && audio.position != audio.total)
            diag_print(DIAG_ERROR, "interrupted after %" PRId64 " of %" PRId64 " samples.\n", audio.position,
                       audio.total);
    }
    if (has_audio && audio.position != audio.total)
        diag_print(DIAG_ERROR, "only wrote %" PRId64 " of %" PRId64 " samples.\n", audio.position, audio.total);
    if (!stream_ok)
        diag_print(DIAG_ERROR, "cannot write to stdout.\n");
    return clip;
}
