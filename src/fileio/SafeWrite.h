#pragma once
#include <QByteArray>
#include <QString>

namespace kelvano {

// Replaces the file `path` by `data` so that it holds either its old contents or all of
// `data`, never a part: the bytes go to a new file in the same folder, which is flushed to
// the disk and then renamed over the old one. A failure anywhere (no room on the disk, an
// I/O error, a folder that takes no new file) removes the new file and leaves the old one
// as it was. The new file takes the old one's owner and permission bits; a symbolic link is
// followed, so the file it points to is replaced and the link stays. A device or a pipe is
// written to in place. A file whose write permission
// bits are all cleared is refused as read-only, also for a user the system would let
// replace it.
//
// Returns 0, or the errno value of the step that failed.
int replaceFile(const QString& path, const QByteArray& data);

}  // namespace kelvano
