#include <gtest/gtest.h>

#include "Recorders.h"

namespace kelvano::test {
namespace {

TEST(BinaryFiles, ReadersFillTheImageAndWritersTheSlotsLength) {
    Bench b(20);
    EXPECT_TRUE(b.io.OpenFile(b.write("ten.bin", QByteArray("0123456789")), 2));
    EXPECT_EQ(written(b.devices.DataBuf.values()),
              "0:30 1:31 2:32 3:33 4:34 5:35 6:36 7:37 8:38 9:39");

    // Binary files are opened for reading only: the running test program loads, even as root.
    const QString ro = b.path("running.bin");
    ASSERT_TRUE(QFile::link(QFile::symLinkTarget(QStringLiteral("/proc/self/exe")), ro));
    b.io.FileName = ro;
    EXPECT_EQ(b.io.ReadBinFile(), 0) << b.host.errors.join(' ').toStdString();
    EXPECT_EQ(b.io.Image[1], 'E');  // "\x7fELF"
    // Through the dispatch it is an ELF file whatever its name; that reader too only reads.
    EXPECT_FALSE(b.io.OpenFile(ro, 2));
    EXPECT_EQ(
        b.host.errors,
        QStringList{"File: " + ro + "\r\rError in ELF file\r(Not an AVR program (machine 62))"});

    // An object file with two records for word 3: the later one counts. A header field behind
    // the record length and a gap before the first record are not read.
    b.io.FileName = b.write("p.obj", objHeader(12 + 3 * 9, 12, 9) + "??" + objRecord(3, 0x1111) +
                                         objRecord(0x7FFF, 0xBEEF) + objRecord(3, 0xABCD) + "tail");
    EXPECT_EQ(b.io.ReadObjFile(), 0);
    EXPECT_EQ(written(b.io.Image), "6:CD 7:AB FFFE:EF FFFF:BE");  // the last word is the image's

    // A binary file saved is as long as the slot's image.
    for (auto [code, slot, length] : std::vector<std::tuple<int, int, qint64>>{
             {10, 1, 17024}, {11, 1, 0x4400}, {10, 2, 2048}, {20, 1, 8192}, {20, 2, 512}}) {
        Bench s(code);
        ASSERT_TRUE(s.io.SaveFile(s.path("out"), slot, 2));
        EXPECT_EQ(s.read("out.bin").size(), length) << code << "/" << slot;
    }
}

}  // namespace
}  // namespace kelvano::test
