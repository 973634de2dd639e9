#include "platform/CByteOrder.h"

#include <gtest/gtest.h>

#include <cstring>

TEST(ByteOrder, ReadsLittleEndianFields) {
    const unsigned char bytes[] = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x88};
    EXPECT_EQ(CByteOrder::readLE16(bytes), 0x0201u);
    EXPECT_EQ(CByteOrder::readLE32(bytes), 0x04030201u);
    EXPECT_EQ(CByteOrder::readLE32(bytes + 4), 0x88070605u);
    EXPECT_EQ(CByteOrder::readLE64(bytes), 0x8807060504030201ull);
    EXPECT_EQ(CByteOrder::swap32(0x11223344u), 0x44332211u);
}

TEST(ByteOrder, ConvertsStoredEntriesToHostValues) {
    const unsigned char stored[] = {0x00, 0x00, 0x00, 0x10, 0xF8, 0xFF, 0xFF, 0x0F};
    uint32_t values[2];
    std::memcpy(values, stored, sizeof values);
    CByteOrder::littleEndianToHost32(values, 2);
    EXPECT_EQ(values[0], 0x10000000u);
    EXPECT_EQ(values[1], 0x0FFFFFF8u);
    uint32_t one;
    std::memcpy(&one, stored, 4);
    EXPECT_EQ(CByteOrder::fromLittleEndian32(one), 0x10000000u);
}
