// EBML (RFC 8794), the binary format Matroska is built on: element ids,
// sizes and numbers, appended to a byte buffer. A master element is written
// once its body is complete, so every size is known when it is written and
// nothing needs a seek back.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

using ebml_bytes = std::vector<unsigned char>;

// An id as written: an id carries its own length marker (0x1A45DFA3 is four
// bytes, 0xA3 one).
void put_ebml_id(ebml_bytes& out, uint32_t id);

// A size as a variable-length integer in the fewest bytes (at most 8; a
// size whose bits would all be ones takes a byte more, since all ones means
// "unknown").
void put_ebml_size(ebml_bytes& out, uint64_t size);

// The size that means "unknown": an element that runs to the end of the
// stream.
void put_ebml_unknown_size(ebml_bytes& out);

// An element's id and size, its body of size bytes to follow.
void put_ebml_head(ebml_bytes& out, uint32_t id, uint64_t size);

// Whole elements: an unsigned integer in the fewest bytes (at least one),
// a float as 8 bytes, text without a terminator, bytes, a master element.
void put_ebml_uint(ebml_bytes& out, uint32_t id, uint64_t value);
void put_ebml_float(ebml_bytes& out, uint32_t id, double value);
void put_ebml_string(ebml_bytes& out, uint32_t id, const std::string& text);
void put_ebml_binary(ebml_bytes& out, uint32_t id, const void* data, size_t size);
void put_ebml_master(ebml_bytes& out, uint32_t id, const ebml_bytes& body);

// Bytes an element's id and size take.
size_t ebml_head_size(uint32_t id, uint64_t size);
