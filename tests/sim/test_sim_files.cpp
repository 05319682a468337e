#include <gtest/gtest.h>

#include <QtEndian>

#include "sim/SimBox.h"
#include "sim/SimFault.h"
#include "sim/SimImageFile.h"

using namespace kelvano;

// Built by hand as the program's packer lays a store out: three bytes at 0x1234 stored as
// 12 36 A5, which the state seeded by the offset and multiplied by the size turns into zeros.
TEST(SimStore, LoadersComeOutOfTheStoreUnscrambled) {
    QByteArray store(0x1234 + 3, '\0');
    store.replace(0x1234, 3, QByteArray::fromHex("1236A5"));
    const auto entry = [&](qsizetype i, const QByteArray& name, quint32 offset, quint32 size) {
        store.replace(2 + 20 * i, int(name.size()), name);
        qToLittleEndian(offset, store.data() + 2 + 20 * i + 12);
        qToLittleEndian(size, store.data() + 2 + 20 * i + 16);
    };
    entry(0, "PICLOAD", 0x1234, 3);
    entry(1, "PICLOAD", 0x1235, 2);  // the first entry of a name wins
    entry(2, "LONGNAME", 0x1234, 1);
    entry(3, "FUNLOAD", 0x1230, 8);  // past the end: left out
    store[0] = 4;
    const QMap<QString, QByteArray> images{{"PICLOAD", QByteArray(3, '\0')},
                                           {"LONGNAME", QByteArray(1, '\0')}};
    EXPECT_EQ(SimBox::loadersFromStore(store), images);
    store[0] = 9;  // a count larger than the directory
    EXPECT_EQ(SimBox::loadersFromStore(store).value("PICLOAD"), images.value("PICLOAD"));
    EXPECT_TRUE(SimBox::loadersFromStore(QByteArray(2, '\0')).isEmpty());
    EXPECT_TRUE(SimBox::loadersFromStore(QByteArray()).isEmpty());
}

TEST(SimImage, HexAndBinaryFilesFillTheCardAsTheSlotsLayThemOut) {
    QByteArray image;
    QString error;
    ASSERT_TRUE(readImageFile(KELVANO_TEST_DATA "/pic16f84_config_id_eeprom.hex", image, &error));
    SimCard pic(10);
    ASSERT_TRUE(loadCardSlot(pic, 1, image));
    // Program words; ID locations at 0x4000, configuration word at 0x400E, data at 0x4200 + 2e.
    EXPECT_EQ(QList<int>({pic.flash[0], pic.flash[3], pic.flash[0x100], pic.picId[3], pic.picConfig,
                          pic.data[0], pic.data[8], pic.data[9]}),
              QList<int>({0x3041, 0x2800, 0x347F, 4, 0x3FF1, 0x4B, 0xA5, 0xFF}));
    EXPECT_FALSE(loadCardSlot(pic, 3, image));

    // AVR slot 1: flash words, then the EEPROM bytes behind the flash that are not 0xFF.
    ASSERT_TRUE(
        readImageFile(KELVANO_TEST_DATA "/avr8515_flash_with_eeprom_behind.hex", image, &error));
    SimCard avr(20);
    avr.data[4] = 0x11;
    ASSERT_TRUE(loadCardSlot(avr, 1, image));
    EXPECT_EQ(
        QList<int>({avr.flash[0], avr.flash[0xFFF], avr.data[3], avr.data[4], avr.data[0x1FF]}),
        QList<int>({0xE401, 0xC000, 0x56, 0x11, 0x34}));
    // A binary file from byte 0; slots 2 and 3 take it byte for byte.
    ASSERT_TRUE(readImageFile(KELVANO_TEST_DATA "/avr8515_flash.bin", image, &error));
    ASSERT_TRUE(loadCardSlot(avr, 2, image) && loadCardSlot(avr, 3, image));
    EXPECT_TRUE(avr.data[1] == 0xE4 && avr.eeprom[2] == 0x08 && avr.eeprom[0x1FFF] == 0xC0);

    for (const auto& [text, message] :
         {std::pair{":0400000001300228A2\n", "line 1: checksum error"},
          {"\n:04000000013G0228A1\n", "line 2: not hexadecimal"},
          {":0500000001300228A1\n", "line 1: wrong record length"},
          {"0400000001300228A1\n", "line 1: not an Intel HEX record"}}) {
        EXPECT_FALSE(parseIntelHex(text, image, &error));
        EXPECT_EQ(error, message);
    }
    EXPECT_FALSE(readImageFile(KELVANO_TEST_DATA "/missing.hex", image, &error));
}

// What the options do is seen in the box's answers (test_sim_serial.cpp); here the spelling.
TEST(SimFaultText, ParsesTheOptionSyntax) {
    EXPECT_EQ(SimFault::parse("noanswer,on=0a")->family, "0A");

    QString error;
    for (const char* bad : {"", "explode", "late", "late=x", "short=3", "noanswer,at=0",
                            "noanswer,times=-1", "noanswer,when=3"}) {
        EXPECT_FALSE(SimFault::parse(bad, &error)) << bad;
        EXPECT_FALSE(error.isEmpty());
    }
}
