#include "base/DataFiles.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace kelvano {

namespace {
const QString kFolder = QStringLiteral("kelvano");

void addFolder(QStringList& folders, const QString& dir) {
    if (dir.isEmpty()) return;
    const QString clean = QDir::cleanPath(dir);
    if (!folders.contains(clean)) folders.append(clean);
}
}  // namespace

QStringList dataFileFolders(const QString& programDir) {
    QStringList folders;
    addFolder(folders, programDir);
    // The generic locations, not the per-application ones: the two programs have different
    // application names but read the same files.
    const QStringList generic =
        QStandardPaths::standardLocations(QStandardPaths::GenericDataLocation);
    for (const QString& base : generic) addFolder(folders, QDir(base).filePath(kFolder));
    if (!programDir.isEmpty())
        addFolder(folders, QDir(programDir).filePath(QStringLiteral("../share/") + kFolder));
    return folders;
}

QString findDataFile(const QString& programDir, const QString& name) {
    for (const QString& folder : dataFileFolders(programDir)) {
        QString path = QDir(folder).filePath(name);
        if (QFileInfo(path).isFile()) return path;
    }
    return {};
}

}  // namespace kelvano
