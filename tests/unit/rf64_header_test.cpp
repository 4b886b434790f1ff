#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "frameserver/channel_mask.h"
#include "writers/wave_header.h"
#include "wave_shape_of.h"

namespace {

uint64_t le(const unsigned char* b, int bytes)
{
    uint64_t v = 0;
    for (int i = bytes - 1; i >= 0; --i)
        v = v << 8 | b[i];
    return v;
}

std::string text(const unsigned char* b)
{
    return std::string(reinterpret_cast<const char*>(b), 4);
}

}  // namespace

TEST(Rf64Header, EveryFieldForAFilmLengthTrack)
{
    // 90 minutes of 5.1 at 24 bits: 4,665,600,000 bytes of samples.
    const int64_t count = 5400LL * 48000;
    const std::string h = build_rf64_header(shape_of(1, 6, 48000, 3, count, 0x3F));
    const unsigned char* b = reinterpret_cast<const unsigned char*>(h.data());
    EXPECT_EQ(h.size(), 104u);
    EXPECT_EQ(text(b), "RF64");
    EXPECT_EQ(le(b + 4, 4), 0xFFFFFFFFu);
    EXPECT_EQ(text(b + 8), "WAVE");
    EXPECT_EQ(text(b + 12), "ds64");
    EXPECT_EQ(le(b + 16, 4), 28u);
    EXPECT_EQ(le(b + 20, 8), 4665600000ull + 96);  // the file less the first 8 bytes
    EXPECT_EQ(le(b + 28, 8), 4665600000ull);
    EXPECT_EQ(le(b + 36, 8), static_cast<uint64_t>(count));
    EXPECT_EQ(le(b + 44, 4), 0u);
    // The same "fmt " chunk as the plain header's, mask included.
    const std::string plain = build_wave_header(shape_of(1, 6, 48000, 3, 1000, 0x3F));
    EXPECT_EQ(memcmp(b + 48, plain.data() + 12, FMT_CHUNK_BYTES), 0);
    EXPECT_EQ(text(b + 48), "fmt ");
    EXPECT_EQ(le(b + 48 + 28, 4), 0x3Fu);
    EXPECT_EQ(text(b + 96), "data");
    EXPECT_EQ(le(b + 100, 4), 0xFFFFFFFFu);
}

TEST(Rf64Header, FloatAndEmptyTracks)
{
    const std::string h = build_rf64_header(shape_of(3, 2, 44100, 4, 0, 0x3));
    const unsigned char* b = reinterpret_cast<const unsigned char*>(h.data());
    EXPECT_EQ(le(b + 20, 8), 96u);
    EXPECT_EQ(le(b + 28, 8), 0u);
    EXPECT_EQ(le(b + 36, 8), 0u);
    EXPECT_EQ(le(b + 48 + 32, 4), 3u);  // the float sub-format
    EXPECT_EQ(le(b + 48 + 20, 2), 8u);  // block align
}

TEST(WaveHeader, SizesFitExactlyWhereNoWarningFires)
{
    // 0xFFFFFFB7 bytes is the largest data the 32-bit RIFF size holds.
    EXPECT_TRUE(wave_sizes_fit(shape_of(1, 1, 48000, 1, 0xFFFFFFB7, 0)));
    EXPECT_FALSE(wave_sizes_fit(shape_of(1, 1, 48000, 1, 0xFFFFFFB8, 0)));
    EXPECT_TRUE(wave_sizes_fit(shape_of(1, 6, 48000, 3, 238609290, 0)));  // 4,294,967,220 bytes
    EXPECT_FALSE(wave_sizes_fit(shape_of(1, 6, 48000, 3, 238609291, 0)));
    EXPECT_FALSE(wave_sizes_fit(shape_of(1, 0, 48000, 0, 0x100000000, 0)));  // the sample count alone
    EXPECT_TRUE(wave_sizes_fit(shape_of(1, 2, 48000, 2, 0, 0)));
}

TEST(ChannelMask, UsualLayoutForEachCount)
{
    const uint32_t expected[] = {0, 0x4, 0x3, 0x7, 0x33, 0x37, 0x3F, 0x70F, 0x63F, 0, 0};
    for (int channels = 0; channels <= 10; ++channels) {
        EXPECT_EQ(usual_channel_mask(channels), expected[channels]) << channels;
        if (expected[channels]) {
            EXPECT_EQ(channels_in_mask(expected[channels]), channels);
        }
    }
    EXPECT_EQ(channels_in_mask(0x80000000u), 1);
    EXPECT_EQ(channels_in_mask(0), 0);
}
