#include "session/SettingsLocation.h"

#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>
#include <QTemporaryFile>

namespace kelvano {

namespace {

// Writes the bytes of `from` to `to` in one step; false leaves no file at `to`.
bool copyAtomically(const QString& from, const QString& to) {
    QFile in(from);
    if (!in.open(QIODevice::ReadOnly)) return false;
    const QByteArray data = in.readAll();
    QSaveFile out(to);
    out.setDirectWriteFallback(false);
    if (!out.open(QIODevice::WriteOnly) || out.write(data) != data.size()) return false;
    return out.commit();
}

// Folders of the installed system and its packages: programs there are shared by every user.
bool systemFolder(const QString& canonicalDir) {
    static const char* const kSystem[] = {"/usr",   "/opt",   "/bin",    "/sbin", "/lib",
                                          "/lib32", "/lib64", "/libx32", "/etc",  "/var",
                                          "/snap",  "/nix",   "/gnu",    "/app"};
    for (const char* top : kSystem) {
        const QString t = QString::fromLatin1(top);
        if (canonicalDir == t || canonicalDir.startsWith(t + QLatin1Char('/'))) return true;
    }
    return canonicalDir == QLatin1String("/");
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

bool SettingsLocation::usersOwnFolder(const QString& dir) {
    if (dir.isEmpty()) return false;
    const QFileInfo info(dir);
    const QString canonical = info.canonicalFilePath();
    if (canonical.isEmpty() || !info.isDir() || systemFolder(canonical)) return false;
    return info.ownerId() == uint(geteuid()) && folderWritable(canonical);
}

SettingsLocation SettingsLocation::choose(const QString& programDir, const QString& userConfigDir) {
    return choose(programDir, userConfigDir, usersOwnFolder(programDir));
}

SettingsLocation SettingsLocation::choose(const QString& programDir, const QString& userConfigDir,
                                          bool programDirOwn) {
    SettingsLocation where;
    const QString beside = programDir.isEmpty() ? QString() : QDir(programDir).filePath(fileName());
    if (programDirOwn && !beside.isEmpty()) {
        where.file_ = beside;
        return where;
    }
    const QString userDir = userConfigDir.isEmpty() ? defaultUserFolder() : userConfigDir;
    QDir().mkpath(userDir);
    where.file_ = QDir(userDir).filePath(fileName());

    // The user's file, once there, is theirs: it is read and saved as it is.
    if (beside.isEmpty() || !QFileInfo(beside).isFile() || QFileInfo::exists(where.file_))
        return where;
    // When the copy cannot be made, the run starts from the defaults and its save reports the
    // refusal: the file beside the program is never the one saved.
    where.seeded_ = copyAtomically(beside, where.file_);
    return where;
}

}  // namespace kelvano
