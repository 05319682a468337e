#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "base/DataFiles.h"

using namespace kelvano;

// Beside the program, then the user's data folder, the system data folders, the installation
// prefix: removing the file from each in turn uncovers the next one. Each name is looked up on
// its own; a folder is no file; without a program folder the lookup starts at the user's.
TEST(DataFiles, TheFirstFolderHoldingTheFileWins) {
    QTemporaryDir root;
    const auto path = [&](const QString& rel) { return root.path() + '/' + rel; };
    const QString order[] = {"prefix/bin", "home/kelvano", "sys1/kelvano", "sys2/kelvano",
                             "prefix/share/kelvano"};
    for (const QString& d : order) {
        ASSERT_TRUE(QDir().mkpath(path(d)));
        ASSERT_TRUE(QFile(path(d + "/kelvano.store")).open(QIODevice::WriteOnly));
    }
    ASSERT_TRUE(QFile(path("home/kelvano/kelvano.crd")).open(QIODevice::WriteOnly));
    const QByteArray oldHome = qgetenv("XDG_DATA_HOME"), oldDirs = qgetenv("XDG_DATA_DIRS");
    qputenv("XDG_DATA_HOME", path("home").toLocal8Bit());
    qputenv("XDG_DATA_DIRS", (path("sys1") + ':' + path("sys2")).toLocal8Bit());
    const QString program = path("prefix/bin"), name = "kelvano.store";
    EXPECT_EQ(findDataFile(QString(), name), path("home/kelvano/kelvano.store"));
    for (const QString& d : order) {
        EXPECT_EQ(findDataFile(program, name), path(d + "/kelvano.store"));
        ASSERT_TRUE(QFile::remove(path(d + "/kelvano.store")));
    }
    EXPECT_EQ(findDataFile(program, name), QString());
    EXPECT_EQ(findDataFile(program, "kelvano.crd"), path("home/kelvano/kelvano.crd"));
    EXPECT_EQ(findDataFile(path("prefix"), "bin"), QString());
    qputenv("XDG_DATA_HOME", oldHome);
    qputenv("XDG_DATA_DIRS", oldDirs);
}
