#include "writers/ebml.h"

#include <cstring>

namespace {

int id_length(uint32_t id)
{
    return id > 0xFFFFFF ? 4 : id > 0xFFFF ? 3 : id > 0xFF ? 2 : 1;
}

// n bytes carry 7n bits of size; all of them ones is reserved.
int size_length(uint64_t size)
{
    int length = 1;
    while (length < 8 && size >= (uint64_t{1} << (7 * length)) - 1)
        ++length;
    return length;
}

void put_big_endian(ebml_bytes& out, uint64_t value, int bytes)
{
    for (int i = bytes - 1; i >= 0; --i)
        out.push_back(static_cast<unsigned char>(value >> (8 * i)));
}

int uint_length(uint64_t value)
{
    int length = 1;
    while (length < 8 && value >> (8 * length))
        ++length;
    return length;
}

}  // namespace

void put_ebml_id(ebml_bytes& out, uint32_t id)
{
    put_big_endian(out, id, id_length(id));
}

void put_ebml_size(ebml_bytes& out, uint64_t size)
{
    const int length = size_length(size);
    // The length marker: a 1 bit after length - 1 zero bits.
    put_big_endian(out, size | uint64_t{1} << (7 * length), length);
}

void put_ebml_unknown_size(ebml_bytes& out)
{
    put_big_endian(out, 0x01FFFFFFFFFFFFFFu, 8);
}

void put_ebml_head(ebml_bytes& out, uint32_t id, uint64_t size)
{
    put_ebml_id(out, id);
    put_ebml_size(out, size);
}

size_t ebml_head_size(uint32_t id, uint64_t size)
{
    return static_cast<size_t>(id_length(id) + size_length(size));
}

void put_ebml_uint(ebml_bytes& out, uint32_t id, uint64_t value)
{
    const int length = uint_length(value);
    put_ebml_head(out, id, static_cast<uint64_t>(length));
    put_big_endian(out, value, length);
}

void put_ebml_float(ebml_bytes& out, uint32_t id, double value)
{
    uint64_t bits = 0;
    static_assert(sizeof bits == sizeof value, "a double is 8 bytes");
    memcpy(&bits, &value, sizeof bits);
    put_ebml_head(out, id, 8);
    put_big_endian(out, bits, 8);
}

void put_ebml_string(ebml_bytes& out, uint32_t id, const std::string& text)
{
    put_ebml_binary(out, id, text.data(), text.size());
}

void put_ebml_binary(ebml_bytes& out, uint32_t id, const void* data, size_t size)
{
    put_ebml_head(out, id, size);
    const unsigned char* bytes = static_cast<const unsigned char*>(data);
    out.insert(out.end(), bytes, bytes + size);
}

void put_ebml_master(ebml_bytes& out, uint32_t id, const ebml_bytes& body)
{
    put_ebml_head(out, id, body.size());
    out.insert(out.end(), body.begin(), body.end());
}
