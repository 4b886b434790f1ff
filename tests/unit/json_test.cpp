// Numbers and strings as the JSON reports write them.

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

#include "common/json.h"

TEST(Json, NumbersAreTheShortestTextThatReadsBackExactly)
{
    const struct {
        double value;
        const char* text;
    } numbers[] = {
        {0.01, "0.01"},
        {1099511627776.0, "1099511627776"},          // 2^40, a light level no field holds
        {0.1 + 0.2, "0.30000000000000004"},          // needs all 17 digits
        {1e300, "1e+300"},
        {-0.0, "-0"},
        {std::nan(""), "null"},                      // JSON has no word for them
        {std::numeric_limits<double>::infinity(), "null"},
    };
    for (const auto& n : numbers)
        EXPECT_EQ(json_number(n.value), n.text) << n.value;
}

TEST(Json, StringsEscapeWhatJsonCannotHoldAndKeepUtf8)
{
    const std::string bytes("a\"b\\\n\t\x01\0\x7f\xff\xc3\xa9", 12);
    EXPECT_EQ(json_string(bytes), "\"a\\\"b\\\\\\n\\t\\u0001\\u0000\\u007f\\u00ff\xc3\xa9\"");
}

TEST(Json, BytesThatAreNotTextGoAsBase64)
{
    // RFC 4648's own vectors.
    const struct {
        const char* bytes;
        const char* base64;
    } cases[] = {{"", "\"\""},         {"f", "\"Zg==\""},         {"fo", "\"Zm8=\""},         {"foo", "\"Zm9v\""},
                 {"foob", "\"Zm9vYg==\""}, {"fooba", "\"Zm9vYmE=\""}, {"foobar", "\"Zm9vYmFy\""}};
    for (const auto& c : cases)
        EXPECT_EQ(json_base64(c.bytes, strlen(c.bytes)), c.base64) << c.bytes;
    EXPECT_TRUE(is_utf8("x\xc3\xbf", 3));
    EXPECT_FALSE(is_utf8("x\xff", 2));
    EXPECT_FALSE(is_utf8("\xc3", 1));  // cut short
    EXPECT_TRUE(is_utf8("a\0b", 3));
}
