#pragma once
#include <QString>

namespace kelvano {

class TFileIo;

// The file extension of a --type word (hex, bin, srec, in any case); empty for another word.
QString typeExtension(const QString& type);

// What a file name on the command line means as a place to write a slot to, in one place for
// every command that saves: "-" is standard output; a device or a pipe (/dev/stdout, a FIFO)
// is written as it is named, never given an extension; any other name is a file that gets the
// extension of --type (hex, bin or srec) when it has none.
class SaveTarget {
public:
    enum class Kind { File, StandardOutput, Stream };

    // `type`: "hex" or "bin".
    SaveTarget(const QString& name, const QString& type);

    Kind kind() const { return kind_; }
    // The path written: the file name with its extension, or the device as named.
    QString path() const { return path_; }
    // Why `slot` of card type `card` cannot be written there, checked without touching the
    // target: a folder that is missing or not writable, a file that is read-only, a file type
    // that is not written, a slot the card type does not have. Empty when it can be.
    QString problem(int card, int slot) const;
    // Writes `slot`; false when it was not written (the error has been shown).
    bool write(TFileIo& io, int slot) const;
    // The format's extension (".hex", ".bin", ...) the writer is chosen by.
    QString extension() const { return extension_; }

private:
    Kind kind_ = Kind::File;
    QString path_;
    QString extension_;
};

}  // namespace kelvano

namespace kelvano {

// --load SLOT=NAME: "-" reads standard input as a file of --type; any other
// name is opened as the window opens it. False when nothing was loaded (the error shown).
bool loadSource(TFileIo& io, const QString& name, int slot, const QString& type);

}  // namespace kelvano
