// Numbers and strings as the JSON reports write them.

#include <gtest/gtest.h>

#include <cmath>
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
