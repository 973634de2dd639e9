// The bounds-checked view every on-disk structure is read through.
#include "platform/CByteView.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <vector>

TEST(ByteView, ReadsLittleEndianFieldsInside) {
    const std::array<unsigned char, 8> bytes{0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x88};
    const CByteView view = CByteView::of(bytes);
    EXPECT_EQ(view.size(), 8u);
    EXPECT_EQ(view.u8(7), 0x88);
    EXPECT_EQ(view.le16(6), 0x8807u);
    EXPECT_EQ(view.le32(4), 0x88070605u);
    EXPECT_EQ(view.le64(0), 0x8807060504030201ull);
    EXPECT_TRUE(view.equals(1, "\x02\x03", 2));
    const CByteView tail = view.sub(4, 4);
    EXPECT_EQ(tail.le32(0), 0x88070605u);
    EXPECT_EQ(view.from(8).size(), 0u);
}

// Every read that reaches one byte past the view fails instead of reading
// it, whatever the offset (offsets near the top of size_t included).
TEST(ByteView, RefusesEveryReadOutside) {
    const std::vector<unsigned char> bytes(16, 0xAB);
    const CByteView view = CByteView::of(bytes).sub(4, 8);
    EXPECT_THROW(view.u8(8), CByteRangeError);
    EXPECT_THROW(view.le16(7), CByteRangeError);
    EXPECT_THROW(view.le32(5), CByteRangeError);
    EXPECT_THROW(view.le64(1), CByteRangeError);
    EXPECT_THROW(view.sub(6, 3), CByteRangeError);
    EXPECT_THROW(view.from(9), CByteRangeError);
    EXPECT_THROW(view.le16(SIZE_MAX), CByteRangeError);
    EXPECT_THROW(view.sub(1, SIZE_MAX), CByteRangeError);
    unsigned char out[4];
    EXPECT_THROW(view.copy(6, out, 4), CByteRangeError);
    EXPECT_THROW(CByteView().u8(0), CByteRangeError);
    EXPECT_FALSE(view.has(8, 1));
    EXPECT_TRUE(view.has(8, 0));
    EXPECT_NO_THROW(view.le64(0));
}
