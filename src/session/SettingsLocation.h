#pragma once
#include <QString>

namespace kelvano {

// Where the settings file "kelvano.ini" of a run lives.
//
// Beside the program when its folder is writable. Otherwise the user's configuration folder
// holds the file that is read and saved; a "kelvano.ini" beside the program (put there by the
// user or an installer) still counts: when it is newer than the user's file, or the user has
// none yet, it is copied there at start, so the newer of the two is the one read, and the
// user's file keeps everything the program does not own.
class SettingsLocation {
public:
    static QString fileName() { return QStringLiteral("kelvano.ini"); }

    // The user's folder of the program's settings: "kelvano" in the user's configuration
    // folder (~/.config/kelvano on Linux).
    static QString defaultUserFolder();
    // `userConfigDir` empty: defaultUserFolder().
    static SettingsLocation choose(const QString& programDir, const QString& userConfigDir = {});
    // The same decision with the folder's writability given (a process run by the superuser
    // can write everywhere, so tests cannot otherwise take that path).
    static SettingsLocation choose(const QString& programDir, const QString& userConfigDir,
                                   bool programDirWritable);

    // Creating a file is the only reliable test: permission bits, access lists, read-only
    // mounts and immutable folders all have their say.
    static bool folderWritable(const QString& dir);

    QString file() const { return file_; }  // read and saved during the run
    // The file beside the program was newer and has been copied to the user's folder.
    bool tookProgramCopy() const { return tookProgramCopy_; }

private:
    QString file_;
    bool tookProgramCopy_ = false;
};

}  // namespace kelvano
