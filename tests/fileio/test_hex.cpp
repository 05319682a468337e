#include <gtest/gtest.h>

#include "Recorders.h"

namespace kelvano::test {
namespace {

// Loads `text` as a HEX file into the image and returns the reader's result.
int readHex(Bench& b, const QByteArray& text) {
    b.io.FileName = b.write("t.hex", text);
    return b.io.ReadHexFile();
}

TEST(HexReader, PlacesDataRecordsAndStopsAtTheEndRecordOrCtrlZ) {
    Bench b(26);
    // Address records with a zero base are accepted; a UTF-8 byte-order mark before the
    // first record is no part of it.
    EXPECT_EQ(readHex(b,
                      "\xEF\xBB\xBF:0100000041BE\r\n:020000040000FA\r\n:020000020000FC\r\n"
                      ":02FFFE00a1b2ae\r\n:00000001FF\r\nnot read: garbage\r\n"),
              0);
    // Lower-case digits, the last two bytes of the image.
    EXPECT_EQ(b.io.Image[0] + 256 * b.io.Image[0xFFFE] + 65536 * b.io.Image[0xFFFF], 0xB2A141);
    int named = 0;
    for (int i = 0; i < TFileIo::kImageSize; ++i)
        named += b.io.Image[static_cast<size_t>(i)] != 0xFF;
    EXPECT_EQ(named, 3);
    EXPECT_EQ(b.io.LineNo, 5);  // the end record's line

    // Every line end; Ctrl-Z ends the text: the malformed line after it is never read.
    for (const char* end : {"\r\n", "\n", "\r"}) {
        const QByteArray e(end);
        EXPECT_EQ(readHex(b, ":0100000041BE" + e + ":0100010042BC" + e + ":00000001FF" + e), 0);
        EXPECT_EQ(b.io.Image[1], 0x42) << end;
    }
    EXPECT_EQ(readHex(b, ":0100000041BE\r\n\x1a:zz\r\n"), 0);
    EXPECT_EQ(b.io.Image[0], 0x41);
}

// Result codes: 260 illegal character, 261 wrong length, 262 wrong checksum, 263 address out
// of range (past 0xFFFF or a non-zero address base), 264 neither a data nor an end record;
// the line is the failing one, or for 264 the number of lines read.
TEST(HexReader, ReportsFormatErrorsWithTheirLine) {
    Bench b(26);
    struct Case {
        QByteArray text;
        int code;
        int line;
    };
    const std::vector<Case> cases = {
        {"; comment\n\n:0100000041BE\nanything\n:0100000041BF\n", 262, 5},
        {":0100000041BE \n", 261, 1},                                 // one trailing blank
        {":0100000041B\n", 261, 1},                                   // even length
        {":0200000041BE\n", 261, 1},                                  // count does not fit
        {":01000000G1BE\n", 260, 1},                                  // data
        {":0100 00041BE\n", 260, 1},                                  // blank inside the address
        {":\n", 260, 1},                                              // no count at all
        {":10FFF800000102030405060708090A0B0C0D0E0F81\n", 263, 1},    // past 0xFFFF
        {":0100000041BE\n:020000040001F9\n:0100000042BD\n", 263, 2},  // linear base 0x10000
        {":020000021000EC\n", 263, 1},                                // segment base 0x10000
        {":020000020100FB\n", 263, 1},                                // segment base 0x1000
        {"", 264, 0},
        {"\xEF\xBB\xBF", 264, 0},
        {"  0000  3FFF  GOTO start\r\n  0001  0000  NOP\r\n", 264, 2},  // a listing
        {QByteArray("\x89PNG\r\n\x1a\n\0\0", 10), 264, 1},              // not text at all
        {":020000040000FA\n:0400000300001234B3\n", 264, 2},  // address and start records only
    };
    for (const Case& c : cases) {
        EXPECT_EQ(readHex(b, c.text), c.code) << c.text.constData();
        EXPECT_EQ(b.io.LineNo, c.line) << c.text.constData();
    }
    // Nothing of a record running past the image end lands in it.
    EXPECT_EQ(b.io.Image[0xFFF8], 0xFF);

    // An end record alone is an empty image, and loads.
    ASSERT_TRUE(b.io.OpenFile(b.write("good.hex", ":0100000041BE\n"), 3));
    EXPECT_TRUE(b.io.OpenFile(b.write("end.hex", ":00000001FF\n"), 3));
    EXPECT_EQ(b.devices.EepBuf[0], 0xFF);
}

TEST(HexWriter, WritesWholeRecordsOfEveryBuffer) {
    Bench b(10);
    b.io.FileName = b.path("data.hex");
    // A PIC program image of 1,024 words and 64 EEPROM bytes (a byte buffer's records:
    // Dispatch.ChoosesTheFormatByExtension).
    b.devices.IdBuf[2] = 0x0C;
    b.devices.CfgWord = 0x3FF1;
    b.devices.DataBuf[63] = 0x5A;
    b.io.SaveBuf = &b.devices.ProgBuf;
    b.io.SaveMode = 1;
    ASSERT_EQ(b.io.WriteHexFile(), 0);
    const QList<QByteArray> lines = b.read("data.hex").split('\n');
    ASSERT_EQ(lines.size(), 128 + 1 + 1 + 8 + 1 + 1);  // the text ends with a line end
    EXPECT_EQ(lines[128], ":084000000F000F000C000F007F\r");
    EXPECT_EQ(lines[129], ":02400E00F13F80\r");
    EXPECT_EQ(lines[137], ":10427000FF00FF00FF00FF00FF00FF00FF005A00EB\r");
    EXPECT_EQ(lines[138], ":00000001FF\r");
}

}  // namespace
}  // namespace kelvano::test
