#include <gtest/gtest.h>

#include "device/uDevices.h"

using namespace kelvano;

TEST(HexTexts, MaskingAndCharacterRange) {
    EXPECT_EQ(HexByte(0x1241 & 0xFF), "41 ");
    EXPECT_EQ(HexWord(0x3FFF), "3FFF  ");
    EXPECT_EQ(AsciiChar(0x7D), ".");
    EXPECT_EQ(AsciiChar(0x7E), ".");
    EXPECT_EQ(AsciiChar(0x7F), ".");
    EXPECT_EQ(AsciiChar(0x20), " ");
    EXPECT_EQ(AsciiChar(0x7C), "|");
    EXPECT_EQ(AsciiChar(0x1F), ".");
}
