#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "link/ImageStore.h"

using kelvano::ImageStore;

namespace {
void writeStore(const QString& path, const QByteArray& firmware) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly) &&
                f.write(ImageStore::pack({{"QXBASE", firmware}})) > 0);
}
}  // namespace

// An installed program finds the box maker's store in the system data folder, one in the
// user's data folder before it, and one beside the program before both.
TEST(ImageStore, ProgramStoreFromTheDataFoldersWhenNoneIsBesideTheProgram) {
    QTemporaryDir root;
    QDir(root.path()).mkpath("bin");
    QDir(root.path()).mkpath("home/kelvano");
    QDir(root.path()).mkpath("sys/kelvano");
    const QByteArray oldHome = qgetenv("XDG_DATA_HOME"), oldDirs = qgetenv("XDG_DATA_DIRS");
    qputenv("XDG_DATA_HOME", (root.path() + "/home").toLocal8Bit());
    qputenv("XDG_DATA_DIRS", (root.path() + "/sys").toLocal8Bit());
    const QString bin = root.path() + "/bin";
    QByteArray seen[3];
    writeStore(root.path() + "/sys/kelvano/kelvano.store", "system");
    ImageStore::programStore(bin).LoadImage("QXBASE", seen[0]);
    writeStore(root.path() + "/home/kelvano/kelvano.store", "user");
    ImageStore::programStore(bin).LoadImage("QXBASE", seen[1]);
    writeStore(bin + "/kelvano.store", "beside");
    ImageStore::programStore(bin).LoadImage("QXBASE", seen[2]);
    qputenv("XDG_DATA_HOME", oldHome);
    qputenv("XDG_DATA_DIRS", oldDirs);
    EXPECT_EQ(seen[0], "system");
    EXPECT_EQ(seen[1], "user");
    EXPECT_EQ(seen[2], "beside");
}
