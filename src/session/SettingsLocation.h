#pragma once
#include <QString>

namespace kelvano {

// Where the settings file "kelvano.ini" of a run lives.
//
// Beside the program only when it runs from a folder of the user's own: a portable copy
// unpacked in the home folder or on a stick, in a folder the user owns and may write, and not
// in a folder of the system (/usr, /opt, ...), whoever runs it. Otherwise the user's
// configuration folder holds the file that is read and saved. A "kelvano.ini" beside such a
// program (put there by an installer or an administrator) seeds the user's file when the user
// has none yet; it is never copied over a file the user has.
class SettingsLocation {
public:
    static QString fileName() { return QStringLiteral("kelvano.ini"); }

    // The user's folder of the program's settings: "kelvano" in the user's configuration
    // folder (~/.config/kelvano on Linux).
    static QString defaultUserFolder();
    // `userConfigDir` empty: defaultUserFolder().
    static SettingsLocation choose(const QString& programDir, const QString& userConfigDir = {});
    // The same decision with the verdict of usersOwnFolder() given, so that tests can take
    // both paths whoever runs them.
    static SettingsLocation choose(const QString& programDir, const QString& userConfigDir,
                                   bool programDirOwn);

    // The folder belongs to the user running the program, who may write in it, and lies
    // outside the folders of the system. The superuser owns /usr/bin, yet a program
    // installed there never keeps its settings beside itself.
    static bool usersOwnFolder(const QString& dir);
    // Creating a file is the only reliable test: permission bits, access lists, read-only
    // mounts and immutable folders all have their say.
    static bool folderWritable(const QString& dir);

    QString file() const { return file_; }  // read and saved during the run
    // The user had no settings file: the one beside the program has been copied there.
    bool seededFromProgram() const { return seeded_; }

private:
    QString file_;
    bool seeded_ = false;
};

}  // namespace kelvano
