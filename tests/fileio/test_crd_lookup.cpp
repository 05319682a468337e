#include <gtest/gtest.h>

#include <QDir>

#include "Recorders.h"

namespace kelvano::test {
namespace {

struct DataHome {
    explicit DataHome(const QString& dir) : old(qgetenv("XDG_DATA_HOME")) {
        qputenv("XDG_DATA_HOME", dir.toLocal8Bit());
    }
    ~DataHome() { qputenv("XDG_DATA_HOME", old); }
    QByteArray old;
};

// An installed program has no layout file beside it: the one in the user's data folder
// counts; one beside the program wins over it.
TEST(CardDump, LayoutFileBesideTheProgramThenInTheUserDataFolder) {
    Bench b(26);
    QDir(b.dir.path()).mkpath("data/kelvano");
    QDir(b.dir.path()).mkpath("bin");
    const DataHome home(b.path("data"));
    b.write("data/kelvano/kelvano.crd", "aa bb HI LO\r\n");
    b.io.CrdPath = b.path("bin/kelvano.crd");
    ASSERT_TRUE(b.io.OpenFile(b.write("custom.crd", "AA BB 12 34 01 02\r\n"), 3));
    EXPECT_EQ(b.devices.EepBuf[0x1234], 0x01);
    EXPECT_EQ(b.devices.EepBuf[0x1235], 0x02);

    b.write("bin/kelvano.crd", "aa bb LO HI\r\n");
    ASSERT_TRUE(b.io.OpenFile(b.path("custom.crd"), 3));
    EXPECT_EQ(b.devices.EepBuf[0x3412], 0x01);
    EXPECT_EQ(b.devices.EepBuf[0x1234], 0xFF);
}

}  // namespace
}  // namespace kelvano::test
