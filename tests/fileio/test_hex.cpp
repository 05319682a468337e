#include <gtest/gtest.h>

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
        int code;
        int line;
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

}  // namespace
}  // namespace kelvano::test
