#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include "link/ImageStore.h"

using kelvano::ImageStore;

namespace {

QByteArray bytes(std::initializer_list<int> list) {
    QByteArray b;
    for (int v : list) b.append(char(v));
    return b;
}

}  // namespace

TEST(ImageStore, PackedImagesComeBackByExactName) {
    const QByteArray loader = bytes({0x00, 0xFF, 0x10, 0x20, 0x7E, 0x80});
    QByteArray big(5000, '\0');
    for (int i = 0; i < big.size(); ++i) big[i] = char(i * 7 + 3);
    const ImageStore store(ImageStore::pack(
        {{"PICLOAD", loader}, {"QXBASE", big}, {"FUNLOAD8", bytes({1, 2, 3})}, {"EMPTY", {}}}));

    EXPECT_EQ(store.names(), QStringList({"PICLOAD", "QXBASE", "FUNLOAD8", "EMPTY"}));
    QByteArray out;
    ASSERT_TRUE(store.LoadImage("PICLOAD", out));
    EXPECT_EQ(out, loader);
    ASSERT_TRUE(store.LoadImage("QXBASE", out));
    EXPECT_EQ(out, big);
    // A name of all eight characters has no NUL in its field and still matches.
    ASSERT_TRUE(store.LoadImage("FUNLOAD8", out));
    EXPECT_EQ(out, bytes({1, 2, 3}));
    ASSERT_TRUE(store.LoadImage("EMPTY", out));
    EXPECT_TRUE(out.isEmpty());

    // Names match whole and case-sensitively; a miss leaves the output alone.
    out = "keep";
    EXPECT_FALSE(store.LoadImage("QXBAS", out));
    EXPECT_FALSE(store.LoadImage("qxbase", out));
    EXPECT_FALSE(store.LoadImage("QXBASEX", out));
    EXPECT_FALSE(store.LoadImage("FUNLOAD", out));
    EXPECT_FALSE(store.LoadImage("", out));
    EXPECT_EQ(out, "keep");

    // The bytes are stored scrambled, not as they are.
    EXPECT_FALSE(store.data().contains(big.mid(100, 64)));
}

TEST(ImageStore, ScramblingFollowsTheStoredBytesFromTheOffsetSeed) {
    // A hand-built store: one entry "QXUSB" whose three bytes sit at 0x1234. With the state
    // seeded by 0x1234 and multiplied by the size 3, the stored bytes 12 36 A5 are three zeros.
    QByteArray data(0x1234 + 3, '\0');
    data[0] = 1;
    data.replace(2, 5, "QXUSB");
    data[14] = 0x34;
    data[15] = 0x12;
    data[18] = 3;
    data[0x1234] = char(0x12);
    data[0x1235] = char(0x36);
    data[0x1236] = char(0xA5);
    QByteArray out;
    ASSERT_TRUE(ImageStore(data).LoadImage("QXUSB", out));
    EXPECT_EQ(out, QByteArray(3, '\0'));

    // The same image at another offset is stored differently: the offset seeds the state.
    const QByteArray image = bytes({0x55, 0x55, 0x55, 0x55});
    const QByteArray one = ImageStore::pack({{"A", image}});
    const QByteArray two = ImageStore::pack({{"LONGNAME", QByteArray(300, 'x')}, {"A", image}});
    EXPECT_NE(one.right(4), two.right(4));
    ASSERT_TRUE(ImageStore(two).LoadImage("A", out));
    EXPECT_EQ(out, image);
}

TEST(ImageStore, EmptyDamagedAndUnpackableStores) {
    QByteArray out = "x";
    EXPECT_FALSE(ImageStore().LoadImage("QXUSB", out));
    EXPECT_FALSE(ImageStore(ImageStore::pack({})).LoadImage("QXUSB", out));
    EXPECT_EQ(ImageStore::pack({}).size(), 2);

    // A store cut short: the directory or the image runs past the end. Nothing is read
    // beyond the data.
    const QByteArray good = ImageStore::pack({{"A", QByteArray(100, 'a')}, {"B", "bb"}});
    EXPECT_FALSE(ImageStore(good.left(30)).LoadImage("B", out));
    EXPECT_FALSE(ImageStore(good.left(good.size() - 1)).LoadImage("B", out));
    EXPECT_TRUE(ImageStore(good.left(good.size() - 2)).LoadImage("A", out));
    EXPECT_EQ(out, QByteArray(100, 'a'));

    EXPECT_TRUE(ImageStore::pack({{"NINECHARS", "x"}}).isEmpty());
    EXPECT_TRUE(ImageStore::pack({{"", "x"}}).isEmpty());
    QList<QPair<QString, QByteArray>> many;
    for (int i = 0; i < 256; ++i) many.append({QString::number(i), "x"});
    EXPECT_TRUE(ImageStore::pack(many).isEmpty());
    many.removeLast();
    EXPECT_EQ(ImageStore(ImageStore::pack(many)).names().size(), 255);
}

TEST(ImageStore, ProgramStoreIsBuiltInUnlessAFileSitsBesideTheProgram) {
    // The built-in store carries the USB marker and no made-up box firmware.
    const ImageStore builtIn(ImageStore::builtInData());
    QByteArray out;
    EXPECT_TRUE(builtIn.LoadImage("QXUSB", out));
    EXPECT_FALSE(out.isEmpty());
    EXPECT_FALSE(builtIn.LoadImage("QXBASE", out));

    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    EXPECT_EQ(ImageStore::programStore(dir.path()).data(), builtIn.data());

    QFile f(QDir(dir.path()).filePath(ImageStore::storeFileName()));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(ImageStore::pack({{"QXBASE", "firmware bytes"}}));
    f.close();
    const ImageStore beside = ImageStore::programStore(dir.path());
    ASSERT_TRUE(beside.LoadImage("QXBASE", out));
    EXPECT_EQ(out, "firmware bytes");
    EXPECT_FALSE(beside.LoadImage("QXUSB", out));
}

TEST(ImageStore, PackingToolWritesAStoreTheProgramReads) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString a = dir.filePath("a.bin"), b = dir.filePath("b.bin"), out = dir.filePath("o.store");
    QByteArray firstImage(1000, '\0');
    for (int i = 0; i < firstImage.size(); ++i) firstImage[i] = char(i % 251);
    for (const auto& [name, data] : {std::pair{a, firstImage}, std::pair{b, QByteArray("second")}}) {
        QFile f(name);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(data);
    }
    const QString tool = QStringLiteral(KELVANO_BIN_DIR "/kelvano-packstore");
    EXPECT_EQ(QProcess::execute(tool, {"-o", out, "AVRLOAD=" + a, "DS9LOAD=" + b}), 0);
    QFile f(out);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const ImageStore store(f.readAll());
    QByteArray image;
    ASSERT_TRUE(store.LoadImage("AVRLOAD", image));
    EXPECT_EQ(image, firstImage);
    ASSERT_TRUE(store.LoadImage("DS9LOAD", image));
    EXPECT_EQ(image, "second");

    // Bad input is refused with a failing status.
    QProcess p;
    p.start(tool, {"-o", out, "TOOLONGNAME=" + a});
    p.waitForFinished();
    EXPECT_EQ(p.exitCode(), 1);
    EXPECT_NE(QProcess::execute(tool, {"-o", out, "X=" + dir.filePath("missing")}), 0);
}
