// The WAV headers: RIFF with a WAVE_FORMAT_EXTENSIBLE "fmt " chunk, a
// "fact" chunk and the "data" chunk's head; and RF64 (EBU Tech 3306) for
// streams past 4 GiB, whose 32-bit sizes say 0xFFFFFFFF while a "ds64"
// chunk carries the real ones in 64 bits, so that a reader of a pipe knows
// the whole length up front. Both are built chunk by chunk, little-endian.
#pragma once

#include <cstdint>
#include <string>

constexpr uint16_t WAVE_FORMAT_PCM = 1;
constexpr uint16_t WAVE_FORMAT_IEEE_FLOAT = 3;

struct wave_shape {
    uint16_t format_code = WAVE_FORMAT_PCM;
    uint16_t channels = 0;
    uint32_t sample_rate = 0;
    uint32_t sample_bytes = 0;  // of one channel
    int64_t sample_count = 0;   // sample frames
    uint32_t channel_mask = 0;  // speaker positions; 0: none given
};

// 80 bytes. Sizes too large for the 32-bit fields become 0xFFFFFFFF, with
// a warning.
std::string build_wave_header(const wave_shape& shape);

// 104 bytes: "RF64", "ds64" (RIFF size, data size, sample count, an empty
// table), the same "fmt " chunk, "data". No "fact" chunk: PCM and float
// need none, ds64 holds the sample count, and readers warn of a chunk they
// skip (flac does).
std::string build_rf64_header(const wave_shape& shape);

// Whether the sizes of such a stream fit the RIFF header's 32-bit fields.
bool wave_sizes_fit(const wave_shape& shape);

// The "fmt " chunk, head included: 48 bytes that both headers share.
constexpr int FMT_CHUNK_BYTES = 48;
std::string fmt_chunk(const wave_shape& shape);
