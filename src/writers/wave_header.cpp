#include "writers/wave_header.h"

#include <cstring>

#include "common/diag.h"

void put_u16(unsigned char* at, uint32_t v)
{
    at[0] = static_cast<unsigned char>(v);
    at[1] = static_cast<unsigned char>(v >> 8);
}

void put_u32(unsigned char* at, uint32_t v)
{
    put_u16(at, v);
    put_u16(at + 2, v >> 16);
}

bool wave_sizes_fit(uint16_t channels, uint32_t sample_bytes, int64_t sample_count)
{
    // The RIFF size is the data size plus the 72 header bytes after it, so
    // the data must stay below 2^32 - 72 = 0xFFFFFFB8.
    const uint64_t count = sample_count > 0 ? static_cast<uint64_t>(sample_count) : 0;
    const uint64_t frame_bytes = static_cast<uint64_t>(sample_bytes) * channels;
    return count <= UINT32_MAX && (frame_bytes == 0 || count <= (0xFFFFFFB7u / frame_bytes));
}

void put_fmt_chunk(unsigned char* b, uint16_t format_code, uint16_t channels, uint32_t sample_rate,
                   uint32_t sample_bytes, uint32_t channel_mask)
{
    const uint64_t frame_bytes = static_cast<uint64_t>(sample_bytes) * channels;
    memcpy(b + 0, "fmt ", 4);
    put_u32(b + 4, 40);
    put_u16(b + 8, 0xFFFE);  // WAVE_FORMAT_EXTENSIBLE
    put_u16(b + 10, channels);
    put_u32(b + 12, sample_rate);
    put_u32(b + 16, static_cast<uint32_t>(frame_bytes * sample_rate));
    put_u16(b + 20, static_cast<uint32_t>(frame_bytes));
    put_u16(b + 22, sample_bytes * 8);
    put_u16(b + 24, 22);
    put_u16(b + 26, sample_bytes * 8);
    put_u32(b + 28, channel_mask);
    // Sub-format GUID {0000000X-0000-0010-8000-00AA00389B71}.
    put_u32(b + 32, format_code);
    put_u16(b + 36, 0x0000);
    put_u16(b + 38, 0x0010);
    static const unsigned char guid_tail[8] = {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
    memcpy(b + 40, guid_tail, 8);
}

wave_header build_wave_header(uint16_t format_code, uint16_t channels, uint32_t sample_rate, uint32_t sample_bytes,
                              int64_t sample_count, uint32_t channel_mask)
{
    const uint64_t count = sample_count > 0 ? static_cast<uint64_t>(sample_count) : 0;
    uint32_t fact_count = static_cast<uint32_t>(count);
    if (count > UINT32_MAX) {
        diag_print(DIAG_WARN, "audio sample number over 32bit limit.\n");
        fact_count = UINT32_MAX;
    }

    const uint64_t frame_bytes = static_cast<uint64_t>(sample_bytes) * channels;
    const bool fits = frame_bytes == 0 || count <= (0xFFFFFFB7u / frame_bytes);
    uint32_t data_size = UINT32_MAX, riff_size = UINT32_MAX;
    if (fits) {
        data_size = static_cast<uint32_t>(frame_bytes * fact_count);
        riff_size = data_size + 72;
    } else {
        diag_print(DIAG_WARN, "audio size over 32bit limit (4GB), clients may truncate audio.\n");
    }

    wave_header h;
    unsigned char* b = h.bytes;
    memcpy(b + 0, "RIFF", 4);
    put_u32(b + 4, riff_size);
    memcpy(b + 8, "WAVE", 4);
    put_fmt_chunk(b + 12, format_code, channels, sample_rate, sample_bytes, channel_mask);
    memcpy(b + 60, "fact", 4);
    put_u32(b + 64, 4);
    put_u32(b + 68, fact_count);
    memcpy(b + 72, "data", 4);
    put_u32(b + 76, data_size);
    return h;
}
