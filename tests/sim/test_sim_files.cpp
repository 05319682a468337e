// The box's own reading of the image store, of image files for preloading, and of fault texts.
#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

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
    const QByteArray hex =
        ":0400000001300228A1\n"
        ":020000040000FA\n"
        ":084000000100020003000400AE\n"
        ":02400E00F13F80\n"
        ":044200005500440021\n"
        ":00000001FF\n";
    ASSERT_TRUE(parseIntelHex(hex, image, &error)) << error.toStdString();
    SimCard pic(10);
    ASSERT_TRUE(loadCardSlot(pic, 1, image));
    // Program words, ID locations and configuration word at 0x2000+, data bytes at 0x2100+.
    EXPECT_EQ(QList<int>({pic.flash[0], pic.flash[1], pic.flash[2], pic.picId[3], pic.picConfig}),
              QList<int>({0x3001, 0x2802, 0x3FFF, 0x0004, 0x3FF1}));
    EXPECT_EQ(QList<int>({pic.data[0], pic.data[1], pic.data[2]}), QList<int>({0x55, 0x44, 0xFF}));
    EXPECT_FALSE(loadCardSlot(pic, 3, image));

    EXPECT_FALSE(parseIntelHex(":0400000001300228A2\n", image, &error));
    EXPECT_TRUE(error.contains("line 1")) << error.toStdString();
    EXPECT_FALSE(parseIntelHex("\n:04000000013G0228A1\n", image, &error));
    EXPECT_TRUE(error.contains("line 2")) << error.toStdString();

    // AVR slot 1: flash words, then the data EEPROM bytes behind the flash that are not 0xFF.
    QTemporaryDir dir;
    QByteArray bin(2 * 1024 + 4, '\xFF');
    bin[0] = char(0x0C);
    bin[1] = char(0x94);
    bin[2 * 1024 + 2] = char(0x77);
    QFile file(dir.filePath("avr.bin"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bin);
    file.close();
    ASSERT_TRUE(readImageFile(file.fileName(), image, &error));
    SimCard avr(22);
    avr.data[0] = 0x11;
    ASSERT_TRUE(loadCardSlot(avr, 1, image));
    EXPECT_EQ(avr.flash[0], 0x940C);
    EXPECT_EQ(avr.data[0], 0x11);
    EXPECT_EQ(avr.data[2], 0x77);
    ASSERT_TRUE(loadCardSlot(avr, 3, image));
    EXPECT_EQ(avr.eeprom[1], 0x94);
    EXPECT_FALSE(readImageFile(dir.filePath("missing.hex"), image, &error));
}

TEST(SimFaultText, ParsesTheOptionSyntax) {
    const auto late = SimFault::parse("late=250,on=Y,at=3,times=0");
    ASSERT_TRUE(late);
    EXPECT_TRUE(late->kind == SimFault::Kind::LateFirstByte && late->delayMs == 250 &&
                late->family == "Y" && late->at == 3 && late->times == 0);
    EXPECT_EQ(SimFault::parse("missalive")->family, "*");
    EXPECT_EQ(SimFault::parse("noanswer,on=0a")->family, "0A");
    EXPECT_EQ(SimFault::parse("pullcard,at=100")->at, 100);

    QString error;
    for (const char* bad : {"", "explode", "late", "late=x", "short=3", "noanswer,at=0",
                            "noanswer,times=-1", "noanswer,when=3"}) {
        EXPECT_FALSE(SimFault::parse(bad, &error)) << bad;
        EXPECT_FALSE(error.isEmpty());
    }
}

}  // namespace
}  // namespace kelvano
