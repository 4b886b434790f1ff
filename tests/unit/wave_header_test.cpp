#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "writers/wave_header.h"
#include "wave_shape_of.h"

namespace {

using wave_header = std::string;

uint32_t u32(const wave_header& h, int at)
{
    const unsigned char* b = reinterpret_cast<const unsigned char*>(h.data()) + at;
    return b[0] | b[1] << 8 | b[2] << 16 | static_cast<uint32_t>(b[3]) << 24;
}

uint16_t u16(const wave_header& h, int at)
{
    const unsigned char* b = reinterpret_cast<const unsigned char*>(h.data()) + at;
    return static_cast<uint16_t>(b[0] | b[1] << 8);
}

std::string text(const wave_header& h, int at)
{
    return h.substr(static_cast<size_t>(at), 4);
}

// Builds a header and returns what it warned on standard error.
wave_header build(std::string* warnings, uint16_t format, uint16_t channels, uint32_t rate, uint32_t bytes,
                  int64_t count)
{
    testing::internal::CaptureStderr();
    wave_header h = build_wave_header(shape_of(format, channels, rate, bytes, count));
    *warnings = testing::internal::GetCapturedStderr();
    return h;
}

const char sample_warning[] = "clipspout [warn]: audio sample number over 32bit limit.\n";
const char size_warning[] = "clipspout [warn]: audio size over 32bit limit (4GB), clients may truncate audio.\n";

}  // namespace

TEST(WaveHeader, EveryFieldForEachSampleFormat)
{
    struct {
        uint16_t format, channels;
        uint32_t rate, bytes;
        int64_t count;
    } cases[] = {
        {1, 2, 48000, 2, 120000}, {1, 6, 48000, 3, 96000}, {1, 2, 44100, 4, 44100},
        {3, 2, 96000, 4, 1000},   {1, 1, 8000, 1, 8001},
    };
    for (const auto& c : cases) {
        std::string warnings;
        wave_header h = build(&warnings, c.format, c.channels, c.rate, c.bytes, c.count);
        SCOPED_TRACE(testing::Message() << "format " << c.format << ", " << c.channels << " x " << c.bytes);
        EXPECT_EQ(warnings, "");
        uint32_t data = static_cast<uint32_t>(c.count) * c.channels * c.bytes;
        EXPECT_EQ(text(h, 0), "RIFF");
        EXPECT_EQ(u32(h, 4), data + 72);
        EXPECT_EQ(text(h, 8), "WAVE");
        EXPECT_EQ(text(h, 12), "fmt ");
        EXPECT_EQ(u32(h, 16), 40u);
        EXPECT_EQ(u16(h, 20), 0xFFFE);
        EXPECT_EQ(u16(h, 22), c.channels);
        EXPECT_EQ(u32(h, 24), c.rate);
        EXPECT_EQ(u32(h, 28), c.rate * c.channels * c.bytes);
        EXPECT_EQ(u16(h, 32), c.channels * c.bytes);
        EXPECT_EQ(u16(h, 34), c.bytes * 8);
        EXPECT_EQ(u16(h, 36), 22);
        EXPECT_EQ(u16(h, 38), c.bytes * 8);
        EXPECT_EQ(u32(h, 40), 0u);
        const unsigned char guid[16] = {static_cast<unsigned char>(c.format), 0, 0, 0, 0, 0, 0x10, 0,
                                        0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
        EXPECT_EQ(memcmp(h.data() + 44, guid, 16), 0);
        EXPECT_EQ(text(h, 60), "fact");
        EXPECT_EQ(u32(h, 64), 4u);
        EXPECT_EQ(u32(h, 68), static_cast<uint32_t>(c.count));
        EXPECT_EQ(text(h, 72), "data");
        EXPECT_EQ(u32(h, 76), data);
    }
}

TEST(WaveHeader, DataSizeBoundary)
{
    std::string warnings;
    // 0xFFFFFFB7 data bytes still fit: the RIFF size is exactly 0xFFFFFFFF.
    wave_header h = build(&warnings, 1, 1, 8000, 1, 0xFFFFFFB7);
    EXPECT_EQ(warnings, "");
    EXPECT_EQ(u32(h, 4), 0xFFFFFFFFu);
    EXPECT_EQ(u32(h, 76), 0xFFFFFFB7u);

    h = build(&warnings, 1, 1, 8000, 1, 0xFFFFFFB8);
    EXPECT_EQ(warnings, size_warning);
    EXPECT_EQ(u32(h, 4), 0xFFFFFFFFu);
    EXPECT_EQ(u32(h, 76), 0xFFFFFFFFu);
    EXPECT_EQ(u32(h, 68), 0xFFFFFFB8u);  // the fact count stays exact

    h = build(&warnings, 1, 2, 48000, 2, 0x3FFFFFED);  // 0xFFFFFFB4 bytes
    EXPECT_EQ(warnings, "");
    EXPECT_EQ(u32(h, 76), 0xFFFFFFB4u);
    h = build(&warnings, 1, 2, 48000, 2, 0x3FFFFFEE);  // 0xFFFFFFB8 bytes
    EXPECT_EQ(warnings, size_warning);
}

TEST(WaveHeader, SampleCountBeyondThirtyTwoBits)
{
    std::string warnings;
    wave_header h = build(&warnings, 3, 8, 192000, 4, int64_t{1} << 32);
    EXPECT_EQ(warnings, std::string(sample_warning) + size_warning);
    EXPECT_EQ(u32(h, 68), 0xFFFFFFFFu);
    EXPECT_EQ(u32(h, 4), 0xFFFFFFFFu);
    EXPECT_EQ(u32(h, 76), 0xFFFFFFFFu);

    // Large enough that the byte count itself would wrap 64 bits.
    h = build(&warnings, 1, 65535, 48000, 4, INT64_MAX);
    EXPECT_EQ(warnings, std::string(sample_warning) + size_warning);
    EXPECT_EQ(u32(h, 76), 0xFFFFFFFFu);
}
