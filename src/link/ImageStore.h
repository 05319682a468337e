#pragma once
#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

namespace kelvano {

// The store of loader and firmware images: a small directory followed by the scrambled
// images. Layout (little-endian): byte 0 the entry count N, byte 1 unused, then N entries of
// 20 bytes from offset 2: name (8 bytes, NUL padded), 4 unused bytes, offset of the stored
// bytes, size. Each image is scrambled with a running 16-bit state seeded by its own offset
// and multiplied by its own size.
class ImageStore {
public:
    ImageStore() = default;
    explicit ImageStore(QByteArray data) : data_(std::move(data)) {}

    // The store in the file `path`. A file that cannot be read or is damaged (see damage())
    // gives a store that finds no image and says why in problem().
    static ImageStore fromFile(const QString& path);

    // The store the program uses: a store file (see storeFileName) beside the program or in
    // the data folders (see dataFileFolders) where there is one, else the one built into the
    // program. A folder of that name where the file would be gives a store with a problem.
    static ImageStore programStore(const QString& programDir);
    static QString storeFileName();  // the file name looked for beside the program
    // The store built into every program, as a Qt resource at resourcePath(); empty when
    // the program was linked without it.
    static QString resourcePath();
    static QByteArray builtInData();

    // True and `image` set to the unscrambled bytes when an entry named exactly `name`
    // exists; false and `image` unchanged otherwise.
    bool LoadImage(const QString& name, QByteArray& image) const;

    // Builds a store from named images (the forward scrambling), in the given order. Returns
    // an empty array when the images cannot be stored: more than 255 of them, or a name that
    // is empty, longer than 8 characters, not plain 8-bit text or given twice. (StoreWriter
    // does the packing and names the reason.)
    static QByteArray pack(const QList<QPair<QString, QByteArray>>& images);

    // Demo loaders for the simulated box carry this marker: in their bytes, or (PIC images,
    // one character per 14-bit word) in the low bytes of their words.
    static constexpr const char* kDemoMarker = "KELVANO-SIM-DEMO-LOADER";
    static bool isDemoImage(const QByteArray& image);

    // The entry names in directory order (for listings and messages).
    QStringList names() const;
    // Entry i's unscrambled bytes (entries in directory order; a name given twice is found
    // by LoadImage only in its first entry). False when there is no such entry or its bytes
    // lie beyond the end of the store.
    bool entryImage(int i, QByteArray& image) const;

    // Empty when `data` is a whole store; otherwise what is wrong with it: its directory or
    // an entry's bytes run past its end.
    static QString damage(const QByteArray& data);
    // Empty when the store can be used; otherwise the message that names the file and what is
    // wrong with it. A store with a problem finds no image at all: part of a damaged store is
    // not the box maker's store.
    QString problem() const { return problem_; }
    // The file the store was read from; empty for the store built into the program.
    QString path() const { return path_; }
    // "the image store PATH", or "the image store built into the program", for messages.
    QString description() const;

    const QByteArray& data() const { return data_; }

private:
    QByteArray data_;
    QString path_;
    QString problem_;
};

}  // namespace kelvano
