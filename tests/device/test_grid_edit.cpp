#include <gtest/gtest.h>

#include "device/BufferHistory.h"
#include "device/GridEdit.h"

using namespace kelvano;

TEST(CellTyping, FourteenBitWordsAndInvalidCharacters) {
    // PIC words: the first digit takes 0..3 (a 4 is refused in tests/app).
    EXPECT_EQ(typeHexDigit(0x0000, 0, '3', ViewMode::PicWords8).value, 0x3000);
    EXPECT_EQ(typeHexDigit(0x3FFF, 3, 'a', ViewMode::PicWords8).value, 0x3FFA);
    // AVR words take all 16 bits; bytes two digits.
    EXPECT_EQ(typeHexDigit(0x0FFF, 0, 'C', ViewMode::AvrWords8).value, 0xCFFF);
    EXPECT_EQ(typeHexDigit(0x00A5, 1, '0', ViewMode::Bytes16).value, 0x00A0);
    EXPECT_EQ(typeHexDigit(0x00A5, 0, '7', ViewMode::Bytes16).value, 0x0075);
    for (QChar bad : {QChar('G'), QChar(' '), QChar('+'), QChar(0x00E4)}) {
        const Typed t = typeHexDigit(0x00, 0, bad, ViewMode::Bytes16);
        EXPECT_FALSE(t.ok);
        EXPECT_EQ(t.refusal, "Type a hexadecimal digit (0-9, A-F).");
    }
    // Text: the byte, a PIC word's low byte, an AVR word's high or low byte.
    EXPECT_EQ(typeTextChar(0xFF, 0, 'A', ViewMode::Bytes16).value, 0x41);
    EXPECT_EQ(typeTextChar(0x2A7F, 0, 'B', ViewMode::PicWords8).value, 0x2A42);
    EXPECT_EQ(typeTextChar(0x1234, 0, 'C', ViewMode::AvrWords8).value, 0x4334);
    EXPECT_EQ(typeTextChar(0x1234, 1, '~', ViewMode::AvrWords8).value, 0x127E);
    for (ushort bad : {ushort(0x1F), ushort(0x7F), ushort(0xE9)}) {
        const Typed t = typeTextChar(0x00, 0, QChar(bad), ViewMode::Bytes16);
        EXPECT_FALSE(t.ok);
        EXPECT_EQ(t.refusal, "Type a printable character (codes 20 to 7E).");
    }
}

TEST(GoToAndFind, AddressesAndPatternsAtTheBufferEnds) {
    const std::tuple<const char*, int, int> addresses[] = {
        {"0", 64, 0},   {"$3f", 64, 63}, {"0x3F", 64, 63},       {"40", 64, -1},
        {"-1", 64, -1}, {"zz", 64, -1},  {"FFFF", 65536, 0xFFFF}};
    for (const auto& [text, size, at] : addresses)
        EXPECT_EQ(parseAddress(text, size).value_or(-1), at) << text;
    const std::pair<const char*, ViewMode> badPatterns[] = {{"123", ViewMode::Bytes16},
                                                            {"4G", ViewMode::Bytes16},
                                                            {"4000", ViewMode::PicWords8},
                                                            {"  ", ViewMode::Bytes16}};
    for (const auto& [text, mode] : badPatterns)
        EXPECT_FALSE(parsePattern(text, true, mode)) << text;

    // Bytes "KE" at both ends; AVR words as words in hex, high byte first in text, from a word's
    // start only; PIC words under 14 bits in hex (0xFFFF is 3FFF), their low byte in text.
    TBufArray bytes, avr, pic;
    bytes.resize(64, 0xFF);
    bytes[0] = bytes[62] = 'K';
    bytes[1] = bytes[63] = 'E';
    avr.resize(8, 0xFFFF);
    avr[6] = 0x4142;
    avr[7] = 0x4344;
    pic.resize(8, 0xFFFF);
    pic[7] = 0x3441;
    // Buffer, view, pattern, in hex, from, forward, where found.
    const std::tuple<const TBufArray&, ViewMode, const char*, bool, int, bool, int> finds[] = {
        {bytes, ViewMode::Bytes16, "KE", false, -1, true, 0},
        {bytes, ViewMode::Bytes16, "KE", false, 0, true, 62},
        {bytes, ViewMode::Bytes16, "KE", false, 62, true, -1},
        {bytes, ViewMode::Bytes16, "KE", false, 64, false, 62},
        {bytes, ViewMode::Bytes16, "KE", false, 62, false, 0},
        {bytes, ViewMode::Bytes16, "KE", false, 0, false, -1},
        {bytes, ViewMode::Bytes16, "45 ff", true, -1, true, 1},
        {avr, ViewMode::AvrWords8, "ABCD", false, -1, true, 6},
        {avr, ViewMode::AvrWords8, "BC", false, -1, true, -1},
        {avr, ViewMode::AvrWords8, "4344", true, 8, false, 7},
        {pic, ViewMode::PicWords8, "3FFF 3441", true, -1, true, 6},
        {pic, ViewMode::PicWords8, "A", false, -1, true, 7},
    };
    for (const auto& [buf, mode, text, hex, from, forward, found] : finds) {
        const auto pattern = parsePattern(text, hex, mode);
        ASSERT_TRUE(pattern) << text;
        EXPECT_EQ(findPattern(buf, mode, *pattern, from, forward), found)
            << text << " from " << from;
    }
}

// Undo and redo through the window: tests/app; here what the window does not show.
TEST(BufferHistory, NoEmptyStepsAndANewChangeDropsRedo) {
    TDevices d;
    d.DeviceId = 20;
    d.ApplyBuffers(nullptr, false);
    BufferHistory h(d);
    EXPECT_FALSE(h.record("Nothing"));
    d.DataBuf[0] = 0x01;
    ASSERT_TRUE(h.record("Edit", 7));
    EXPECT_EQ(h.undo(), std::vector<int>{2});
    EXPECT_TRUE(h.canRedo());
    d.EepBuf[0] = 0x00;
    ASSERT_TRUE(h.record("Fill"));
    EXPECT_FALSE(h.canRedo());
    EXPECT_EQ(h.undoText(), "Fill");
    EXPECT_EQ(h.undo(), std::vector<int>{3});
    EXPECT_EQ(d.EepBuf[0], 0xFF);
    EXPECT_FALSE(h.canUndo());
}
