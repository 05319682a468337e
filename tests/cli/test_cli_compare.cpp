// kelvano-cli compare as scripts run it: the report or its lines on standard output, the status.
#include <gtest/gtest.h>

#include "CliRun.h"
#include "sim/BoxsimWaits.h"

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
}

// A card whose controller is locked: what it keeps to itself is "not compared", status 3, on
// every path (1 stays for differences and failed reads).
TEST(CliCompare, AProtectedAvrCardIsPartialOnEveryPath) {
    QTemporaryDir dir;
    const QString flash = writeFile(dir, "f.hex", ":0400000001020304F2\n:00000001FF\n");
    const Boxsim box({"--card", "20"});
    const QStringList card =
        QStringList{"--port", box.pty, "--card", "20", "--no-wait", "--load", "1=" + flash} +
        kelvano::test::boxsimWaits();
    // Programmed with both lock bits (the default of --lock-bits).
    const CliRun program = cli(card + QStringList{"--memories", "prog,config", "--yes", "program"});
    ASSERT_EQ(program.code, 0) << program.err.toStdString();

    const QString eeprom = writeFile(dir, "e.hex", ":0100100042AD\n:00000001FF\n");
    const struct {
        QStringList args;
        int code;
        QString out;
    } paths[] = {
        // The loader question answered Abort: the controller's read stops at its protection.
        {{"compare"},
         3,
         "Program Memory: not compared (not read: AVR-Device is protected! Can't read, verify or "
         "blank check the device.)\n"
         "Data Memory: not compared (not read: AVR-Device is protected! Can't read, verify or "
         "blank check the device.)\n"
         "EEPROM Memory: not compared (reading it needs the loader in place of the controller's "
         "program; not agreed)\n"
         "Nothing was compared.\n"},
        {{"--memories", "prog", "compare", "--diff-format"}, 3, "skipped flash\n"},
        // The loader agreed to: the controller is left out, the EEPROM compared (last: the
        // loader takes the controller's place).
        {{"--yes", "compare", "--diff-format"}, 3, "skipped flash\nskipped data\n"},
        // A difference in what could be compared is a difference.
        {{"--yes", "--load", "3=" + eeprom, "compare", "--diff-format"},
         1,
         "eeprom 0010-0010 1 42 FF\nskipped flash\nskipped data\n"},
    };
    for (const auto& p : paths) {
        const CliRun r = cli(card + p.args);
        EXPECT_EQ(r.code, p.code) << p.args.join(' ').toStdString() << r.err.toStdString();
        EXPECT_EQ(r.out, p.out);
    }
}
