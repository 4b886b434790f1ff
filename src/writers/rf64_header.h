#pragma once

#include <cstdint>

// RF64 (EBU Tech 3306): the WAVE header for streams past 4 GiB. The 32-bit
// RIFF and data sizes say 0xFFFFFFFF and a "ds64" chunk carries the real
// ones in 64 bits, so a reader of a pipe knows the whole length up front.
// Same "fmt " chunk as the RIFF header; no "fact" chunk, since ds64 holds
// the sample count (see the .cpp).
struct rf64_header {
    unsigned char bytes[104];
};

rf64_header build_rf64_header(uint16_t format_code, uint16_t channels, uint32_t sample_rate, uint32_t sample_bytes,
                              int64_t sample_count, uint32_t channel_mask);
