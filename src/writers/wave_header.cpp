#include "writers/wave_header.h"

#include "common/diag.h"

namespace {

void put_le(std::string& out, uint64_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out += static_cast<char>(value >> (8 * i));
}

// A chunk: its id, its body's size and its body.
void put_chunk(std::string& out, const char* id, const std::string& body)
{
    out.append(id, 4);
    put_le(out, body.size(), 4);
    out += body;
}

uint64_t frame_bytes(const wave_shape& s)
{
    return static_cast<uint64_t>(s.sample_bytes) * s.channels;
}

uint64_t count_of(const wave_shape& s)
{
    return s.sample_count > 0 ? static_cast<uint64_t>(s.sample_count) : 0;
}

}  // namespace

bool wave_sizes_fit(const wave_shape& shape)
{
    // The RIFF size is the data size plus the 72 header bytes after it, so
    // the data must stay below 2^32 - 72 = 0xFFFFFFB8.
    const uint64_t count = count_of(shape), bytes = frame_bytes(shape);
    return count <= UINT32_MAX && (bytes == 0 || count <= (0xFFFFFFB7u / bytes));
}

std::string fmt_chunk(const wave_shape& s)
{
    std::string body;
    put_le(body, 0xFFFE, 2);  // WAVE_FORMAT_EXTENSIBLE
    put_le(body, s.channels, 2);
    put_le(body, s.sample_rate, 4);
    put_le(body, static_cast<uint32_t>(frame_bytes(s) * s.sample_rate), 4);
    put_le(body, static_cast<uint32_t>(frame_bytes(s)), 2);
    put_le(body, s.sample_bytes * 8, 2);
    put_le(body, 22, 2);  // the extension's size
    put_le(body, s.sample_bytes * 8, 2);
    put_le(body, s.channel_mask, 4);
    // Sub-format GUID {0000000X-0000-0010-8000-00AA00389B71}.
    put_le(body, s.format_code, 4);
    put_le(body, 0x0000, 2);
    put_le(body, 0x0010, 2);
    body.append("\x80\x00\x00\xAA\x00\x38\x9B\x71", 8);
    std::string chunk;
    put_chunk(chunk, "fmt ", body);
    return chunk;
}

std::string build_wave_header(const wave_shape& shape)
{
    const uint64_t count = count_of(shape);
    uint32_t fact_count = static_cast<uint32_t>(count);
    if (count > UINT32_MAX) {
        diag_print(DIAG_WARN, "audio sample number over 32bit limit.\n");
        fact_count = UINT32_MAX;
    }
    const uint64_t bytes = frame_bytes(shape);
    uint32_t data_size = UINT32_MAX, riff_size = UINT32_MAX;
    if (bytes == 0 || count <= (0xFFFFFFB7u / bytes)) {
        data_size = static_cast<uint32_t>(bytes * fact_count);
        riff_size = data_size + 72;
    } else {
        diag_print(DIAG_WARN, "audio size over 32bit limit (4GB), clients may truncate audio.\n");
    }
    std::string fact;
    put_le(fact, fact_count, 4);

    std::string header = "RIFF";
    put_le(header, riff_size, 4);
    header += "WAVE" + fmt_chunk(shape);
    put_chunk(header, "fact", fact);
    header += "data";
    put_le(header, data_size, 4);
    return header;
}

std::string build_rf64_header(const wave_shape& shape)
{
    constexpr uint64_t HEADER_BYTES = 104;
    const uint64_t count = count_of(shape);
    const uint64_t data_size = frame_bytes(shape) * count;
    std::string ds64;
    put_le(ds64, data_size + HEADER_BYTES - 8, 8);  // everything after the RIFF size field
    put_le(ds64, data_size, 8);
    put_le(ds64, count, 8);
    put_le(ds64, 0, 4);  // no table of other chunk sizes

    std::string header = "RF64";
    put_le(header, UINT32_MAX, 4);
    header += "WAVE";
    put_chunk(header, "ds64", ds64);
    header += fmt_chunk(shape) + "data";
    put_le(header, UINT32_MAX, 4);
    return header;
}
