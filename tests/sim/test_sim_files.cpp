// The box's own reading of the image store, of image files for preloading, and of fault texts.
#include <gtest/gtest.h>

#include "sim/SimBox.h"
#include "sim/SimFault.h"
#include "sim/SimImageFile.h"

namespace kelvano {
namespace {

void put32(QByteArray& d, int at, quint32 v) {
    for (int i = 0; i < 4; ++i) d[at + i] = char(v >> (8 * i));
}

// A store as the program's packer lays it out: the state starts at the entry's offset,
// is multiplied by its size and advances with each stored byte.
QByteArray makeStore(const QList<QPair<QByteArray, QByteArray>>& entries, int gap = 0) {
    QByteArray store(2 + 20 * entries.size() + gap, '\0');
    store[0] = char(entries.size());
    for (int i = 0; i < entries.size(); ++i) {
        const QByteArray& plain = entries[i].second;
        const quint32 offset = quint32(store.size());
        store.replace(2 + 20 * i, 8, entries[i].first.leftJustified(8, '\0', true));
        put32(store, 2 + 20 * i + 12, offset);
        put32(store, 2 + 20 * i + 16, quint32(plain.size()));
        quint32 s = offset & 0xFFFF;
        const quint32 m = quint32(plain.size()) & 0xFFFF;
        for (char p : plain) {
            const quint32 c = uchar(p) ^ (s >> 8);
            store += char(c);
            s = ((s + c) * m) & 0xFFFF;
        }
    }
    return store;
}

TEST(SimStore, LoadersComeOutOfTheStoreUnscrambled) {
    const QByteArray pic = QByteArray::fromHex("8A3001280B00FF3F");
    const QByteArray fun(300, '\x5C');
    const QByteArray store = makeStore(
        {{"PICLOAD", pic}, {"FUNLOAD", fun}, {"LONGNAME", "abc"}, {"PICLOAD", "second"}}, 7);
    const QMap<QString, QByteArray> images = SimBox::loadersFromStore(store);
    EXPECT_EQ(images.size(), 3);
    EXPECT_EQ(images.value("PICLOAD"), pic);  // the first entry of a name wins
    EXPECT_EQ(images.value("FUNLOAD"), fun);
    EXPECT_EQ(images.value("LONGNAME"), "abc");
    EXPECT_NE(store.mid(store.size() - 6 - 3 - 300, 300), fun);  // really scrambled

    EXPECT_TRUE(SimBox::loadersFromStore(QByteArray(2, '\0')).isEmpty());
    EXPECT_TRUE(SimBox::loadersFromStore(QByteArray()).isEmpty());
    // Entries pointing past the end, or a count larger than the directory, are left out.
    QByteArray broken = store;
    put32(broken, 2 + 16, 100000);
    broken[0] = char(9);
    const QMap<QString, QByteArray> rest = SimBox::loadersFromStore(broken);
    EXPECT_EQ(rest.value("PICLOAD"), "second");
    EXPECT_EQ(rest.value("FUNLOAD"), fun);
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

}  // namespace
}  // namespace kelvano
