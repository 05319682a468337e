#include <gtest/gtest.h>

#include <cerrno>

#include "Recorders.h"

namespace kelvano::test {
namespace {

QByteArray objHeader(uint32_t end, uint32_t first, uint8_t recordLength) {
    QByteArray h;
    for (uint32_t v : {end, first})
        for (int s = 24; s >= 0; s -= 8) h.append(static_cast<char>((v >> s) & 0xFF));
    h.append(static_cast<char>(recordLength));
    h.append('\0');
    return h;
}

QByteArray objRecord(uint32_t wordAddress, uint16_t word, int length = 9) {
    QByteArray r;
    for (uint32_t v :
         {wordAddress >> 16, wordAddress >> 8, wordAddress, uint32_t(word) >> 8, uint32_t(word)})
        r.append(static_cast<char>(v & 0xFF));
    return r.leftJustified(length, '\0');
}

TEST(BinaryReader, FillsTheImageFromOffsetZeroUpToItsEnd) {
    Bench b(20);
    EXPECT_TRUE(b.io.OpenFile(b.write("ten.bin", QByteArray("0123456789")), 2));
    EXPECT_EQ(b.devices.DataBuf[9], '9');
    EXPECT_EQ(b.devices.DataBuf[10], 0xFF);

    // A file nobody may write loads: binary files are opened for reading only. The running
    // test program cannot be opened for writing, not even by root.
    const QString ro = b.path("running.bin");
    ASSERT_TRUE(QFile::link(QFile::symLinkTarget(QStringLiteral("/proc/self/exe")), ro));
    EXPECT_TRUE(b.io.OpenFile(ro, 2)) << b.host.errors.join(' ').toStdString();
    EXPECT_EQ(b.devices.DataBuf[1], 'E');  // "\x7fELF"

    // A missing file is an I/O error with the system's description, and changes nothing.
    EXPECT_FALSE(b.io.OpenFile(b.path("missing.bin"), 2));
    ASSERT_EQ(b.host.errors.size(), 1);
    EXPECT_EQ(b.host.errors[0], QStringLiteral("I/O-Error #2\rNo such file or directory"));
    EXPECT_EQ(b.devices.DataBuf[1], 'E');
}

TEST(ObjectReader, PlacesWordsAndRefusesBrokenFiles) {
    Bench b(20);
    // Two records for word 3: the later one counts. A header field behind the record length
    // and a gap before the first record are not read.
    QByteArray obj = objHeader(12 + 3 * 9, 12, 9) + QByteArray("??") + objRecord(3, 0x1111) +
                     objRecord(0x7FFF, 0xBEEF) + objRecord(3, 0xABCD) + QByteArray("tail");
    EXPECT_TRUE(b.io.OpenFile(b.write("p.obj", obj), 1));
    EXPECT_EQ(b.devices.ProgBuf[3], 0xABCD);
    EXPECT_EQ(b.io.Image[0xFFFE] + 256 * b.io.Image[0xFFFF], 0xBEEF);  // the image's last word

    struct Case {
        QByteArray bytes;
        int code;
    };
    const std::vector<Case> bad = {
        {objHeader(10 + 9, 10, 9) + objRecord(0x8000, 0x1234), kObjAddressRange},
        {objHeader(10 + 9, 10, 0), kObjBadRecordLength},  // would never advance
        {objHeader(10 + 11, 10, 11) + objRecord(0, 0, 11), kObjBadRecordLength},
        {objHeader(10 + 18, 10, 9) + objRecord(0, 0), ENODATA},  // promises a second record
        {objHeader(0, 0, 9).left(7), ENODATA},                   // header cut short
        {objHeader(0xFFFFFFFF, 0xFFFFFF00, 5), ENODATA},         // first record past the end
    };
    const TBufArray before = b.devices.ProgBuf;
    for (const Case& c : bad) {
        b.host.errors.clear();
        EXPECT_FALSE(b.io.OpenFile(b.write("bad.obj", c.bytes), 1));
        EXPECT_EQ(b.io.ReadObjFile(), c.code);
        EXPECT_FALSE(b.host.errors.isEmpty());
    }
    EXPECT_EQ(b.devices.ProgBuf, before);
    EXPECT_EQ(b.host.errors[0], "I/O-Error #" + QString::number(ENODATA) + "\rNo data available");

    // avra's object file of the AT90S8515 program.
    EXPECT_TRUE(b.io.OpenFile(testData("avr8515_flash_eeprom.obj"), 1));
    EXPECT_EQ(cells(b.devices.ProgBuf, {0, 0xFFF}), "E401 C000");  // ldi r16, 0x41; rjmp
}

TEST(BinaryWriter, FileLengthsFollowTheBuffer) {
    struct Case {
        int code, slot;
        qint64 length;
    };
    for (const Case& c : std::vector<Case>{{10, 1, 17024},
                                           {11, 1, 0x4400},
                                           {10, 2, 2048},
                                           {20, 1, 8192},
                                           {20, 2, 512},
                                           {26, 3, 65536}}) {
        Bench b(c.code);
        ASSERT_TRUE(b.io.SaveFile(b.path("out"), c.slot, 2));
        EXPECT_EQ(b.read("out.bin").size(), c.length) << c.code << "/" << c.slot;
    }

    // The PIC image keeps the gaps erased and the EEPROM high bytes zero.
    Bench b(10);
    b.devices.ProgBuf[0] = 0x1234;
    b.devices.DataBuf[0] = 0x77;
    ASSERT_TRUE(b.io.SaveFile(b.path("pic.bin"), 1, 1));
    const QByteArray f = b.read("pic.bin");
    QByteArray at;
    for (int i :
         {0, 1, 2, 3, 0x0800, 0x3FFF, 0x4000, 0x4008, 0x400D, 0x4010, 0x41FF, 0x4200, 0x4201})
        at += f[i];
    EXPECT_EQ(at.toHex(' '), "34 12 ff 3f ff ff 0f ff ff ff ff 77 00");
}

}  // namespace
}  // namespace kelvano::test
