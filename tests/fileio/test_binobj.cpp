#include <gtest/gtest.h>

#include <cerrno>

#include "Recorders.h"

namespace kelvano::test {
namespace {

TEST(BinaryReader, FillsTheImageFromOffsetZeroUpToItsEnd) {
    Bench b(20);
    EXPECT_TRUE(b.io.OpenFile(b.write("ten.bin", QByteArray("0123456789")), 2));
    EXPECT_EQ(b.devices.DataBuf[9], '9');
    EXPECT_EQ(b.devices.DataBuf[10], 0xFF);

    // A file nobody may write loads: binary files are opened for reading only. The running
    // test program cannot be opened for writing, not even by root.
    const QString ro = b.path("running.bin");
    ASSERT_TRUE(QFile::link(QFile::symLinkTarget(QStringLiteral("/proc/self/exe")), ro));
    b.io.FileName = ro;
    EXPECT_EQ(b.io.ReadBinFile(), 0) << b.host.errors.join(' ').toStdString();
    EXPECT_EQ(b.io.Image[1], 'E');  // "\x7fELF"
    // Through the dispatch the same file is an ELF file, whatever its name, and the ELF
    // reader too opens it for reading only.
    EXPECT_FALSE(b.io.OpenFile(ro, 2));
    EXPECT_EQ(
        b.host.errors,
        QStringList{"File: " + ro + "\r\rError in ELF file\r(Not an AVR program (machine 62))"});
}

TEST(ObjectReader, PlacesWordsAndRefusesBrokenFiles) {
    Bench b(20);
    // Two records for word 3: the later one counts. A header field behind the record length
    // and a gap before the first record are not read.
    QByteArray obj = objHeader(12 + 3 * 9, 12, 9) + QByteArray("??") + objRecord(3, 0x1111) +
                     objRecord(0x7FFF, 0xBEEF) + objRecord(3, 0xABCD) + QByteArray("tail");
    b.io.FileName = b.write("p.obj", obj);
    EXPECT_EQ(b.io.ReadObjFile(), 0);
    EXPECT_EQ(b.io.Image[6] + 256 * b.io.Image[7], 0xABCD);
    EXPECT_EQ(b.io.Image[0xFFFE] + 256 * b.io.Image[0xFFFF], 0xBEEF);  // the image's last word
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
