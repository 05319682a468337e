#include <gtest/gtest.h>

#include <QDir>

#include "Recorders.h"

namespace kelvano::test {
namespace {

TEST(CardDump, RecognisesTheLayoutFromTheFirstDataLine) {
    Bench b(26);
    // Layout 1: NB counts the address and data bytes; every other byte stays erased. A
    // byte-order mark in front of the first line is skipped.
    ASSERT_TRUE(b.io.OpenFile(
        b.write("l1.crd", "\xEF\xBB\xBF" + crdLine("01 02 FF 00 00 12 00 40", 16, 0xA0) + "\r\n"),
        3));
    EXPECT_EQ(cells(b.devices.EepBuf, {0x40, 0x4F}), "A0 AF");
    int named = 0;
    for (int i = 0; i < b.devices.EepBuf.length(); ++i) named += b.devices.EepBuf[i] != 0xFF;
    EXPECT_EQ(named, 16);

    // Comments and blank lines first; layout 5 skips its NB byte. A later line with other
    // fixed bytes is still read with the chosen layout. Lines end with LF alone.
    ASSERT_TRUE(b.io.OpenFile(b.write("l5.crd",
                                      "/ dump of a card\n\n  01 02 23 01 00 05 AA BB CC DD / tail\n"
                                      "99 99 99 02 00 00 EE\n"),
                              3));
    // Nothing of the earlier load is left at 0x40.
    EXPECT_EQ(cells(b.devices.EepBuf, {0x100, 0x103, 0x200, 0x40}), "AA DD EE FF");

    // Lower-case digits match layout 6; CR alone ends a line; a line too short for its address.
    ASSERT_TRUE(b.io.OpenFile(b.write("l6.crd", "c1 ff 00 10 02 ab cd\rc1 ff\r"), 3));
    EXPECT_EQ(cells(b.devices.EepBuf, {0x10, 0x11}), "AB CD");

    // 256 bytes on a line, ending on the image's last byte, are fine; long tokens keep
    // their low eight bits.
    ASSERT_TRUE(b.io.OpenFile(b.write("full.crd", crdLine("C1 FF FF 05 00", 251, 1) + "\n"), 3));
    EXPECT_EQ(cells(b.devices.EepBuf, {0xFF05, 0xFFFF}), "1 FB");
    ASSERT_TRUE(b.io.OpenFile(b.write("long.crd", "C1 FF 00 00 00 000000000000041\n"), 3));
    EXPECT_EQ(b.devices.EepBuf[0], 0x41);
}

// Every built-in layout, each alone: its fixed bytes, where its count byte stands and which
// bytes give the block address.
TEST(CardDumpLayouts, EveryBuiltInLayoutLoadsItsBlockAtItsAddress) {
    const struct {
        const char* line;
        int address;
        const char* cells;  // address - 1, address, address + 1, address + 2
    } rows[] = {
        {"01 02 FF 00 00 04 01 10 A1 B2", 0x0110, "FF A1 B2 FF"},
        {"01 02 FF 03 0D 04 02 23 5A C3", 0x0223, "FF 5A C3 FF"},
        {"01 02 FF 0A 05 05 34 56 0F F0 3C", 0x3456, "FF F F0 3C"},
        {"01 FF 00 00 00 04 45 67 96 69", 0x4567, "FF 96 69 FF"},
        {"01 02 23 56 78 02 81 18", 0x5678, "FF 81 18 FF"},
        {"C1 FF 67 89 02 E7 7E", 0x6789, "FF E7 7E FF"},
    };
    for (const auto& r : rows) {
        Bench b(26);  // a 64 KB external EEPROM
        ASSERT_TRUE(b.io.OpenFile(b.write("card.crd", QByteArray(r.line) + "\r\n"), 3)) << r.line;
        EXPECT_EQ(cells(b.devices.EepBuf, {r.address - 1, r.address, r.address + 1, r.address + 2}),
                  r.cells)
            << r.line;
    }
}

// An installed program has no layout file beside it: the one in the user's data folder
// counts; one beside the program wins over it. Layout file lines come before the built-in ones.
TEST(CardDump, LayoutFileBesideTheProgramThenInTheUserDataFolder) {
    Bench b(26);
    QDir(b.dir.path()).mkpath("data/kelvano");
    QDir(b.dir.path()).mkpath("bin");
    const QByteArray oldHome = qgetenv("XDG_DATA_HOME");
    qputenv("XDG_DATA_HOME", b.path("data").toLocal8Bit());
    b.write("data/kelvano/kelvano.crd", "aa bb HI LO\r\n");
    b.io.CrdPath = b.path("bin/kelvano.crd");
    ASSERT_TRUE(b.io.OpenFile(b.write("custom.crd", "AA BB 12 34 01 02\r\n"), 3));
    EXPECT_EQ(cells(b.devices.EepBuf, {0x1234, 0x1235}), "1 2");

    b.write("bin/kelvano.crd",
            "\xEF\xBB\xBF"
            "aa bb LO HI\r\nC1 FF lo HI\r\n");
    ASSERT_TRUE(b.io.OpenFile(b.path("custom.crd"), 3));
    qputenv("XDG_DATA_HOME", oldHome);
    EXPECT_EQ(cells(b.devices.EepBuf, {0x3412, 0x1234}), "1 FF");
    // "lo" in lower case is no address token, so the second line never matches and the
    // built-in layout 6 reads this dump.
    ASSERT_TRUE(b.io.OpenFile(b.write("six.crd", "C1 FF 00 20 01 77\r\n"), 3));
    EXPECT_EQ(b.devices.EepBuf[0x20], 0x77);
}

}  // namespace
}  // namespace kelvano::test
