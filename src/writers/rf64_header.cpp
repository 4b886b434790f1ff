// "RF64" <size 0xFFFFFFFF> "WAVE"
// "ds64" 28: RIFF size, data size, sample count (64 bits each), table length 0
// "fmt " 40: WAVE_FORMAT_EXTENSIBLE, as in the RIFF header
// "data" <size 0xFFFFFFFF>, then the samples.
//
// The RIFF header's "fact" chunk is left out: PCM and float need none, the
// ds64 chunk's sample count is the one RF64 defines for it, and readers
// warn of a chunk they skip (flac does).

#include "writers/rf64_header.h"

#include <cstring>

#include "writers/wave_header.h"

static void put_u64(unsigned char* at, uint64_t v)
{
    put_u32(at, static_cast<uint32_t>(v));
    put_u32(at + 4, static_cast<uint32_t>(v >> 32));
}

rf64_header build_rf64_header(uint16_t format_code, uint16_t channels, uint32_t sample_rate, uint32_t sample_bytes,
                              int64_t sample_count, uint32_t channel_mask)
{
    const uint64_t count = sample_count > 0 ? static_cast<uint64_t>(sample_count) : 0;
    const uint64_t data_size = static_cast<uint64_t>(sample_bytes) * channels * count;

    rf64_header h;
    unsigned char* b = h.bytes;
    memcpy(b + 0, "RF64", 4);
    put_u32(b + 4, UINT32_MAX);
    memcpy(b + 8, "WAVE", 4);
    memcpy(b + 12, "ds64", 4);
    put_u32(b + 16, 28);
    put_u64(b + 20, data_size + sizeof h.bytes - 8);  // everything after the RIFF size field
    put_u64(b + 28, data_size);
    put_u64(b + 36, count);
    put_u32(b + 44, 0);  // no table of other chunk sizes
    put_fmt_chunk(b + 48, format_code, channels, sample_rate, sample_bytes, channel_mask);
    memcpy(b + 96, "data", 4);
    put_u32(b + 100, UINT32_MAX);
    return h;
}
