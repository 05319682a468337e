#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "cli/CliRun.h"
#include "link/ImageStore.h"
#include "link/StoreWriter.h"

using kelvano::ImageStore;
using kelvano::StoreWriter;

TEST(ImageStore, PackedImagesComeBackScrambledAndByExactName) {
    QByteArray big(5000, '\0');
    for (int i = 0; i < big.size(); ++i) big[i] = char(i * 7 + 3);
    const QList<QPair<QString, QByteArray>> images{
        {"QXBASE", big}, {"FUNLOAD8", "abc"}, {"EMPTY", {}}};
    const ImageStore store(ImageStore::pack(images));
    EXPECT_EQ(store.names(), QStringList({"QXBASE", "FUNLOAD8", "EMPTY"}));
    QByteArray out;
    for (const auto& [name, image] : images)  // eight characters leave no NUL in the name field
        EXPECT_TRUE(store.LoadImage(name, out) && out == image) << name.toStdString();
    out = "keep";  // names match whole and case-sensitively; a miss changes nothing
    for (const char* miss : {"QXBAS", "qxbase", "QXBASEX", "FUNLOAD", ""})
        EXPECT_FALSE(store.LoadImage(miss, out)) << miss;
    EXPECT_EQ(out, "keep");
    EXPECT_FALSE(store.data().contains(big.mid(100, 64)));

    // A hand-built entry "QXUSB" of three bytes at 0x1234: with the state seeded by 0x1234 and
    // multiplied by the size 3, the stored bytes 12 36 A5 are three zeros.
    QByteArray data(0x1234 + 3, '\0');
    data[0] = 1;
    data.replace(2, 5, "QXUSB");
    data[14] = 0x34, data[15] = 0x12, data[18] = 3;
    data.replace(0x1234, 3, QByteArray::fromHex("1236A5"));
    EXPECT_TRUE(ImageStore(data).LoadImage("QXUSB", out) && out == QByteArray(3, '\0'));
}

TEST(ImageStore, DamagedAndUnpackableStores) {
    QByteArray out;
    // Cut short: the directory or the image runs past the end; nothing is read beyond it.
    const QByteArray good = ImageStore::pack({{"A", QByteArray(100, 'a')}, {"B", "bb"}});
    EXPECT_FALSE(ImageStore(good.left(30)).LoadImage("B", out));
    EXPECT_FALSE(ImageStore(good.left(good.size() - 1)).LoadImage("B", out));
    EXPECT_TRUE(ImageStore(good.left(good.size() - 2)).LoadImage("A", out));
    EXPECT_EQ(ImageStore::damage(good.left(30)),
              "its directory lists 2 entries but the file ends after 1 (30 bytes)");

    // A store file that is damaged, empty or unreadable gives no image at all, and says so
    // with the file's path, wherever it lies.
    QTemporaryDir dir;
    const QString cut = writeFile(dir, "cut.store", good.left(good.size() - 1));
    const QString empty = writeFile(dir, "empty.store", {});
    for (const auto& [path, problem] :
         {std::pair{cut,
                    " is damaged: the bytes of entry 2 (\"B\") lie beyond the end of the "
                    "file"},
          {empty, " is damaged: the file is empty"},
          {dir.filePath("none.store"), " cannot be read: No such file or directory"}}) {
        const ImageStore store = ImageStore::fromFile(path);
        EXPECT_EQ(store.problem(), "The image store " + path + problem);
        EXPECT_EQ(store.path(), path);
        out = "keep";
        EXPECT_FALSE(store.LoadImage("A", out) || store.LoadImage("B", out));
        EXPECT_EQ(out, "keep");
    }
    EXPECT_EQ(ImageStore::fromFile(writeFile(dir, "good.store", good)).problem(), "");

    // Two entries of one name (another tool's store): the name finds the first, each entry keeps
    // its bytes, the editor changes nothing (its message: test_cli_files).
    QByteArray twice = ImageStore::pack({{"PICLOAD", "first"}, {"PICLOAX", "second!"}});
    twice[2 + 20 + 6] = 'D';
    const ImageStore dup(twice);
    EXPECT_EQ(dup.names(), QStringList({"PICLOAD", "PICLOAD"}));
    EXPECT_TRUE(dup.LoadImage("PICLOAD", out) && out == "first");
    EXPECT_TRUE(dup.entryImage(1, out) && out == "second!");
    StoreWriter writer;
    QString error;
    ASSERT_TRUE(writer.read(twice, &error));
    EXPECT_FALSE(writer.put("PICLOAD", "third", &error) || writer.remove("PICLOAD") ||
                 writer.put("OTHER", "x", nullptr));
    // The empty name given twice is a duplicate as well (found by fuzz_store).
    QByteArray nameless = ImageStore::pack({{"A", "a"}, {"B", "b"}});
    nameless[2] = nameless[22] = '\0';
    ASSERT_TRUE(writer.read(nameless, &error));
    EXPECT_TRUE(writer.changeRefusal().startsWith("the store holds two entries without a name"))
        << writer.changeRefusal().toStdString();
    EXPECT_FALSE(writer.remove(""));
    // Names of 1 to 8 characters, each once, at most 255 images.
    QList<QPair<QString, QByteArray>> many;
    for (int i = 0; i < 256; ++i) many.append({QString::number(i), "x"});
    for (const auto& bad : {many, {{"NINECHARS", "x"}}, {{"", "x"}}, {{"A", "x"}, {"A", "y"}}})
        EXPECT_TRUE(ImageStore::pack(bad).isEmpty());
    EXPECT_EQ(ImageStore(ImageStore::pack(many.mid(0, 255))).names().size(), 255);
}

TEST(ImageStore, ProgramStoreIsTheFileBesideTheProgramOrTheBuiltInOneWithDemoLoaders) {
    // Built in: the USB marker and no made-up box firmware.
    const ImageStore builtIn(ImageStore::builtInData());
    QByteArray out;
    EXPECT_TRUE(builtIn.LoadImage("QXUSB", out) && !builtIn.LoadImage("QXBASE", out));
    // The card loaders built in are demo loaders, marked as such in their first bytes: AVR
    // images as text, PIC images one character per word 34cc.
    const QByteArray pic = QByteArray::fromHex("4B3445344C345634");
    for (const auto& [name, mark] :
         {std::pair{"FUNLOAD", QByteArray("KELVANO-SIM-DEMO-LOADER FUNLOAD")},
          {"AVRLOAD", "KELVANO-SIM-DEMO-LOADER AVRLOAD"},
          {"DS9LOAD", pic},
          {"PICLOAD", pic}})
        EXPECT_TRUE(builtIn.LoadImage(name, out) && ImageStore::isDemoImage(out) &&
                    out.startsWith(mark))
            << name;
    EXPECT_FALSE(ImageStore::isDemoImage(out.mid(1)));  // PICLOAD's characters in the high bytes
    EXPECT_FALSE(ImageStore::isDemoImage("KELVANO-SIM-DEMO-LOADEX FUNLOAD"));
    // A store file beside the program comes before the built-in one.
    QTemporaryDir dir;
    EXPECT_EQ(ImageStore::programStore(dir.path()).data(), builtIn.data());
    const QByteArray beside = ImageStore::pack({{"QXBASE", "beside"}});
    writeFile(dir, "kelvano.store", beside);
    EXPECT_EQ(ImageStore::programStore(dir.path()).data(), beside);
    // A damaged one there is not passed over for the built-in one.
    writeFile(dir, "kelvano.store", beside.left(10));
    const ImageStore damaged = ImageStore::programStore(dir.path());
    EXPECT_TRUE(damaged.data().isEmpty() && !damaged.LoadImage("QXUSB", out));
    EXPECT_TRUE(damaged.problem().startsWith("The image store " + dir.filePath("kelvano.store") +
                                             " is damaged: "))
        << damaged.problem().toStdString();
    // Nor is a folder of that name.
    QFile::remove(dir.filePath("kelvano.store"));
    QDir(dir.path()).mkdir("kelvano.store");
    EXPECT_EQ(ImageStore::programStore(dir.path()).problem(),
              "The image store " + dir.filePath("kelvano.store") + " is a folder, not a file");
}
