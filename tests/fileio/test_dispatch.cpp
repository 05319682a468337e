#include <gtest/gtest.h>

#include <QProcess>
#include <QStandardPaths>
#include <random>

#include "Recorders.h"

namespace kelvano::test {
namespace {

TEST(Dispatch, ChoosesTheFormatByExtension) {
    Bench b(10);
    const QByteArray hex = ":0100000041BE\r\n:00000001FF\r\n";
    EXPECT_TRUE(b.io.OpenFile(b.write("UPPER.HEX", hex), 2));
    EXPECT_TRUE(b.io.OpenFile(b.write("x.ee", hex), 2));  // a fragment of ".eep"
    EXPECT_EQ(b.devices.EepBuf[0], 0x41);
    EXPECT_FALSE(b.io.OpenFile(b.write("x.hx8", hex), 2));
    EXPECT_FALSE(b.io.OpenFile(b.write("noext", hex), 2));
    EXPECT_EQ(b.host.errors, QStringList({"File type error!", "File type error!"}));

    b.host.errors.clear();
    EXPECT_TRUE(b.io.SaveFile(b.path("a.eep"), 2, 2));
    EXPECT_TRUE(b.io.SaveFile(b.path("a.h8"), 2, 2));
    EXPECT_TRUE(b.read("a.eep").startsWith(":10000000"));
    EXPECT_EQ(b.read("a.h8"), b.read("a.eep"));
    EXPECT_FALSE(b.io.SaveFile(b.path("a.obj"), 2, 1));
    EXPECT_FALSE(b.io.SaveFile(b.path("a.crd"), 2, 1));
    EXPECT_FALSE(b.io.SaveFile(b.path("plain"), 2, 3));
    EXPECT_EQ(b.host.errors, QStringList({"Can't save file of this type: .obj",
                                          "Can't save file of this type: .crd",
                                          "Can't save file of this type: "}));
    EXPECT_FALSE(QFile::exists(b.path("a.obj")) || QFile::exists(b.path("a.crd")) ||
                 QFile::exists(b.path("plain")));
}

TEST(Dispatch, PicProgramImageFillsFlashEepromIdsAndConfiguration) {
    // gpasm output (line feeds, an extended linear address record) and the same data
    // re-blocked by srec_cat into one 18-byte EEPROM record.
    for (const char* name :
         {"pic16f84_config_id_eeprom.hex", "pic16f84_32byte_records_linear.hex"}) {
        SCOPED_TRACE(name);
        Bench b(10);
        ASSERT_TRUE(b.io.OpenFile(testData(name), 1));
        EXPECT_EQ(b.devices.ProgBuf[0], 0x3041);
        EXPECT_EQ(b.devices.ProgBuf[0x100], 0x347F);
        EXPECT_EQ(b.devices.ProgBuf[0x3FF], 0x3FFF);
        EXPECT_EQ(b.devices.DataBuf[0], 'K');
        EXPECT_EQ(b.devices.DataBuf[8], 0xA5);
        EXPECT_EQ(b.devices.IdBuf, TBufArray({1, 2, 3, 4, 0x0F}));
        EXPECT_EQ(b.devices.CfgWord, 0x3FF1);
        EXPECT_EQ(b.fuses.pic84.osc, 1);  // XT
        EXPECT_EQ(b.devices.pGrid.hex(0), "3041  008C  0A8C  2800  3FFF  3FFF  3FFF  3FFF  ");
        EXPECT_EQ(b.view.pages, std::vector<int>{1});
    }

    // The 16F876 cards take all 256 EEPROM bytes and refresh their own page.
    Bench c(11);
    ASSERT_TRUE(c.io.OpenFile(testData("pic16f876_config_eeprom.hex"), 1));
    EXPECT_EQ(c.devices.DataBuf[64], 0xFE);
    EXPECT_EQ(c.devices.DataBuf[65], 0xEF);
    EXPECT_EQ(c.devices.CfgWord, 0x3F39);
    EXPECT_EQ(c.fuses.pic876.id[1], "A");

    // A file without ID and configuration records erases both.
    ASSERT_TRUE(c.io.OpenFile(c.write("plain.hex", ":0100000041BE\r\n"), 1));
    EXPECT_EQ(c.devices.IdBuf[0], 0x0F);
    EXPECT_EQ(c.devices.CfgWord, 0x3FFF);
}

TEST(Dispatch, AvrProgramFileUpdatesOnlyTheEepromBytesItCarries) {
    Bench b(20);
    b.devices.DataBuf[1] = 0x99;
    ASSERT_TRUE(b.io.OpenFile(testData("avr8515_flash_eeprom.hex"), 1));
    EXPECT_EQ(b.devices.ProgBuf[0], 0xE401);
    EXPECT_EQ(b.devices.ProgBuf[0xFFF], 0xC000);
    EXPECT_EQ(b.devices.DataBuf[1], 0x99);  // the program area alone leaves the EEPROM
    ASSERT_TRUE(b.io.OpenFile(testData("avr8515_flash_with_eeprom_behind.hex"), 1));
    EXPECT_EQ(b.devices.DataBuf[0], 0x4B);
    EXPECT_EQ(b.devices.DataBuf[0x1FF], 0x34);
    EXPECT_EQ(b.devices.DataBuf[0x100], 0xFF);
    EXPECT_TRUE(b.view.pages.empty());

    ASSERT_TRUE(b.io.OpenFile(testData("avr8515_flash_eeprom.eep.hex"), 2));
    EXPECT_EQ(b.devices.DataBuf[0x1FE], 0x12);
    ASSERT_TRUE(b.io.OpenFile(testData("avr8515_flash.bin"), 3));
    EXPECT_EQ(b.devices.EepBuf[0], 0x01);
    EXPECT_EQ(b.view.pages, std::vector<int>{2});
}

// Fills every buffer of the selected card with a pattern, the PIC values included.
void scramble(Bench& b, unsigned seed) {
    std::mt19937 rng(seed);
    TDevices& d = b.devices;
    const bool pic = isPicCode(d.DeviceId);
    for (int i = 0; i < d.ProgBuf.length(); ++i)
        d.ProgBuf[i] = static_cast<uint16_t>(rng() & (pic ? 0x3FFF : 0xFFFF));
    for (int i = 0; i < d.DataBuf.length(); ++i) d.DataBuf[i] = static_cast<uint16_t>(rng() & 0xFF);
    for (int i = 0; i < d.EepBuf.length(); ++i) d.EepBuf[i] = static_cast<uint16_t>(rng() & 0xFF);
    for (int k = 0; k < 4; ++k) d.IdBuf[k] = static_cast<uint16_t>(rng() & 0x0F);
    b.fuses.pic84.osc = b.fuses.pic876.fosc = 2;
    b.fuses.pic84.wdt = b.fuses.pic876.wdte = true;
    b.fuses.pic876.cp = 1;
}

TEST(Dispatch, EverySlotOfEveryCardRoundTripsThroughBothFormats) {
    for (const TDeviceEntry& row : catalogue()) {
        const bool pic = isPicCode(row.code);
        for (int slot = 1; slot <= (pic ? 2 : 3); ++slot) {
            for (const char* ext : {".hex", ".bin"}) {
                SCOPED_TRACE(testing::Message() << "card " << row.code << " slot " << slot << ext);
                Bench b(row.code);
                scramble(b, static_cast<unsigned>(row.code * 10 + slot));
                const QString file = b.path(QStringLiteral("image") + ext);
                ASSERT_TRUE(b.io.SaveFile(file, slot, 1));
                struct {
                    TBufArray ProgBuf, DataBuf, EepBuf, IdBuf;
                    uint16_t CfgWord;
                } const saved{b.devices.ProgBuf, b.devices.DataBuf, b.devices.EepBuf,
                              b.devices.IdBuf, b.devices.CfgWord};
                b.devices.ApplyBuffers();
                ASSERT_TRUE(b.io.OpenFile(file, slot));
                EXPECT_TRUE(b.host.errors.isEmpty()) << b.host.errors.join('|').toStdString();
                if (slot == 1) {
                    EXPECT_EQ(b.devices.ProgBuf, saved.ProgBuf);
                }
                if (slot == 1 && pic) {  // the PIC image carries EEPROM, IDs and the CfgWord the
                                         // fuse page formed
                    EXPECT_EQ(b.devices.DataBuf, saved.DataBuf);
                    EXPECT_EQ(b.devices.CfgWord, saved.CfgWord);
                    for (int k = 0; k < 4; ++k) EXPECT_EQ(b.devices.IdBuf[k], saved.IdBuf[k]);
                }
                if (slot == 2 && !pic) {
                    EXPECT_EQ(b.devices.DataBuf, saved.DataBuf);
                }
                if (slot == 3 || (slot == 2 && pic)) {
                    EXPECT_EQ(b.devices.EepBuf, saved.EepBuf);
                }
            }
        }
    }
}

TEST(Dispatch, SrecordReadsWhatWeWrite) {
    const QString srec = QStandardPaths::findExecutable("srec_cat");
    if (srec.isEmpty())
        GTEST_SKIP()
            << "srec_cat is not installed; the check that srecord reads our HEX files is skipped";
    for (int code : {10, 11, 26}) {
        SCOPED_TRACE(code);
        Bench b(code);
        scramble(b, 7);
        const int slot = code == 26 ? 3 : 1;
        ASSERT_TRUE(b.io.SaveFile(b.path("out.hex"), slot, 1));
        ASSERT_TRUE(b.io.SaveFile(b.path("out.bin"), slot, 1));
        const QByteArray ours = b.read("out.bin");
        QProcess p;
        p.start(srec, {b.path("out.hex"), "-intel", "-fill", "0xFF", "0",
                       QString::number(ours.size()), "-o", b.path("srec.bin"), "-binary"});
        ASSERT_TRUE(p.waitForFinished(30000));
        ASSERT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
        EXPECT_TRUE(b.read("srec.bin") == ours);
    }
}

TEST(Dispatch, ASecondLoadWaitsForTheFirst) {
    Bench b(26);
    QByteArray big;
    for (int i = 0; i < 200; ++i) big += ":0100000041BE\n";
    const QString file = b.write("big.hex", big);
    int nested = -1;  // the event pump tries a second load once, in the middle of the first
    b.host.onPump = [&] {
        if (nested < 0) nested = b.io.OpenFile(file, 3);
    };
    EXPECT_TRUE(b.io.OpenFile(file, 3));
    EXPECT_EQ(nested, 0);
    EXPECT_EQ(b.host.errors, QStringList{"A file is still being loaded or saved."});
    EXPECT_EQ(b.devices.EepBuf[0], 0x41);
}

}  // namespace
}  // namespace kelvano::test
