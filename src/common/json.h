// JSON text (RFC 8259), for reports a program reads.
#pragma once

#include <cstddef>
#include <string>

// Any bytes as a JSON string: quotes, backslashes and control characters
// escaped, UTF-8 kept, and each byte that is not part of well-formed UTF-8
// as \u00XX (the text stays valid JSON, though such a byte then reads as
// the code point of the same number).
void append_json_string(std::string& out, const char* bytes, size_t size);
std::string json_string(const std::string& text);

// Whether the bytes are well-formed UTF-8 throughout.
bool is_utf8(const char* bytes, size_t size);

// The bytes in base64 (RFC 4648, with padding), as a JSON string: for
// bytes that are not text, which a JSON string would mistake for it.
std::string json_base64(const char* bytes, size_t size);

// The shortest text that reads back as the same double (2^40 as
// 1099511627776, 0.01 as 0.01), in C's %g forms ("inf", "nan" as they are).
std::string shortest_number_text(double value);

// A number as JSON has it: the shortest text that gives the same double
// back, and NaN or an infinity, which JSON has no word for, as null.
std::string json_number(double value);
std::string json_integer(long long value);

// A number to a fixed count of decimals, trailing zeros dropped (12.5 for
// 12.500000); null for NaN or an infinity.
std::string json_decimal(double value, int decimals);
