#include <gtest/gtest.h>

#include "writers/ebml.h"
#include "writers/stream_time.h"

namespace {

std::string hex(const ebml_bytes& bytes)
{
    std::string text;
    char byte[4];
    for (unsigned char b : bytes) {
        snprintf(byte, sizeof byte, "%02x", b);
        text += byte;
    }
    return text;
}

std::string size_bytes(uint64_t size)
{
    ebml_bytes out;
    put_ebml_size(out, size);
    return hex(out);
}

}  // namespace

TEST(Ebml, SizesTakeTheFewestBytesButNeverAllOnes)
{
    EXPECT_EQ(size_bytes(0), "80");
    EXPECT_EQ(size_bytes(126), "fe");
    // 127 in one byte would be 0xFF, which means "unknown".
    EXPECT_EQ(size_bytes(127), "407f");
    EXPECT_EQ(size_bytes(16382), "7ffe");
    EXPECT_EQ(size_bytes(16383), "203fff");
    EXPECT_EQ(size_bytes(uint64_t{1} << 55), "0180000000000000");
    ebml_bytes unknown;
    put_ebml_unknown_size(unknown);
    EXPECT_EQ(hex(unknown), "01ffffffffffffff");
    // What a head costs is what writing it takes.
    for (uint64_t size : {0ull, 126ull, 127ull, 16383ull, 1ull << 30}) {
        ebml_bytes head;
        put_ebml_head(head, 0x1F43B675, size);
        EXPECT_EQ(ebml_head_size(0x1F43B675, size), head.size()) << size;
    }
}

TEST(Ebml, ElementsAsMatroskaReadersExpectThem)
{
    ebml_bytes out;
    put_ebml_uint(out, 0xD7, 0);         // at least one byte
    put_ebml_uint(out, 0x2AD7B1, 1000000);  // three-byte id, three-byte value
    put_ebml_uint(out, 0x73C5, 0x0100000000ull);
    EXPECT_EQ(hex(out), "d78100" "2ad7b1830f4240" "73c5850100000000");

    out.clear();
    put_ebml_float(out, 0xB5, 48000.0);
    EXPECT_EQ(hex(out), "b58840e7700000000000");
    out.clear();
    put_ebml_string(out, 0x86, "V_UNCOMPRESSED");
    EXPECT_EQ(hex(out), "868e565f554e434f4d50524553534544");

    ebml_bytes body, master;
    put_ebml_uint(body, 0x9A, 2);
    put_ebml_master(master, 0xE0, body);
    EXPECT_EQ(hex(master), "e0839a8102");
}

TEST(StreamTime, RoundedOnceWithoutDrift)
{
    exact_time t;
    int64_t ms = -1;
    // An hour of 24000/1001, added frame by frame, lands where it should.
    for (int n = 0; n < 86314; ++n)
        ASSERT_TRUE(add_time(t, 1001, 24000));
    EXPECT_EQ(t.num * 24000, t.den * 86314 * 1001);
    ASSERT_TRUE(time_in_units(t, 1000, &ms));
    EXPECT_EQ(ms, 3600013);  // 3600013.083 ms

    // Halves round up; rounding up is to the next whole unit.
    exact_time half;
    half.num = 1;
    half.den = 2000;
    ASSERT_TRUE(time_in_units(half, 1000, &ms));
    EXPECT_EQ(ms, 1);
    exact_time frame;
    frame.num = 1001;
    frame.den = 30000;
    ASSERT_TRUE(time_in_units(frame, 1000, &ms));
    EXPECT_EQ(ms, 33);
    ASSERT_TRUE(time_in_units_rounded_up(frame, 44100, &ms));
    EXPECT_EQ(ms, 1472);  // 1471.47 samples
    ASSERT_TRUE(time_in_units_rounded_up(half, 2000, &ms));
    EXPECT_EQ(ms, 1);  // exactly one unit stays one

    // A sum that cannot be held exactly is refused, not wrapped.
    exact_time fine;
    EXPECT_TRUE(add_time(fine, 1, 1000000007));
    EXPECT_FALSE(add_time(fine, 1, 1000000009));
    EXPECT_EQ(fine.den, 1000000007);
    exact_time huge;
    huge.num = INT64_MAX / 3;
    EXPECT_FALSE(time_in_units(huge, 1000, &ms));
}
