// Where the data files are found: beside the program, then the user's data folder, then the
// system data folders, then the installation prefix.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "base/DataFiles.h"

using namespace kelvano;

namespace {

// A program folder, a user data folder and two system data folders, all temporary, with
// XDG_DATA_HOME and XDG_DATA_DIRS pointing at them while the rig lives.
class DataRig {
public:
    DataRig() : oldHome_(qgetenv("XDG_DATA_HOME")), oldDirs_(qgetenv("XDG_DATA_DIRS")) {
        for (const char* d :
             {"prefix/bin", "prefix/share/kelvano", "home/kelvano", "sys1/kelvano", "sys2/kelvano"})
            QDir(root_.path()).mkpath(QString::fromLatin1(d));
        qputenv("XDG_DATA_HOME", path("home").toLocal8Bit());
        qputenv("XDG_DATA_DIRS", (path("sys1") + ':' + path("sys2")).toLocal8Bit());
    }
    ~DataRig() {
        qputenv("XDG_DATA_HOME", oldHome_);
        qputenv("XDG_DATA_DIRS", oldDirs_);
    }
    DataRig(const DataRig&) = delete;
    DataRig& operator=(const DataRig&) = delete;

    QString path(const QString& rel) const { return root_.path() + '/' + rel; }
    QString program() const { return path("prefix/bin"); }
    void put(const QString& rel) {
        QFile f(path(rel));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("x");
    }
    void drop(const QString& rel) { ASSERT_TRUE(QFile::remove(path(rel))); }

private:
    QTemporaryDir root_;
    QByteArray oldHome_, oldDirs_;
};

}  // namespace

// Removing the file from each folder in turn uncovers the next one; each name is looked up on
// its own; a folder is no file; without a program folder the lookup starts at the user's.
TEST(DataFiles, TheFirstFolderHoldingTheFileWins) {
    DataRig rig;
    const QString name = QStringLiteral("kelvano.store");
    const char* const order[] = {"prefix/bin", "home/kelvano", "sys1/kelvano", "sys2/kelvano",
                                 "prefix/share/kelvano"};
    for (const char* d : order) rig.put(QString::fromLatin1(d) + "/kelvano.store");
    rig.put("home/kelvano/kelvano.crd");
    EXPECT_EQ(findDataFile(QString(), name), rig.path("home/kelvano/kelvano.store"));
    for (const char* d : order) {
        const QString expected = rig.path(QString::fromLatin1(d) + "/kelvano.store");
        EXPECT_EQ(findDataFile(rig.program(), name), expected);
        rig.drop(QString::fromLatin1(d) + "/kelvano.store");
    }
    EXPECT_EQ(findDataFile(rig.program(), name), QString());
    EXPECT_EQ(findDataFile(rig.program(), "kelvano.crd"), rig.path("home/kelvano/kelvano.crd"));
    EXPECT_EQ(findDataFile(rig.path("prefix"), "bin"), QString());
}
