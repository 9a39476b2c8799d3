#include <gtest/gtest.h>

#include "net/ByteReader.h"
#include "net/ByteWriter.h"

TEST(ByteWriter, WritesLittleEndianAndRoundTrips) {
    unsigned char buffer[32];
    ByteWriter writer(buffer, sizeof(buffer));
    writer.u8(0xAB);
    writer.i16(-2);
    writer.u32(0x5A17C3E9);
    writer.f32(300.0f);
    writer.field("abc", 5);
    ASSERT_TRUE(writer.ok());
    ASSERT_EQ(writer.size(), 16u);
    const unsigned char expected[] = {0xAB, 0xFE, 0xFF, 0xE9, 0xC3, 0x17, 0x5A, 0x00,
                                      0x00, 0x96, 0x43, 'a',  'b',  'c',  0,    0};
    EXPECT_EQ(0, std::memcmp(buffer, expected, sizeof(expected)));

    ByteReader reader(buffer, writer.size());
    EXPECT_EQ(reader.u8(), 0xAB);
    EXPECT_EQ(reader.i16(), -2);
    EXPECT_EQ(reader.u32(), 0x5A17C3E9u);
    EXPECT_EQ(reader.f32(), 300.0f);
    EXPECT_EQ(reader.remaining(), 5u);
    EXPECT_TRUE(reader.ok());
}

TEST(ByteReader, ShortReadIsStickyAndReadsNothing) {
    const unsigned char data[] = {1, 2, 3};
    ByteReader reader(data, sizeof(data));
    EXPECT_EQ(reader.u16(), 0x0201);
    EXPECT_EQ(reader.u32(), 0u);  // only one byte left
    EXPECT_FALSE(reader.ok());
    EXPECT_EQ(reader.u8(), 0);  // the error sticks even though a byte is left
    EXPECT_EQ(reader.position(), 2u);
    unsigned char out[2] = {9, 9};
    reader.bytes(out, 2);
    EXPECT_EQ(out[0], 0);
    EXPECT_EQ(out[1], 0);
}

TEST(ByteWriter, OverflowWritesNothingAndSticks) {
    unsigned char buffer[4] = {7, 7, 7, 7};
    ByteWriter writer(buffer, 3);
    writer.u16(0x0102);
    writer.u16(0x0304);  // does not fit
    writer.u8(5);        // would fit, but the error sticks
    EXPECT_FALSE(writer.ok());
    EXPECT_EQ(writer.size(), 2u);
    EXPECT_EQ(buffer[2], 7);
    writer.field("long text", 8);
    EXPECT_EQ(buffer[3], 7);
}
