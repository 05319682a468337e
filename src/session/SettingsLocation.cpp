#include "session/SettingsLocation.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>
#include <QTemporaryFile>

namespace kelvano {

namespace {

// Replaces `to` with the bytes of `from` in one step; false leaves `to` as it was.
bool copyAtomically(const QString& from, const QString& to) {
    QFile in(from);
    if (!in.open(QIODevice::ReadOnly)) return false;
    const QByteArray data = in.readAll();
    QSaveFile out(to);
    out.setDirectWriteFallback(false);
    if (!out.open(QIODevice::WriteOnly) || out.write(data) != data.size()) return false;
    return out.commit();
}

}  // namespace

QString SettingsLocation::defaultUserFolder() {
    // Named here rather than after the application, so that the window and the terminal
    // (whose application names differ) share one file.
    return QDir(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation))
        .filePath(QStringLiteral("kelvano"));
}

bool SettingsLocation::folderWritable(const QString& dir) {
    if (dir.isEmpty()) return false;
    QTemporaryFile probe(QDir(dir).filePath(QStringLiteral("kelvano-XXXXXX.tmp")));
    return probe.open();
}

SettingsLocation SettingsLocation::choose(const QString& programDir, const QString& userConfigDir) {
    return choose(programDir, userConfigDir, folderWritable(programDir));
}

SettingsLocation SettingsLocation::choose(const QString& programDir, const QString& userConfigDir,
                                          bool programDirWritable) {
    SettingsLocation where;
    const QString beside = programDir.isEmpty() ? QString() : QDir(programDir).filePath(fileName());
    if (programDirWritable && !beside.isEmpty()) {
        where.file_ = beside;
        return where;
    }
    const QString userDir = userConfigDir.isEmpty() ? defaultUserFolder() : userConfigDir;
    QDir().mkpath(userDir);
    where.file_ = QDir(userDir).filePath(fileName());

    const QFileInfo programFile(beside), userFile(where.file_);
    if (beside.isEmpty() || !programFile.isFile()) return where;
    if (userFile.exists() && userFile.lastModified() >= programFile.lastModified()) return where;
    if (copyAtomically(beside, where.file_)) {
        where.tookProgramCopy_ = true;
    } else {
        // Nowhere to keep a copy: read the program's file; a save then reports the refusal.
        where.file_ = beside;
    }
    return where;
}

}  // namespace kelvano
