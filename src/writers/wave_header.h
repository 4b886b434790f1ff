#pragma once

#include <cstdint>

// RIFF/WAVE header with a WAVE_FORMAT_EXTENSIBLE "fmt " chunk, a "fact"
// chunk and the "data" chunk header, serialised little-endian.
struct wave_header {
    unsigned char bytes[80];
};

constexpr uint16_t WAVE_FORMAT_PCM = 1;
constexpr uint16_t WAVE_FORMAT_IEEE_FLOAT = 3;

// Sizes too large for the 32-bit fields become 0xFFFFFFFF, with a warning.
// channel_mask gives the speaker positions (0: none given).
wave_header build_wave_header(uint16_t format_code, uint16_t channels, uint32_t sample_rate, uint32_t sample_bytes,
                              int64_t sample_count, uint32_t channel_mask = 0);

// Whether the sizes of such a stream fit the header's 32-bit fields.
bool wave_sizes_fit(uint16_t channels, uint32_t sample_bytes, int64_t sample_count);

// The WAVE_FORMAT_EXTENSIBLE "fmt " chunk, header included: 48 bytes that
// the RIFF and the RF64 headers share.
constexpr int FMT_CHUNK_BYTES = 48;
void put_fmt_chunk(unsigned char* at, uint16_t format_code, uint16_t channels, uint32_t sample_rate,
                   uint32_t sample_bytes, uint32_t channel_mask);

void put_u16(unsigned char* at, uint32_t v);
void put_u32(unsigned char* at, uint32_t v);
