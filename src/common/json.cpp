#include "common/json.h"

#include <cmath>
#include <cstdio>
#include <cstdint>
#include <cstdlib>

#include "common/numbers.h"

namespace {

// The length of the well-formed UTF-8 sequence at bytes, or 0.
size_t utf8_sequence(const unsigned char* bytes, size_t size)
{
    const unsigned char first = bytes[0];
    size_t length = 0;
    unsigned code = 0;
    if (first < 0x80)
        return 1;
    if (first >= 0xC2 && first <= 0xDF) {
        length = 2;
        code = first & 0x1F;
    } else if (first >= 0xE0 && first <= 0xEF) {
        length = 3;
        code = first & 0x0F;
    } else if (first >= 0xF0 && first <= 0xF4) {
        length = 4;
        code = first & 0x07;
    } else {
        return 0;
    }
    if (size < length)
        return 0;
    for (size_t i = 1; i < length; ++i) {
        if ((bytes[i] & 0xC0) != 0x80)
            return 0;
        code = code << 6 | (bytes[i] & 0x3F);
    }
    // Overlong forms, UTF-16 surrogates and code points past U+10FFFF.
    if ((length == 3 && code < 0x800) || (length == 4 && (code < 0x10000 || code > 0x10FFFF)) ||
        (code >= 0xD800 && code <= 0xDFFF))
        return 0;
    return length;
}

}  // namespace

void append_json_string(std::string& out, const char* text, size_t size)
{
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(text);
    out += '"';
    for (size_t i = 0; i < size;) {
        const unsigned char c = bytes[i];
        const size_t length = utf8_sequence(bytes + i, size - i);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c < 0x20 || c == 0x7F || length == 0) {
            char escaped[8];
            snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        } else {
            out.append(text + i, length);
            i += length;
            continue;
        }
        ++i;
    }
    out += '"';
}

bool is_utf8(const char* text, size_t size)
{
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(text);
    for (size_t i = 0; i < size;) {
        const size_t length = utf8_sequence(bytes + i, size - i);
        if (length == 0)
            return false;
        i += length;
    }
    return true;
}

std::string json_base64(const char* text, size_t size)
{
    static const char digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(text);
    std::string out = "\"";
    for (size_t i = 0; i < size; i += 3) {
        const uint32_t group = static_cast<uint32_t>(bytes[i]) << 16 |
                               (i + 1 < size ? static_cast<uint32_t>(bytes[i + 1]) << 8 : 0) |
                               (i + 2 < size ? bytes[i + 2] : 0);
        out += digits[group >> 18 & 63];
        out += digits[group >> 12 & 63];
        out += i + 1 < size ? digits[group >> 6 & 63] : '=';
        out += i + 2 < size ? digits[group & 63] : '=';
    }
    return out + "\"";
}

std::string json_string(const std::string& text)
{
    std::string out;
    append_json_string(out, text.data(), text.size());
    return out;
}

std::string shortest_number_text(double value)
{
    char text[40];
    for (int digits = 15; digits <= 17; ++digits) {
        snprintf(text, sizeof text, "%.*g", digits, value);
        if (strtod(text, nullptr) == value)
            break;
    }
    return text;
}

std::string json_number(double value)
{
    return std::isfinite(value) ? shortest_number_text(value) : "null";
}

std::string json_integer(long long value)
{
    return std::to_string(value);
}

std::string json_decimal(double value, int decimals)
{
    if (!std::isfinite(value))
        return "null";
    return decimal_text(value, decimals);
}
