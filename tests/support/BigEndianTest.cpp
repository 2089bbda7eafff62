#include "support/BigEndian.h"

#include <gtest/gtest.h>

#include <cstring>

namespace dorvex {
namespace {

TEST(BigEndian, ReadsUnalignedFieldsAsUnsigned) {
    const uint8_t bytes[] = {0xAA, 0x00, 0x00, 0x01, 0xBA, 0xFF, 0xFE};
    EXPECT_EQ(ReadBE32(bytes, 1), 442u);
    EXPECT_EQ(ReadBE16(bytes, 5), 65534);
    EXPECT_EQ(ReadBE32(bytes, 3), 0x01BAFFFEu);
}

TEST(BigEndian, WritesTruncateAndWrap) {
    uint8_t bytes[8] = {};
    WriteBE16(bytes, 1, 74565);  // 0x12345: the high bits are dropped
    EXPECT_EQ(bytes[1], 0x23);
    EXPECT_EQ(bytes[2], 0x45);
    EXPECT_EQ(bytes[0], 0x00);
    EXPECT_EQ(bytes[3], 0x00);

    WriteBE32(bytes, 3, static_cast<uint32_t>(-1));
    EXPECT_EQ(ReadBE32(bytes, 3), 0xFFFFFFFFu);
    AddBE32(bytes, 3, 1);
    EXPECT_EQ(ReadBE32(bytes, 3), 0u);
    WriteBE32(bytes, 3, 2);
    AddBE32(bytes, 3, -3);
    EXPECT_EQ(ReadBE32(bytes, 3), 0xFFFFFFFFu);
    EXPECT_EQ(bytes[6], 0xFF);
    EXPECT_EQ(bytes[7], 0x00);
}

TEST(BigEndian, SwapsMatchReadsOfTheSameBytes) {
    const uint8_t word32[4] = {0x00, 0x00, 0x01, 0xE0};
    uint32_t native32;
    memcpy(&native32, word32, 4);
    EXPECT_EQ(SwapBE32(native32), 480u);
    EXPECT_EQ(SwapBE32(native32), ReadBE32(word32, 0));

    const uint8_t word16[4] = {0x01, 0x00, 0x77, 0x88};
    uint32_t native16 = 0;
    memcpy(&native16, word16, 2);
    EXPECT_EQ(SwapBE16(native16), 256);
    EXPECT_EQ(SwapBE16(native16 | 0xABCD0000u), 256);  // only the low 16 bits count
}

}  // namespace
}  // namespace dorvex
