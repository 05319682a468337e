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
}  // namespace

int replaceFile(const QString& path, const QByteArray& data) {
    QString resolved = path;
    const QFileInfo link(path);
    if (link.isSymLink()) {
        resolved = link.canonicalFilePath();  // the last file of a chain of links
        if (resolved.isEmpty()) resolved = link.symLinkTarget();  // a link to a file yet to come
    }
    const QByteArray target = QFile::encodeName(resolved);

    struct stat old {};
    const bool exists = ::stat(target.constData(), &old) == 0;
    if (exists) {
        if (S_ISDIR(old.st_mode)) return EISDIR;
        if (!(old.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH))) return EACCES;
        // A device or a pipe is written to, never replaced by a file of the same name.
        if (!S_ISREG(old.st_mode)) {
            errno = 0;
            const int fd = ::open(target.constData(), O_WRONLY | O_CLOEXEC);
            if (fd < 0) return lastError();
            int error = writeAll(fd, data.constData(), data.size());
            if (::close(fd) != 0 && !error) error = lastError();
            return error;
        }
    }

    QByteArray tmpName;
    errno = 0;
    const int fd = createBeside(target, tmpName);
    if (fd < 0) return lastError();
    int error = 0;
    if (exists) {
        // The new file belongs to whom the old one did, where the system lets us say so.
        if (::fchown(fd, old.st_uid, old.st_gid) != 0) errno = 0;
        if (::fchmod(fd, old.st_mode & 07777) != 0) error = lastError();
    }
    if (!error) error = writeAll(fd, data.constData(), data.size());
    // The data must be on the disk before the name points at it; a full disk may show only here.
    if (!error && ::fsync(fd) != 0) error = lastError();
    if (::close(fd) != 0 && !error) error = lastError();
    if (!error && ::rename(tmpName.constData(), target.constData()) != 0) error = lastError();
    if (error) {
        ::unlink(tmpName.constData());
        return error;
    }
    // Make the rename itself last; a folder that cannot be flushed changes nothing above.
    const QByteArray folder = QFile::encodeName(QFileInfo(resolved).absolutePath());
    const int dirFd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
    return 0;
}

}  // namespace kelvano
