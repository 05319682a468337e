#include <gtest/gtest.h>

#include "Recorders.h"
#include "fileio/FileCompare.h"

using namespace kelvano;
using namespace kelvano::test;

// A PIC file against blank buffers: every memory of slot 1 with its own runs, the
// configuration at its own addresses, and the window's buffers, labels and pages untouched.
TEST(FileCompare, PicFileAgainstBlankBuffersLeavesTheBuffersAlone) {
    Bench b(10);
    b.devices.DataBuf[2] = 0x4C;  // already what the file holds there
    const TBufArray flashBefore = b.devices.ProgBuf, dataBefore = b.devices.DataBuf;
    const auto r = compareWithFile(b.devices, testData("pic16f84_config_id_eeprom.hex"), 1, b.host);
    ASSERT_TRUE(r.has_value());
    EXPECT_EQ(r->diffLines(),
              "flash 0000-0003 4 3FFF3FFF3FFF3FFF 3041008C0A8C2800\n"
              "flash 0100-0100 1 3FFF 347F\n"
              "data 0000-0001 2 FFFF 4B45\n"
              "data 0003-0008 6 FFFFFFFFFFFF 56414E4F00A5\n"
              "config 2000-2003 4 000F000F000F000F 0001000200030004\n"
              "config 2007-2007 1 3FFF 3FF1\n");
    EXPECT_EQ(b.devices.ProgBuf, flashBefore);
    EXPECT_EQ(b.devices.DataBuf, dataBefore);
    EXPECT_EQ(b.devices.CfgWord, 0x3FFF);
    EXPECT_TRUE(b.view.pages.empty());
    EXPECT_TRUE(b.host.errors.isEmpty());
    // A file that does not load gives no report, and says why.
    EXPECT_FALSE(compareWithFile(b.devices, b.write("bad.hex", ":10000000ZZ\n"), 1, b.host));
    EXPECT_EQ(b.host.errors.size(), 1);
}
