// Matroska (RFC 9559) in the form a pipe can carry: the head (see
// matroska_head.h), then Clusters, each written whole with its size, and no
// Cues. Video is V_UNCOMPRESSED under ffmpeg's raw FourCC for its layout;
// audio is PCM. Every frame goes out in a Cluster of its own, beside the
// samples of its span of time, so a reader never holds more than about a
// frame's worth of either.
//
// Timestamps are milliseconds (finer for frames shorter than one). Each
// frame starts at the exact sum of the durations before it (its own
// _DurationNum/_DurationDen, else the clip's rate), rounded once; a
// sample's time is its number over the rate.

#include <algorithm>
#include <cinttypes>
#include <string>

#include "common/diag.h"
#include "writers/format.h"
#include "writers/matroska_head.h"
#include "writers/stream_time.h"

namespace {

// Timestamps count units of TimestampScale nanoseconds: a millisecond, as
// readers expect, unless the clip's frames are shorter (see
// timestamp_unit_ns).
constexpr int64_t MILLISECOND_NS = 1000000;

// A block's time is relative to its Cluster's, in a signed 16-bit number.
constexpr int64_t LATEST_IN_CLUSTER = 32767;

// A SimpleBlock's payload, where it lies, and its time in timestamp units.
struct block {
    int track = 0;
    int64_t time = 0;
    size_t size = 0;
    const out_chunk* pieces = nullptr;
    size_t piece_count = 0;
};

struct matroska_state {
    const video_plan* plan = nullptr;
    const AVS_VideoInfo* vi = nullptr;
    audio_shape audio;
    int audio_track = 0;
    int64_t units = 1000;         // timestamp units a second
    int64_t unit_ns = MILLISECOND_NS;
    int64_t longest_run = 1;      // sample frames in one block at most
    int64_t default_duration_ns = 0;  // 0: a variable rate
    long double tick = 0;         // the source's rounding, seconds
    exact_time start;             // of the next frame
    int64_t last_time = -1;
    int shared = -1;              // the first frame whose timestamp is its predecessor's
    int strayed = -1;             // the first frame that strays from the rate the track states,
    long double strayed_at = 0;   // and its start
    bool holding = false;         // a frame waits for its first samples
    block held;
    out_chunk samples_piece{};
};

// Appends one Cluster holding the blocks. The Cluster's time is its first
// block's; the others follow within LATEST_IN_CLUSTER units of it.
void add_cluster(const block* blocks, int count, out_packet& out)
{
    const int64_t cluster_time = blocks[0].time;
    ebml_bytes timestamp;
    put_ebml_uint(timestamp, MATROSKA_TIMESTAMP, static_cast<uint64_t>(cluster_time));
    uint64_t body = timestamp.size();
    for (int i = 0; i < count; ++i) {
        const uint64_t block_size = 4 + blocks[i].size;  // track, relative time, flags, payload
        body += ebml_head_size(MATROSKA_SIMPLE_BLOCK, block_size) + block_size;
    }
    ebml_bytes heads;
    put_ebml_head(heads, MATROSKA_CLUSTER, body);
    heads.insert(heads.end(), timestamp.begin(), timestamp.end());
    for (int i = 0; i < count; ++i) {
        put_ebml_head(heads, MATROSKA_SIMPLE_BLOCK, 4 + blocks[i].size);
        heads.push_back(static_cast<unsigned char>(0x80 | blocks[i].track));  // the track as a 1-byte EBML number
        const int64_t relative = blocks[i].time - cluster_time;
        heads.push_back(static_cast<unsigned char>(static_cast<uint64_t>(relative) >> 8));
        heads.push_back(static_cast<unsigned char>(relative));
        heads.push_back(0x80);  // a keyframe: every frame and every run of samples stands alone
        packet_add_copy(out, heads.data(), heads.size());
        heads.clear();
        packet_add_pieces(out, blocks[i].pieces, blocks[i].piece_count, blocks[i].size);
    }
}

// A sample's time in timestamp units; the clip's length, checked before the
// stream starts, keeps it within 64 bits.
int64_t time_of_sample(const matroska_state& m, int64_t sample)
{
    int64_t units = 0;
    exact_time time;
    time.num = sample;
    time.den = m.audio.rate;
    time_in_units(time, m.units, &units);
    return units;
}

// How the video track is timed: at the clip's rate (then the track states
// it, DefaultDuration, which tells a reader the rate exactly: 24000/1001,
// not 23.976), or by each frame's own duration; and the shortest frame
// known before the stream starts, in seconds.
long double time_the_track(matroska_state& m, const stream_start& start)
{
    const AVS_VideoInfo& vi = *m.vi;
    exact_time frame;
    frame.num = vi.fps_denominator;
    frame.den = vi.fps_numerator;
    long double shortest = static_cast<long double>(vi.fps_denominator) / vi.fps_numerator;
    int64_t nanoseconds = 0;
    if (!time_in_units(frame, 1000000000, &nanoseconds))
        return shortest;
    // Frames that say nothing of their duration go at the rate.
    if (m.plan->frame0.duration_den == 0) {
        m.default_duration_ns = nanoseconds;
        return shortest;
    }
    for (const auto& d : start.first_durations)
        shortest = std::min(shortest, static_cast<long double>(d.first) / d.second);
    const rate_fit fit = durations_keep_rate(vi.fps_numerator, vi.fps_denominator, start.first_durations);
    if (fit.keeps_rate) {
        m.default_duration_ns = nanoseconds;
        m.tick = fit.tick;
    }
    return shortest;
}

// The timestamp unit in nanoseconds (TimestampScale): a millisecond, as
// readers expect, where the clip's frames last that long; for shorter ones
// the largest power of ten of a nanosecond that the shortest frame known
// before the stream starts still spans, so that every frame has a
// timestamp of its own. Frames shorter than a nanosecond, or later frames
// shorter than the unit, cannot; the stream says so when it meets them.
int64_t timestamp_unit_ns(long double shortest)
{
    int64_t unit = MILLISECOND_NS;
    while (unit > 1 && unit > shortest * 1e9L)
        unit /= 10;
    return unit;
}

// The stream's length in timestamp units where it is known before the
// first frame: frames at the rate, samples over their rate (each divided
// once, so that 48 frames at 24000/1001 are 2002 ms exactly); negative for
// a variable rate, rather than a guess.
double stream_length(const matroska_state& m)
{
    long double length = 0;
    if (m.plan) {
        if (!m.default_duration_ns)
            return -1;
        length = static_cast<long double>(m.vi->num_frames) * m.vi->fps_denominator * m.units / m.vi->fps_numerator;
    }
    if (m.audio.rate > 0)
        length = std::max(length, static_cast<long double>(m.audio.total) * m.units / m.audio.rate);
    return static_cast<double>(length);
}

void* matroska_open(const stream_start& start)
{
    matroska_state* m = new matroska_state;
    m->plan = start.video;
    m->vi = start.clip;
    m->audio = start.audio;
    const bool has_video = m->plan != nullptr, has_audio = m->audio.rate != 0;
    if (has_video) {
        const video_plan& plan = *m->plan;
        refuse_rate_without_duration(m->vi->fps_numerator, m->vi->fps_denominator);
        warn_of_values_left_out(plan.frame0, true);
        const std::string depth_loss = hdr_depth_loss(plan);
        if (!depth_loss.empty())
            diag_print(DIAG_WARN, "%s.\n", depth_loss.c_str());
        if (plan.frame0.matrix == 0 && is_identity_misplaced(plan))
            diag_print(DIAG_WARN, "frame 0's _Matrix 0 (identity: the planes are G, B and R) does not fit %s video: "
                                  "it is left out.\n",
                       plan.layout.name);
    }
    if (has_audio) {
        // Beside video a block holds a frame's span, a second at most; on
        // its own a tenth of a second. Either way at most 8 MiB: readers
        // refuse a block past 256 MiB (ffmpeg), which a second at 2^31-1 Hz
        // would be.
        m->longest_run = has_video ? m->audio.rate : std::max(m->audio.rate / 10, 1);
        const int64_t most = static_cast<int64_t>((size_t{8} << 20) / m->audio.frame_bytes);
        m->longest_run = std::max<int64_t>(1, std::min(m->longest_run, most));
    }
    m->audio_track = !has_audio ? 0 : has_video ? MATROSKA_TRACK_AUDIO : 1;
    // Times that a reader cannot hold are an error before the stream
    // starts, as far as frame 0's duration and the clip's length tell.
    const bool own = has_video && m->plan->frame0.duration_den != 0;
    const AVS_VideoInfo& vi = *m->vi;
    const std::string too_long =
        check_clip_length(has_video ? vi.num_frames : 0, own ? m->plan->frame0.duration_num : vi.fps_denominator,
                          own ? m->plan->frame0.duration_den : vi.fps_numerator, m->audio.total, m->audio.rate,
                          MATROSKA_LAST_SECOND);
    if (!too_long.empty())
        diag_print(DIAG_ERROR, "cannot write the clip in Matroska: %s.\n", too_long.c_str());
    return m;
}

void matroska_begin(void* state, const stream_start& start, out_packet& out)
{
    matroska_state& m = *static_cast<matroska_state*>(state);
    const AVS_VideoInfo& vi = *m.vi;
    if (m.plan)
        diag_print(DIAG_INFO, "writing %d frames of %u/%u fps, %dx%d %s %s video.\n", vi.num_frames, vi.fps_numerator,
                   vi.fps_denominator, vi.width, vi.height, m.plan->layout.name, field_order_word(m.plan->order));
    if (m.audio.rate)
        diag_print(DIAG_INFO, "writing %" PRId64 " seconds of %d Hz, %d channel audio.\n", m.audio.total / m.audio.rate,
                   m.audio.rate, m.audio.channels);
    if (m.plan)
        m.unit_ns = timestamp_unit_ns(time_the_track(m, start));
    m.units = 1000000000 / m.unit_ns;
    const ebml_bytes head =
        matroska_head(m.plan, m.default_duration_ns, m.unit_ns, stream_length(m), m.audio, m.audio_track);
    packet_add_copy(out, head.data(), head.size());
    // A clip with neither frames nor samples is a stream of no blocks: one
    // empty Cluster makes it one that readers take.
    if ((!m.plan || vi.num_frames == 0) && m.audio.total == 0) {
        ebml_bytes empty, timestamp;
        put_ebml_uint(timestamp, MATROSKA_TIMESTAMP, 0);
        put_ebml_master(empty, MATROSKA_CLUSTER, timestamp);
        packet_add_copy(out, empty.data(), empty.size());
    }
}

int64_t matroska_video_frame(void* state, const frame_in& frame, out_packet&)
{
    matroska_state& m = *static_cast<matroska_state*>(state);
    const AVS_VideoInfo& vi = *m.vi;
    exact_time next = m.start;
    const std::string unfit = add_stream_time(next, frame.duration_num, frame.duration_den, MATROSKA_LAST_SECOND);
    if (!unfit.empty())
        diag_print(DIAG_ERROR, "cannot time frame %d in Matroska: %s.\n", frame.n, unfit.c_str());
    int64_t time = 0, audio_end = m.audio.total;
    time_in_units(m.start, m.units, &time);  // within 64 bits: start is at most MATROSKA_LAST_SECOND
    if (m.audio.rate && !time_in_units_rounded_up(next, m.audio.rate, &audio_end))
        audio_end = m.audio.total;
    if (time == m.last_time && m.shared < 0)
        m.shared = frame.n;
    m.last_time = time;
    if (m.default_duration_ns && m.strayed < 0 &&
        distance_from_rate(m.start, frame.n, vi.fps_numerator, vi.fps_denominator) > m.tick * (1 + 1e-9L)) {
        m.strayed = frame.n;
        m.strayed_at = seconds_of(m.start);
    }
    m.start = next;
    m.held = {MATROSKA_TRACK_VIDEO, time, frame.bytes, frame.rows->data(), frame.rows->size()};
    m.holding = true;
    return std::min(audio_end, m.audio.total);
}

void matroska_audio_block(void* state, const samples_in& samples, out_packet& out)
{
    matroska_state& m = *static_cast<matroska_state*>(state);
    m.samples_piece = {samples.data, samples.bytes};
    const block run = {m.audio_track, time_of_sample(m, samples.first), samples.bytes, &m.samples_piece, 1};
    // Samples that start further into a long frame than a block's relative
    // time reaches go in Clusters of their own.
    if (m.holding && run.time - m.held.time <= LATEST_IN_CLUSTER) {
        const block both[2] = {m.held, run};
        add_cluster(both, 2, out);
        m.holding = false;
        return;
    }
    if (m.holding)
        add_cluster(&m.held, 1, out);
    m.holding = false;
    add_cluster(&run, 1, out);
}

void matroska_frame_done(void* state, out_packet& out)
{
    matroska_state& m = *static_cast<matroska_state*>(state);
    if (m.holding)
        add_cluster(&m.held, 1, out);
    m.holding = false;
}

int64_t matroska_block_samples(void* state)
{
    return static_cast<matroska_state*>(state)->longest_run;
}

void matroska_end(void* state, int)
{
    matroska_state* m = static_cast<matroska_state*>(state);
    if (m->shared >= 0)
        diag_print(DIAG_WARN,
                   "frame %d starts within the same timestamp unit (%" PRId64 " ns, the finest this stream has) as "
                   "the frame before it: frames that short share a timestamp, and a reader may drop the ones that "
                   "do.\n",
                   m->shared, m->unit_ns);
    if (m->strayed >= 0)
        diag_print(DIAG_WARN,
                   "frame %d starts at %.3f s, not at %.3f s where the clip's %u/%u fps put it, the rate the track "
                   "states from its first frames: readers follow each frame's own time, but one that takes the rate "
                   "(an MP4 encode) repeats or drops frames there.\n",
                   m->strayed, static_cast<double>(m->strayed_at),
                   static_cast<double>(m->strayed) * m->vi->fps_denominator / m->vi->fps_numerator,
                   m->vi->fps_numerator, m->vi->fps_denominator);
    delete m;
}

}  // namespace

const stream_format MATROSKA_FORMAT = {
    "mkv", TRACKS_BOTH, INT32_MAX, false, true, 8, matroska_open, matroska_begin, matroska_video_frame,
    matroska_audio_block, matroska_frame_done, matroska_block_samples, matroska_end,
};
