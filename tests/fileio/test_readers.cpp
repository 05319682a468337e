#include <gtest/gtest.h>

#include <QDir>

#include "Recorders.h"

namespace kelvano::test {
namespace {

// Result codes: 0 loaded, 260 illegal character, 261 wrong length, 262 wrong checksum, 263
// address out of range (past 0xFFFF or a non-zero address base), 264 neither a data nor an end
// record; the line is the end record's, the failing one, or for 264 the number of lines read.
TEST(HexReader, PlacesDataRecordsAndReportsFormatErrorsWithTheirLine) {
    Bench b(26);
    struct Case {
        QByteArray text;
        int code, line;
        const char* image = nullptr;  // every byte the image holds after the read
    };
    const std::vector<Case> cases = {
        // Zero address bases; a byte-order mark; lower-case digits; the end record ends it.
        {"\xEF\xBB\xBF:0100000041BE\r\n:020000040000FA\r\n:020000020000FC\r\n:02FFFE00a1b2ae\r\n"
         ":00000001FF\r\nnot read: garbage\r\n",
         0, 5, "0:41 FFFE:A1 FFFF:B2"},
        {":0100000041BE\n:0100010042BC\n:00000001FF\n", 0, 3, "0:41 1:42"},
        {":0100000041BE\r:0100010042BC\r:00000001FF\r", 0, 3, "0:41 1:42"},
        {":0100000041BE\r\n\x1a:zz\r\n", 0, 2, "0:41"},  // Ctrl-Z ends the text
        {"; comment\n\n:0100000041BE\nanything\n:0100000041BF\n", 262, 5},
        {":0100000041BE \n", 261, 1},                                   // one trailing blank
        {":0100000041B\n", 261, 1},                                     // even length
        {":0200000041BE\n", 261, 1},                                    // count does not fit
        {":01000000G1BE\n", 260, 1},                                    // data
        {":0100 00041BE\n", 260, 1},                                    // blank inside the address
        {":\n", 260, 1},                                                // no count at all
        {":10FFF800000102030405060708090A0B0C0D0E0F81\n", 263, 1, ""},  // past 0xFFFF: none lands
        {":0100000041BE\n:020000040001F9\n:0100000042BD\n", 263, 2},    // linear base 0x10000
        {":020000021000EC\n", 263, 1},                                  // segment base 0x10000
        {":020000020100FB\n", 263, 1},                                  // segment base 0x1000
        {"", 264, 0},
        {"\xEF\xBB\xBF", 264, 0},
        {"  0000  3FFF  GOTO start\r\n  0001  0000  NOP\r\n", 264, 2},  // a listing
        {QByteArray("\x89PNG\r\n\x1a\n\0\0", 10), 264, 1},              // not text at all
        {":020000040000FA\n:0400000300001234B3\n", 264, 2},  // address and start records only
    };
    for (const Case& c : cases) {
        b.io.FileName = b.write("t.hex", c.text);
        EXPECT_EQ(b.io.ReadHexFile(), c.code) << c.text.constData();
        EXPECT_EQ(b.io.LineNo, c.line) << c.text.constData();
        if (c.image) {
            EXPECT_EQ(written(b.io.Image), c.image) << c.text.constData();
        }
    }
    // A second load tried from the event pump in the middle of the first waits for it.
    const QString big = b.write("big.hex", QByteArray(":0100000041BE\n").repeated(200));
    int nested = -1;
    b.host.onPump = [&] {
        if (nested < 0) nested = b.io.OpenFile(big, 3);
    };
    EXPECT_TRUE(b.io.OpenFile(big, 3));
    EXPECT_EQ(nested, 0);
    EXPECT_EQ(b.host.errors, QStringList{"A file is still being loaded or saved."});
    EXPECT_EQ(b.devices.EepBuf[0], 0x41);
    // An end record alone is an empty image, and loads.
    EXPECT_TRUE(b.io.OpenFile(b.write("end.hex", ":00000001FF\n"), 3));
    EXPECT_EQ(b.devices.EepBuf[0], 0xFF);
}

// Every built-in layout (its fixed bytes, count byte and address bytes), chosen by the first data
// line, and every cell a dump leaves written: nothing of an earlier dump stays.
TEST(CardDumpLayouts, EveryBuiltInLayoutLoadsItsBlockAtItsAddress) {
    Bench b(26);  // a 64 KB external EEPROM
    // 256 bytes on a line, ending on the image's last byte, are fine.
    ASSERT_TRUE(b.io.OpenFile(b.write("full.crd", crdLine("C1 FF FF 05 00", 251, 1) + "\n"), 3));
    EXPECT_EQ(cells(b.devices.EepBuf, {0xFF04, 0xFF05, 0xFFFF}), "FF 1 FB");
    const std::pair<QByteArray, const char*> rows[] = {
        {"01 02 FF 00 00 04 01 10 A1 B2\r\n", "110:A1 111:B2"},  // NB counts the address too
        {"01 02 FF 03 0D 04 02 23 5A C3\r\n", "223:5A 224:C3"},
        {"01 02 FF 0A 05 05 34 56 0F F0 3C\r\n", "3456:F 3457:F0 3458:3C"},
        {"01 FF 00 00 00 04 45 67 96 69\r\n", "4567:96 4568:69"},
        {"01 02 23 56 78 02 81 18\r\n", "5678:81 5679:18"},
        {"C1 FF 67 89 02 E7 7E\r\n", "6789:E7 678A:7E"},
        // A byte-order mark, comments and blank lines first; layout 5 skips its NB byte; a later
        // line with other fixed bytes is still read with the chosen layout; LF alone ends a line.
        {"\xEF\xBB\xBF/ dump of a card\n\n  01 02 23 01 00 05 AA BB CC DD / tail\n99 99 99 02 00 "
         "00 EE\n",
         "100:AA 101:BB 102:CC 103:DD 200:EE"},
        // Lower-case digits; CR alone ends a line; a line too short for its address.
        {"c1 ff 00 10 02 ab cd\rc1 ff\r", "10:AB 11:CD"},
        {"C1 FF 00 00 00 000000000000041\n", "0:41"},  // a long token keeps its low eight bits
    };
    for (const auto& [text, cells] : rows) {
        ASSERT_TRUE(b.io.OpenFile(b.write("card.crd", text), 3)) << text.constData();
        EXPECT_EQ(written(b.devices.EepBuf.values()), cells) << text.constData();
    }

    // A layout file beside the program wins over the user's; both come before the built-in ones.
    QDir(b.dir.path()).mkpath("data/kelvano");
    const QByteArray oldHome = qgetenv("XDG_DATA_HOME");
    qputenv("XDG_DATA_HOME", b.path("data").toLocal8Bit());
    b.write("data/kelvano/kelvano.crd", "aa bb HI LO\r\n");
    b.io.CrdPath = b.path("kelvano.crd");  // the program's folder
    ASSERT_TRUE(b.io.OpenFile(b.write("custom.crd", "AA BB 12 34 01 02\r\n"), 3));
    EXPECT_EQ(written(b.devices.EepBuf.values()), "1234:1 1235:2");

    b.write("kelvano.crd", QByteArray("\xEF\xBB\xBF") + "aa bb LO HI\r\nC1 FF lo HI\r\n");
    ASSERT_TRUE(b.io.OpenFile(b.path("custom.crd"), 3));
    qputenv("XDG_DATA_HOME", oldHome);
    EXPECT_EQ(written(b.devices.EepBuf.values()), "3412:1 3413:2");
    // "lo" is no address token: the second line never matches, built-in layout 6 reads this.
    ASSERT_TRUE(b.io.OpenFile(b.write("six.crd", "C1 FF 00 20 01 77\r\n"), 3));
    EXPECT_EQ(b.devices.EepBuf[0x20], 0x77);
}

}  // namespace
}  // namespace kelvano::test
