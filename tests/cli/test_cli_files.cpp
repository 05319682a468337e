// kelvano-cli's file commands, run as a process the way scripts run them.
#include <gtest/gtest.h>

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include "CliRun.h"
#include "device/uDevices.h"

namespace kelvano {
namespace {

QString data(const char* name) {
    return QStringLiteral(KELVANO_TEST_DATA "/") + QLatin1String(name);
}

TEST(CliFiles, CardsListsTheCatalogue) {
    const CliRun r = cli({"cards"});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    const QStringList lines = r.out.split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), static_cast<int>(catalogue().size()));
    for (int i = 0; i < lines.size(); ++i) {
        const TDeviceEntry& row = catalogue()[static_cast<size_t>(i)];
        const QStringList f = lines[i].split('\t');
        ASSERT_EQ(f.size(), 5) << lines[i].toStdString();
        EXPECT_EQ(f[0].toInt(), row.code);
        if (row.displayName) {
            EXPECT_EQ(f[1], QString::fromLatin1(row.displayName));
        }
        EXPECT_EQ(f[2].toInt(), row.flashWords);
        EXPECT_EQ(f[3].toInt(), row.internalEepromBytes);
        EXPECT_EQ(f[4].toInt(), row.externalEepromBytes);
    }
}

TEST(CliFiles, DumpPrintsTheGridsAndTheConfiguration) {
    CliRun r =
        cli({"--card", "10", "dump", "--load", "1=" + data("pic16f84_config_id_eeprom.hex")});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    QStringList lines = r.out.split('\n');
    ASSERT_EQ(lines.last(), "");
    lines.removeLast();
    ASSERT_EQ(lines.size(), 1 + 128 + 1 + 4 + 1 + 128 + 3);
    EXPECT_EQ(lines[0], "[FLASH]");
    EXPECT_EQ(lines[1], "0000:\t3041  008C  0A8C  2800  3FFF  3FFF  3FFF  3FFF  \tA.......");
    EXPECT_EQ(lines[129], "[DATA]");
    EXPECT_EQ(lines[130],
              "0000:\t4B 45 4C 56 41 4E 4F 00 A5 FF FF FF FF FF FF FF \tKELVANO.........");
    EXPECT_EQ(lines[134], "[EEPROM]");
    EXPECT_EQ(lines.mid(lines.size() - 3), QStringList({"[CONFIG]", "CfgWord=3FF1", "Id=1 2 3 4"}));

    // Files load in the order given: the second load of slot 3 wins where it has data.
    QTemporaryDir dir;
    QFile hex(dir.filePath("second.hex"));
    ASSERT_TRUE(hex.open(QIODevice::WriteOnly));
    hex.write(":0100000041BE\n");
    hex.close();
    r = cli({"--card", "31", "dump", "--load", "3=" + data("avr8515_flash.bin"), "--load",
             "3=" + hex.fileName()});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.contains(
        "[EEPROM]\n0000:\t41 FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF \tA...............\n"));
    EXPECT_TRUE(r.out.endsWith("[CONFIG]\nFuseLow=FF\nFuseHigh=FF\nLockByte=FF\n"));
    EXPECT_TRUE(r.out.startsWith("[FLASH]\n0000:\tFFFF  FFFF"));

    // An AVR card other than 31 has no configuration section.
    r = cli({"--card", "20", "dump"});
    ASSERT_EQ(r.code, 0);
    EXPECT_FALSE(r.out.contains("[CONFIG]"));
}

TEST(CliFiles, ConvertWritesTheSlotInTheChosenFormat) {
    QTemporaryDir dir;
    // --type bin plays the save dialog's second file type for a name without extension.
    CliRun r =
        cli({"--card", "20", "convert", "--load", "2=" + data("avr8515_flash_eeprom.eep.hex"),
             "--save", "2=" + dir.filePath("eeprom"), "--type", "bin"});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    const QByteArray bin = readAll(dir.filePath("eeprom.bin"));
    ASSERT_EQ(bin.size(), 512);
    EXPECT_EQ(bin.left(5), QByteArray("KELV\xFF"));
    EXPECT_EQ(bin.right(2), QByteArray("\x12\x34"));

    // Object file in, Intel HEX out, and back through a second convert.
    r = cli({"--card", "20", "convert", "--load", "1=" + data("avr8515_flash_eeprom.obj"), "--save",
             "1=" + dir.filePath("flash")});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    r = cli({"--card", "20", "convert", "--load", "1=" + dir.filePath("flash.hex"), "--save",
             "1=" + dir.filePath("flash.bin")});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_EQ(readAll(dir.filePath("flash.bin")), readAll(data("avr8515_flash.bin")));
}

TEST(CliFiles, FailuresPrintTheErrorTextAndSetTheExitStatus) {
    QTemporaryDir dir;
    QFile bad(dir.filePath("bad.hex"));
    ASSERT_TRUE(bad.open(QIODevice::WriteOnly));
    bad.write("; comment\n:0100000041BF\n");
    bad.close();
    CliRun r = cli({"--card", "26", "dump", "--load", "3=" + bad.fileName()});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.out.isEmpty());
    EXPECT_EQ(r.err, "File: " + bad.fileName() +
                         "\n\nError in Hexfile, Line #2\n:0100000041BF\n(Wrong checksum)\n");

    r = cli({"--card", "10", "convert", "--load", "1=" + dir.filePath("missing.bin"), "--save",
             "1=x.hex"});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, "I/O-Error #2\nNo such file or directory\n");
    EXPECT_FALSE(QFile::exists("x.hex"));

    // A write that fails is a failure of the command, though the window counts it as saved.
    r = cli({"--card", "10", "convert", "--load", "2=" + data("avr8515_flash.bin"), "--save",
             "2=" + dir.filePath("no/folder/out.hex")});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.err.startsWith("I/O-Error #2\n"));

    // Slot 3 of a PIC card holds nothing to save.
    r = cli({"--card", "10", "convert", "--load", "1=" + data("pic16f84_config_id_eeprom.hex"),
             "--save", "3=" + dir.filePath("slot3.hex")});
    EXPECT_EQ(r.code, 1);
    EXPECT_FALSE(QFile::exists(dir.filePath("slot3.hex")));

    for (const QStringList& usage : {QStringList{"--card", "10", "convert", "--load", "1=a.hex"},
                                     QStringList{"--card", "10", "convert", "--save", "1=a.hex"},
                                     QStringList{"--card", "10", "convert", "--load", "1=a.hex",
                                                 "--save", "1=b", "--type", "srec"},
                                     QStringList{"--card", "10", "dump", "--save", "1=a.hex"}}) {
        r = cli(usage);
        EXPECT_EQ(r.code, 2) << usage.join(' ').toStdString();
        EXPECT_TRUE(r.out.isEmpty());
    }

    r = cli({"--help"});
    EXPECT_EQ(r.code, 0);
    for (const char* option :
         {"cards", "dump", "convert", "--load SLOT=FILE", "--save SLOT=FILE", "--type hex|bin"})
        EXPECT_TRUE(r.out.contains(QLatin1String(option))) << option;
}

}  // namespace
}  // namespace kelvano
