// kelvano-cli's file commands, run as a process the way scripts run them. The store it writes
// is what the program's store reader reads, and what it refuses leaves the store alone.
#include <gtest/gtest.h>

#include <QDir>

#include "CliRun.h"
#include "link/ImageStore.h"

namespace kelvano {
namespace {

TEST(CliFiles, CardsListsTheCatalogue) {
    const CliRun r = cli({"cards"});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    const QStringList lines = r.out.split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 15);
    EXPECT_EQ(lines[0], "15\tPIC/Goldwafer (PIC16F84 + 24C16)\t1024\t64\t2048");
    EXPECT_EQ(lines[4], "11\tPIC-Card 2 (PIC16F876 + 24C64)\t8192\t256\t8192");
    EXPECT_EQ(lines[12], "26\tAVR-Fun 5 (AT90S8515 + 24C512)\t4096\t512\t65536");
    // The type no action handles is marked, for scripts.
    EXPECT_EQ(lines[14], "30\tATMega161 + 24C64\t8192\t512\t8192\tno action handles this type");
    const CliRun json = cli({"cards", "--json"});
    EXPECT_TRUE(json.out.startsWith(R"({"cards":[{"actions":true,"code":15,)"));
    EXPECT_TRUE(json.out.endsWith(R"({"actions":false,"code":30,"externalEepromBytes":8192,)"
                                  R"("flashWords":8192,"internalEepromBytes":512,)"
                                  R"("name":"ATMega161 + 24C64"}],"status":0})"
                                  "\n"))
        << json.out.toStdString();
    EXPECT_EQ(json.err, r.out);  // the human text on standard error
}

TEST(CliFiles, DumpPrintsTheGridsAndConvertWritesTheSlotInTheChosenFormat) {
    CliRun r =
        cli({"--card", "10", "dump", "--load", "1=" + data("pic16f84_config_id_eeprom.hex")});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    QStringList lines = r.out.split('\n');
    ASSERT_EQ(lines.takeLast(), "");
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
    r = cli({"--card", "31", "dump", "--load", "3=" + data("avr8515_flash.bin"), "--load",
             "3=" + writeFile(dir, "second.hex", ":0100000041BE\n:00000001FF\n")});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.contains(
        "[EEPROM]\n0000:\t41 FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF \tA...............\n"));
    EXPECT_TRUE(r.out.endsWith("[CONFIG]\nFuseLow=FF\nFuseHigh=FF\nLockByte=FF\n"));
    EXPECT_FALSE(cli({"--card", "20", "dump"}).out.contains("[CONFIG]"));  // AVR, not 31

    // convert: --type bin plays the save dialog's second file type for a name without extension.
    r = cli({"--card", "20", "convert", "--load", "2=" + data("avr8515_flash_eeprom.eep.hex"),
             "--save", "2=" + dir.filePath("eeprom"), "--type", "bin"});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    const QByteArray bin = readAll(dir.filePath("eeprom.bin"));
    ASSERT_EQ(bin.size(), 512);
    EXPECT_EQ(bin.left(5), QByteArray("KELV\xFF"));
    EXPECT_EQ(bin.right(2), QByteArray("\x12\x34"));

    // Object file in, Intel HEX out, and back through a second convert.
    r = cli({"--card", "20", "convert", "--load", "1=" + data("avr8515_flash_eeprom.obj"), "--save",
             "1=" + dir.filePath("flash")});
    r = cli({"--card", "20", "convert", "--load", "1=" + dir.filePath("flash.hex"), "--save",
             "1=" + dir.filePath("flash.bin")});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_EQ(readAll(dir.filePath("flash.bin")), readAll(data("avr8515_flash.bin")));
}

TEST(StoreCommand, AddsListsExtractsRemovesAndRefusesWhatTheProgramCouldNotUse) {
    QTemporaryDir dir;
    const QString store = writeFile(dir, "kelvano.store", {});  // an empty file that an add fills
    auto run = [&](const QStringList& args) {
        return cli(QStringList{"store", "--store", store} + args);  // a later --store wins
    };
    QByteArray fun(2000, '\0');
    for (int i = 0; i < fun.size(); ++i) fun[i] = char(i * 13 + 1);
    ASSERT_EQ(run({"add", "FUNLOAD", writeFile(dir, "fun.bin", fun)}).code, 0);
    // Intel HEX: 5 bytes at 0 and FF behind them, cut after the last byte that is not FF and
    // made a whole number of words.
    const CliRun added =
        run({"add", "AVRLOAD",
             writeFile(dir, "avr.hex", ":080000000C94112233FFFFFFF5\n:00000001FF\n")});
    ASSERT_EQ(added.code, 0) << qPrintable(added.err);
    EXPECT_EQ(added.out, "Added \"AVRLOAD\" (6 bytes) in " + store + "\n");

    ASSERT_EQ(run({"add", "QXUSB", writeFile(dir, "usb.bin", "usb")}).code, 0);
    const ImageStore loaded(readAll(store));
    QByteArray out;
    EXPECT_TRUE(loaded.LoadImage("FUNLOAD", out) && out == fun);
    EXPECT_TRUE(loaded.LoadImage("AVRLOAD", out) && out == QByteArray::fromHex("0C94112233FF"));
    EXPECT_TRUE(loaded.LoadImage("QXUSB", out) && out == "usb");
    EXPECT_FALSE(readAll(store).contains(fun.mid(0, 16)));  // stored scrambled

    EXPECT_EQ(run({"list"}).out,
              store +
                  ": 3 entries\n"
                  "FUNLOAD    2000 bytes  EEPROM loader of card types 21 20 24 25 26 31\n"
                  "AVRLOAD       6 bytes  EEPROM loader of card types 22 23\n"
                  "QXUSB         3 bytes  needed for the USB box (contents unused)\n");
    ASSERT_EQ(run({"extract", "FUNLOAD", dir.filePath("back.bin")}).code, 0);
    EXPECT_EQ(readAll(dir.filePath("back.bin")), fun);
    ASSERT_EQ(run({"remove", "QXUSB"}).code, 0);
    EXPECT_TRUE(run({"list"}).out.startsWith(store + ": 2 entries\nFUNLOAD "));
    EXPECT_FALSE(ImageStore(readAll(store)).LoadImage("QXUSB", out));

    // What the program could not use is refused, and the store left as it is.
    ASSERT_EQ(run({"add", "PICLOAD", writeFile(dir, "ok.bin", QByteArray(2048, 0x3F))}).code, 0);
    QByteArray before = readAll(store);
    auto refused = [&](const QStringList& args, int code, const QString& error) {
        const CliRun r = run(args);
        EXPECT_EQ(r.code, code) << qPrintable(args.join(' '));
        EXPECT_EQ(r.err, "kelvano-cli: store: " + error + "\n") << qPrintable(r.err);
        EXPECT_EQ(readAll(store), before);
    };
    refused({"add", "EEPLOADER", writeFile(dir, "a.bin", "ab")}, 2,
            "the name \"EEPLOADER\" is longer than 8 characters\n(see kelvano-cli --help)");
    const QString b = writeFile(dir, "b.bin", QByteArray(2049, 1)),
                  c = writeFile(dir, "c.bin", QByteArray(21, 1)), e = writeFile(dir, "e.bin", {});
    // Card type 15 has 1024 words of program memory.
    refused({"add", "PICLOAD", b}, 1,
            b + " holds 2049 bytes: the loader \"PICLOAD\" must fit the program memory of card "
                "type 15 (2048 bytes)");
    refused({"add", "QXBASE", c}, 1,
            c + " holds 21 bytes: a QXBASE firmware image holds 22 to 32768 bytes");
    refused({"add", "DS9LOAD", e}, 1, e + " holds no bytes");
    refused({"remove", "QXUSB"}, 1, "no entry \"QXUSB\" in " + store);
    refused({"add", "PICLOAD"}, 2, "store add takes NAME FILE\n(see kelvano-cli --help)");
    // A store named on the command line must be there, as a file that holds a store.
    const QString missing = dir.filePath("typo.store"), empty = writeFile(dir, "empty.store", {}),
                  folder = dir.filePath("folder.store");
    QDir(dir.path()).mkdir("folder.store");
    refused({"list", "--store", missing}, 1, missing + " does not exist");
    refused({"list", "--store", empty}, 1, empty + " is damaged: the file is empty");
    refused({"list", "--store", folder}, 1, folder + " is a folder, not a file");

    // A damaged store file is not overwritten with what could be read of it.
    before.chop(1);
    QFile(store).resize(before.size());
    refused({"add", "AVRLOAD", writeFile(dir, "d.bin", "dd")}, 1,
            store +
                " is damaged: the bytes of entry 3 (\"PICLOAD\") lie beyond the end of the "
                "file");

    // Two entries of one name, from another tool: listed each with its own size, never changed.
    before = ImageStore::pack({{"PICLOAD", "4444"}, {"PICLOAX", "666666"}});
    before[2 + 20 + 6] = 'D';
    writeFile(dir, "kelvano.store", before);
    EXPECT_TRUE(run({"list"}).out.endsWith(
        "PICLOAD       4 bytes  EEPROM loader of card types 15\n"
        "PICLOAD       6 bytes  never used: a second entry of this name\n"));
    const QString twice = store +
                          " is left as it is: the store holds two entries named \"PICLOAD\" (it "
                          "was not made by kelvano-cli): changing one of them would leave the "
                          "other, or replace the wrong one";
    refused({"add", "PICLOAD", writeFile(dir, "p.bin", "pp")}, 1, twice);
    refused({"remove", "PICLOAD"}, 1, twice);
}

}  // namespace
}  // namespace kelvano
