#pragma once
#include <QString>
#include <QStringList>

namespace kelvano {

// The folders a data file of the program (the box maker's image store, the card dump layouts)
// is looked for in, in this order:
//   1. the program's own folder (`programDir`; skipped when empty),
//   2. the user's data folder: $XDG_DATA_HOME/kelvano, usually ~/.local/share/kelvano,
//   3. the system data folders: $XDG_DATA_DIRS/kelvano, usually /usr/local/share/kelvano and
//      /usr/share/kelvano,
//   4. share/kelvano under the prefix the program was installed to (`programDir`/../share),
//      when that is not one of the above.
// The desktop program and the terminal program share these folders.
QStringList dataFileFolders(const QString& programDir);

// The first existing file named `name` in dataFileFolders(programDir), or an empty string.
QString findDataFile(const QString& programDir, const QString& name);

}  // namespace kelvano
