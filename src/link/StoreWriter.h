#pragma once
#include <QByteArray>
#include <QList>
#include <QString>

namespace kelvano {

// Builds an image store (the layout ImageStore reads): the entries in order, each image
// scrambled with its own offset and size. Used by the build-time packer and by
// kelvano-cli store, so that there is one writer of the layout.
class StoreWriter {
public:
    struct Entry {
        QString name;
        QByteArray image;  // plain bytes
    };
    static constexpr int kMaxEntries = 255;
    static constexpr int kMaxName = 8;

    // Takes the entries of an existing store (empty data: an empty store), each with its own
    // bytes. False with `error` when the store is damaged (a directory or an image beyond its
    // end).
    bool read(const QByteArray& storeData, QString* error);
    // A name that the store read holds in two entries (another tool made it; the empty name
    // too): such a store is not changed, since the program only ever uses the first.
    bool hasDuplicate() const { return hasDuplicate_; }
    QString duplicate() const { return duplicate_; }
    // Empty when the entries may be changed; otherwise why not (a duplicate name).
    QString changeRefusal() const;

    // Empty when `name` can name an entry, otherwise why not (for messages).
    static QString nameProblem(const QString& name);
    // Adds the entry at the end, or replaces the image of the entry of that name in place.
    // False with `error` for a bad name, a 256th entry or a store with a duplicate name.
    bool put(const QString& name, const QByteArray& image, QString* error);
    // False when there is no such entry or the store holds a duplicate name.
    bool remove(const QString& name);
    int indexOf(const QString& name) const;
    const QList<Entry>& entries() const { return entries_; }

    // The store's bytes: the count, a byte 0, the 20-byte directory entries (name NUL padded,
    // 4 zero bytes, offset, size; little-endian), then the scrambled images in entry order.
    // Empty when the store would pass 4 GB.
    QByteArray pack() const;

private:
    QList<Entry> entries_;
    QString duplicate_;
    bool hasDuplicate_ = false;
};

}  // namespace kelvano
