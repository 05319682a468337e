#include "fileio/SafeWrite.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <cerrno>

namespace kelvano {

namespace {
int lastError() { return errno ? errno : EIO; }

// Creates a new file beside `target` with a name of its own; the umask applies to its mode.
int createBeside(const QByteArray& target, QByteArray& tmpName) {
    for (int attempt = 0; attempt < 16; ++attempt) {
        tmpName = target + ".tmp-" + QByteArray::number(QRandomGenerator::global()->generate(), 36);
        const int fd = ::open(tmpName.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    errno = EEXIST;
    return -1;
}

int writeAll(int fd, const char* p, qsizetype n) {
    while (n > 0) {
        const ssize_t w = ::write(fd, p, static_cast<size_t>(n));
        if (w < 0) {
            if (errno == EINTR) continue;
            return lastError();
        }
        if (w == 0) return EIO;
        p += w;
        n -= w;
    }
    return 0;
}

// The file a name stands for: the last file of a chain of links, or the target of a link to a
// file yet to come; the name itself when it is no link.
QString followLinks(const QString& path) {
    const QFileInfo link(path);
    if (!link.isSymLink()) return path;
    const QString resolved = link.canonicalFilePath();
    return resolved.isEmpty() ? link.symLinkTarget() : resolved;
}

int writeInPlace(const QByteArray& target, const QByteArray& data) {
    errno = 0;
    const int fd = ::open(target.constData(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) return lastError();
    int error = writeAll(fd, data.constData(), data.size());
    if (::close(fd) != 0 && !error) error = lastError();
    return error;
}

// Writes the data to a new file beside `target` and renames it over the target. The new file
// belongs to whom the old one (`old`, null when there is none) did, where the system lets us
// say so. On failure the new file is removed and the target is as it was.
int writeAndRename(const QByteArray& target, const struct stat* old, const QByteArray& data) {
    QByteArray tmpName;
    errno = 0;
    const int fd = createBeside(target, tmpName);
    if (fd < 0) return lastError();
    int error = 0;
    if (old) {
        if (::fchown(fd, old->st_uid, old->st_gid) != 0) errno = 0;
        if (::fchmod(fd, old->st_mode & 07777) != 0) error = lastError();
    }
    if (!error) error = writeAll(fd, data.constData(), data.size());
    // The data must be on the disk before the name points at it; a full disk may show only here.
    if (!error && ::fsync(fd) != 0) error = lastError();
    if (::close(fd) != 0 && !error) error = lastError();
    if (!error && ::rename(tmpName.constData(), target.constData()) != 0) error = lastError();
    if (error) ::unlink(tmpName.constData());
    return error;
}

// Makes a rename in the folder of `file` last; a folder that cannot be flushed changes nothing.
void syncFolder(const QString& file) {
    const QByteArray folder = QFile::encodeName(QFileInfo(file).absolutePath());
    const int dirFd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
}

}  // namespace

int replaceFile(const QString& path, const QByteArray& data) {
    const QString resolved = followLinks(path);
    const QByteArray target = QFile::encodeName(resolved);

    struct stat old {};
    const bool exists = ::stat(target.constData(), &old) == 0;
    if (exists) {
        if (S_ISDIR(old.st_mode)) return EISDIR;
        if (!(old.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH))) return EACCES;
        // A device or a pipe is written to, never replaced by a file of the same name.
        if (!S_ISREG(old.st_mode)) return writeInPlace(target, data);
    }
    if (const int error = writeAndRename(target, exists ? &old : nullptr, data)) return error;
    syncFolder(resolved);
    return 0;
}

}  // namespace kelvano
