#include "cli/SaveTarget.h"

#include <sys/stat.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <cstdio>

#include "base/QuietHost.h"
#include "device/FusePages.h"
#include "device/uDevices.h"
#include "fileio/uFileio.h"

namespace kelvano {

namespace {

// A name that is there and is neither a file nor a folder: a character device, a FIFO, a
// socket (/dev/stdout leads to one of them).
bool isStream(const QString& name) {
    struct stat st {};
    if (stat(QFile::encodeName(name).constData(), &st) != 0) return false;
    return !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode);
}

}  // namespace

QString typeExtension(const QString& type) {
    const QString t = type.toLower();
    if (t == QLatin1String("hex")) return QStringLiteral(".hex");
    if (t == QLatin1String("bin")) return QStringLiteral(".bin");
    if (t == QLatin1String("srec")) return QStringLiteral(".s19");
    return {};
}

SaveTarget::SaveTarget(const QString& name, const QString& type) : path_(name) {
    QString typed = typeExtension(type);
    if (typed.isEmpty()) typed = QStringLiteral(".hex");
    if (name == QLatin1String("-")) {
        kind_ = Kind::StandardOutput;
        extension_ = typed;
    } else if (isStream(name)) {
        kind_ = Kind::Stream;
        extension_ = typed;
    } else {
        extension_ = TFileIo::Extension(name);
        if (extension_.isEmpty()) {
            extension_ = typed;
            path_ += typed;
        }
    }
}

QString SaveTarget::problem(int card, int slot) const {
    {
        // The type and the slot: the card type's blank slot written to a scratch file of the
        // same type, by the writers the save itself uses.
        QuietHost quiet;
        TDevices devices;
        devices.DeviceId = card;
        devices.ApplyBuffers(nullptr, false);
        FuseModel fuses;
        TFileIo io(quiet, devices, fuses, nullptr);
        QTemporaryDir dir;
        if (!io.SaveFile(dir.filePath(QStringLiteral("probe") + extension_), slot, 1) &&
            !quiet.errors.isEmpty())
            return quiet.errors.constFirst();
    }
    if (kind_ == Kind::StandardOutput) return {};
    const QFileInfo info(path_);
    if (kind_ == Kind::Stream)
        return info.isWritable() ? QString() : QStringLiteral("%1 cannot be written").arg(path_);
    const QFileInfo folder(info.absolutePath());
    if (!folder.isDir())
        return QStringLiteral("the folder %1 does not exist").arg(folder.filePath());
    if (!folder.isWritable())
        return QStringLiteral("the folder %1 cannot be written to").arg(folder.filePath());
    if (info.isDir() || (info.exists() && !info.isWritable()))
        return QStringLiteral("%1 cannot be written").arg(path_);
    return {};
}

bool SaveTarget::write(TFileIo& io, int slot) const {
    if (kind_ == Kind::File) return io.SaveFile(path_, slot, 1);
    // The writers write files: the slot goes to a file of its type first, then as it is to
    // standard output or the device.
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("slot") + extension_);
    if (!dir.isValid() || !io.SaveFile(file, slot, 1)) return false;
    QFile written(file);
    if (!written.open(QIODevice::ReadOnly)) return false;
    const QByteArray bytes = written.readAll();
    QFile out;
    const bool open = kind_ == Kind::StandardOutput
                          ? out.open(stdout, QIODevice::WriteOnly, QFileDevice::DontCloseHandle)
                          : (out.setFileName(path_), out.open(QIODevice::WriteOnly));
    if (!open || out.write(bytes) != bytes.size() || !out.flush()) {
        io.ShowError(
            QStringLiteral("Can't write %1: %2")
                .arg(kind_ == Kind::StandardOutput ? QStringLiteral("standard output") : path_,
                     out.errorString()));
        return false;
    }
    return true;
}

}  // namespace kelvano

namespace kelvano {

bool loadSource(TFileIo& io, const QString& name, int slot, const QString& type) {
    if (name != QLatin1String("-")) return io.OpenFile(name, slot);
    QFile in;
    if (!in.open(stdin, QIODevice::ReadOnly, QFileDevice::DontCloseHandle)) return false;
    const QByteArray bytes = in.readAll();
    QTemporaryDir dir;
    const QString typed = typeExtension(type);
    const QString file = dir.filePath(QStringLiteral("standard-input") +
                                      (typed.isEmpty() ? QStringLiteral(".hex") : typed));
    QFile copy(file);
    if (!dir.isValid() || !copy.open(QIODevice::WriteOnly) || copy.write(bytes) != bytes.size())
        return false;
    copy.close();
    return io.OpenFile(file, slot);
}

}  // namespace kelvano
