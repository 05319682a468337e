// kelvano-cli compare, run as a process the way scripts run it: the report or the run lines on
// standard output, and the exit status.
#include <gtest/gtest.h>

#include "CliRun.h"

namespace {

const QString kPicHex = QStringLiteral(KELVANO_TEST_DATA "/pic16f84_config_id_eeprom.hex");

}  // namespace

TEST(CliCompare, WithAFileExitsZeroOnlyWhenNothingDiffers) {
    const CliRun same = cli({"--card", "10", "--load", "1=" + kPicHex, "compare", "1=" + kPicHex});
    EXPECT_EQ(same.code, 0) << same.err.toStdString();
    EXPECT_TRUE(same.out.endsWith("No differences.\n")) << same.out.toStdString();

    const CliRun differs = cli({"--card", "10", "compare", "1=" + kPicHex, "--diff-format"});
    EXPECT_EQ(differs.code, 1);
    EXPECT_TRUE(differs.out.startsWith("flash 0000-0003 4 3FFF3FFF3FFF3FFF 3041008C0A8C2800\n"))
        << differs.out.toStdString();

    EXPECT_EQ(cli({"--card", "10", "compare"}).code, 2);
    EXPECT_EQ(cli({"--card", "10", "compare", "4=" + kPicHex}).code, 2);
    EXPECT_EQ(cli({"--card", "10", "--port", "SIM", "compare", "1=" + kPicHex}).code, 2);
    EXPECT_EQ(cli({"--card", "10", "compare", "1=/nonexistent/x.hex"}).code, 1);
}

TEST(CliCompare, WithTheCardInTheSimulatedBox) {
    QTemporaryDir dir;
    QByteArray eeprom(8192, '\xFF');
    eeprom[0x100] = 0x42;

    // A blank card against blank buffers, then against buffers that hold one byte more.
    const CliRun blank = cli({"--port", "SIM", "--card", "13", "--no-wait", "compare"});
    EXPECT_EQ(blank.code, 0) << blank.err.toStdString();
    const CliRun one = cli({"--port", "SIM", "--card", "13", "--no-wait", "--load",
                            "2=" + writeFile(dir, "eep.bin", eeprom), "compare", "--diff-format"});
    EXPECT_EQ(one.code, 1) << one.err.toStdString();
    EXPECT_EQ(one.out, "eeprom 0100-0100 1 42 FF\n");

    // A loader card with nobody to agree to the loader: the controller is compared, the
    // EEPROM is not, and the status says that something was left out.
    const CliRun loader = cli({"--port", "SIM", "--card", "11", "--no-wait", "compare"});
    EXPECT_EQ(loader.code, 3) << loader.err.toStdString();
    EXPECT_TRUE(loader.out.contains("Program Memory: no differences in 8192 addresses\n"));
    EXPECT_TRUE(
        loader.out.contains("EEPROM Memory: not compared (reading it needs the loader in place of "
                            "the controller's program; not agreed)\n"))
        << loader.out.toStdString();
}
