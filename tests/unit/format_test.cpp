// The formats' bytes, from what the pump would hand them, without a frame
// server.

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "writers/format.h"

namespace {

std::string bytes_of(const out_packet& packet)
{
    std::string bytes;
    for (const out_chunk& c : packet.chunks)
        bytes.append(static_cast<const char*>(c.data), c.size);
    EXPECT_EQ(bytes.size(), packet.size);
    return bytes;
}

// A 4x2 clip of 4:2:0 at 8 bits, 25 fps, 3 frames.
struct small_clip {
    AVS_VideoInfo vi{};
    video_plan plan;
    small_clip()
    {
        vi.width = 4;
        vi.height = 2;
        vi.fps_numerator = 25;
        vi.fps_denominator = 1;
        vi.num_frames = 3;
        vi.pixel_type = AVS_CS_YV12;
        plan.vi = &vi;
        plan.layout.kind = PIXEL_PLANAR_YUV;
        plan.layout.planes = 3;
        plan.layout.shift_w = plan.layout.shift_h = 1;
        plan.layout.bits = 8;
        plan.layout.sample_bytes = plan.layout.pixel_bytes = 1;
        snprintf(plan.layout.name, sizeof plan.layout.name, "YUV420");
    }
};

// Runs a format over frames of the given rows, samples given with each.
std::string run_format(const stream_format& format, stream_start start, int frames, const std::string& rows,
                       const std::string& samples_per_frame)
{
    out_packet out;
    void* state = format.open(start);
    format.begin(state, start, out);
    std::string stream = bytes_of(out);
    const std::vector<out_chunk> row_chunks = {{rows.data(), rows.size()}};
    int64_t position = 0;
    for (int n = 0; n < frames; ++n) {
        packet_clear(out);
        frame_in frame;
        frame.n = n;
        frame.rows = &row_chunks;
        frame.bytes = rows.size();
        frame.duration_num = 1;
        frame.duration_den = 25;
        const int64_t end = format.video_frame(state, frame, out);
        if (position < end && format.audio_block) {
            const int64_t count = end - position;
            format.audio_block(state, {samples_per_frame.data(), position, count, samples_per_frame.size()}, out);
            position = end;
        }
        if (format.frame_done)
            format.frame_done(state, out);
        stream += bytes_of(out);
    }
    format.end(state, frames);
    return stream;
}

video_layout layout(pixel_kind kind, int shift_w, int shift_h, int bits, int planes, int pixel_bytes = 1)
{
    video_layout l{};
    l.kind = kind;
    l.shift_w = shift_w;
    l.shift_h = shift_h;
    l.bits = bits;
    l.planes = planes;
    l.pixel_bytes = pixel_bytes;
    return l;
}

}  // namespace

TEST(Packet, PiecesBackToBackGoOutAsOneAndCopiesStayPut)
{
    const char text[] = "abcdef";
    out_packet packet;
    packet_add(packet, text, 2);
    packet_add(packet, text + 2, 2);  // right after the first: one piece
    packet_add(packet, text + 5, 1);  // a gap: a piece of its own
    EXPECT_EQ(packet.chunks.size(), 2u);
    for (int i = 0; i < 100; ++i)
        packet_add_copy(packet, std::string(1, static_cast<char>('0' + i % 10)));
    EXPECT_EQ(bytes_of(packet), "abcdf" + [] {
        std::string digits;
        for (int i = 0; i < 100; ++i)
            digits += static_cast<char>('0' + i % 10);
        return digits;
    }());
    packet_clear(packet);
    EXPECT_EQ(packet.size, 0u);
    EXPECT_TRUE(packet.chunks.empty());
}

TEST(Y4m, ClassicHeaderSaysOnlyTheFlagsAndDeepOneWhatFrameZeroSays)
{
    struct {
        bool says_frame0;
        field_order order;
        int64_t sar_num, sar_den;
        int range, chroma_location;
        const char* header;
    } cases[] = {
        {false, FIELD_PROGRESSIVE, 10, 11, 0, 0, "YUV4MPEG2 W4 H2 F25:1 Ip A0:0 C420\n"},
        {true, FIELD_TFF, 10, 11, 0, 0, "YUV4MPEG2 W4 H2 F25:1 It A10:11 C420mpeg2 XCOLORRANGE=FULL\n"},
        {true, FIELD_BFF, 0, 0, 1, 2, "YUV4MPEG2 W4 H2 F25:1 Ib A0:0 C420paldv XCOLORRANGE=LIMITED\n"},
        {true, FIELD_PROGRESSIVE, 0, 0, PROPERTY_ABSENT, PROPERTY_ABSENT, "YUV4MPEG2 W4 H2 F25:1 Ip A0:0 C420\n"},
    };
    for (const auto& c : cases) {
        small_clip clip;
        clip.plan.header_says_frame0 = c.says_frame0;
        clip.plan.header_order = c.order;
        clip.plan.frame0.sar_num = c.sar_num;
        clip.plan.frame0.sar_den = c.sar_den;
        clip.plan.frame0.colour_range = c.range;
        clip.plan.frame0.chroma_location = c.chroma_location;
        stream_start start;
        start.clip = &clip.vi;
        start.video = &clip.plan;
        testing::internal::CaptureStderr();
        const std::string stream = run_format(Y4M_FORMAT, start, 2, "ABCDEFGHIJKL", "");
        testing::internal::GetCapturedStderr();
        EXPECT_EQ(stream, std::string(c.header) + "FRAME\nABCDEFGHIJKLFRAME\nABCDEFGHIJKL") << c.header;
    }
}

TEST(Y4m, ChromaTagsOfEveryLayoutItCarries)
{
    struct {
        pixel_kind kind;
        int shift_w, shift_h, bits, planes;
        const char* tag;
    } cases[] = {
        {PIXEL_PLANAR_YUV, 1, 1, 8, 3, "420"},   {PIXEL_PLANAR_YUV, 1, 0, 10, 3, "422p10"},
        {PIXEL_PLANAR_YUV, 0, 0, 16, 3, "444p16"}, {PIXEL_PLANAR_YUV, 2, 0, 8, 3, "411"},
        {PIXEL_MONO, 0, 0, 8, 1, "mono"},        {PIXEL_MONO, 0, 0, 12, 1, "mono12"},
        {PIXEL_PLANAR_YUV, 1, 1, 8, 4, ""},      {PIXEL_PLANAR_RGB, 0, 0, 8, 3, ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(y4m_chroma_tag(layout(c.kind, c.shift_w, c.shift_h, c.bits, c.planes)), c.tag) << c.tag;
}

TEST(Wav, TheHeaderFitsTheLengthAndTheSamplesFollowAsGiven)
{
    struct {
        rf64_use rf64;
        int64_t samples;
        const char* magic;
        size_t header;
    } cases[] = {
        {RF64_NEVER, 48000, "RIFF", 80},
        {RF64_ALWAYS, 48000, "RF64", 104},
        {RF64_AUTO, 48000, "RIFF", 80},
        {RF64_AUTO, int64_t{1} << 31, "RF64", 104},  // 8 GiB of stereo 16-bit samples
    };
    for (const auto& c : cases) {
        AVS_VideoInfo vi{};
        vi.audio_samples_per_second = 48000;
        vi.sample_type = AVS_SAMPLE_INT16;
        vi.nchannels = 2;
        vi.num_audio_samples = c.samples;
        stream_start start;
        start.clip = &vi;
        start.audio = audio_shape_of(vi);
        start.rf64 = c.rf64;
        start.channel_mask = 0x3;
        out_packet out;
        testing::internal::CaptureStderr();
        void* state = WAV_FORMAT.open(start);
        WAV_FORMAT.begin(state, start, out);
        EXPECT_EQ(WAV_FORMAT.block_samples(state), 48000);
        WAV_FORMAT.audio_block(state, {"wxyz", 0, 1, 4}, out);
        WAV_FORMAT.end(state, 0);
        testing::internal::GetCapturedStderr();
        const std::string stream = bytes_of(out);
        ASSERT_EQ(stream.size(), c.header + 4);
        EXPECT_EQ(stream.substr(0, 4), c.magic);
        EXPECT_EQ(stream.substr(c.header), "wxyz");
        EXPECT_EQ(stream[c.header == 80 ? 40 : 76], 3);  // the mask, in the "fmt " chunk
    }
}

TEST(Matroska, EachFrameInAClusterWithTheFirstOfItsSamples)
{
    small_clip clip;
    clip.vi.audio_samples_per_second = 1000;
    clip.vi.sample_type = AVS_SAMPLE_INT8;
    clip.vi.nchannels = 1;
    clip.vi.num_audio_samples = 120;  // 40 samples a frame, 3 frames
    stream_start start;
    start.clip = &clip.vi;
    start.video = &clip.plan;
    start.audio = audio_shape_of(clip.vi);
    testing::internal::CaptureStderr();
    const std::string stream = run_format(MATROSKA_FORMAT, start, 3, "ABCDEFGHIJKL", std::string(40, 's'));
    testing::internal::GetCapturedStderr();
    // A Cluster each frame (1F43B675), each with two SimpleBlocks (A3):
    // track 1's frame at the frame's time, then track 2's samples.
    size_t clusters = 0, at = 0;
    while ((at = stream.find("\x1F\x43\xB6\x75", at)) != std::string::npos) {
        ++clusters;
        ++at;
    }
    EXPECT_EQ(clusters, 3u);
    const size_t frame = stream.find("ABCDEFGHIJKL"), samples = stream.find(std::string(40, 's'));
    ASSERT_NE(frame, std::string::npos);
    ASSERT_NE(samples, std::string::npos);
    EXPECT_LT(frame, samples);
    EXPECT_EQ(static_cast<unsigned char>(stream[frame - 4]), 0x81u);    // track 1, as a 1-byte number
    EXPECT_EQ(static_cast<unsigned char>(stream[samples - 4]), 0x82u);  // track 2
    EXPECT_EQ(stream.substr(frame - 3, 3), std::string("\x00\x00\x80", 3));  // at the Cluster's time, a keyframe
}

TEST(Matroska, AClipOfNothingIsOneEmptyCluster)
{
    small_clip clip;
    clip.vi.num_frames = 0;
    stream_start start;
    start.clip = &clip.vi;
    start.video = &clip.plan;
    testing::internal::CaptureStderr();
    const std::string stream = run_format(MATROSKA_FORMAT, start, 0, "", "");
    testing::internal::GetCapturedStderr();
    ASSERT_GE(stream.size(), 8u);
    // Cluster, 3 bytes: Timestamp, 1 byte: 0.
    EXPECT_EQ(stream.substr(stream.size() - 8), std::string("\x1F\x43\xB6\x75\x83\xE7\x81\x00", 8));
}

TEST(Matroska, RawFourccOfEachLayout)
{
    auto code = [](const char* four) {
        return static_cast<uint32_t>(static_cast<unsigned char>(four[0])) |
               static_cast<uint32_t>(static_cast<unsigned char>(four[1])) << 8 |
               static_cast<uint32_t>(static_cast<unsigned char>(four[2])) << 16 |
               static_cast<uint32_t>(static_cast<unsigned char>(four[3])) << 24;
    };
    struct {
        pixel_kind kind;
        int shift_w, shift_h, bits, planes, pixel_bytes;
        uint32_t fourcc;
    } cases[] = {
        {PIXEL_PLANAR_YUV, 1, 1, 8, 3, 1, code("I420")},        {PIXEL_PLANAR_YUV, 1, 0, 8, 3, 1, code("Y42B")},
        {PIXEL_PLANAR_YUV, 0, 0, 8, 3, 1, code("444P")},        {PIXEL_PLANAR_YUV, 2, 0, 8, 3, 1, code("Y41B")},
        {PIXEL_PLANAR_YUV, 1, 1, 10, 3, 2, code("Y3\x0b\x0a")}, {PIXEL_PLANAR_YUV, 1, 1, 8, 4, 1, code("Y4\x0b\x08")},
        {PIXEL_MONO, 0, 0, 8, 1, 1, code("Y800")},              {PIXEL_MONO, 0, 0, 16, 1, 2, code("Y1\x00\x10")},
        {PIXEL_PLANAR_RGB, 0, 0, 10, 3, 2, code("G3\x00\x0a")}, {PIXEL_PACKED_RGB, 0, 0, 8, 1, 4, code("BGRA")},
        {PIXEL_PACKED_RGB, 0, 0, 16, 1, 6, code("BGR\x30")},
    };
    for (const auto& c : cases)
        EXPECT_EQ(raw_fourcc(layout(c.kind, c.shift_w, c.shift_h, c.bits, c.planes, c.pixel_bytes)), c.fourcc)
            << c.kind << " " << c.bits;
}
