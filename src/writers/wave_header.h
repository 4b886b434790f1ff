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
wave_header build_wave_header(uint16_t format_code, uint16_t channels, uint32_t sample_rate, uint32_t sample_bytes,
                              int64_t sample_count);
