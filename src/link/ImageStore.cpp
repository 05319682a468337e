#include "link/ImageStore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "base/DataFiles.h"
#include "link/StoreWriter.h"

namespace kelvano {

namespace {

constexpr int kDirStart = 2;
constexpr int kEntrySize = 20;
constexpr int kNameSize = 8;

quint32 le32(const QByteArray& d, qsizetype at) {
    const auto* p = reinterpret_cast<const uchar*>(d.constData()) + at;
    return quint32(p[0]) | quint32(p[1]) << 8 | quint32(p[2]) << 16 | quint32(p[3]) << 24;
}

}  // namespace

QString ImageStore::storeFileName() { return QStringLiteral("kelvano.store"); }

QString ImageStore::resourcePath() { return QStringLiteral(":/kelvano/images.store"); }

QByteArray ImageStore::builtInData() {
    QFile f(resourcePath());
    if (!f.open(QIODevice::ReadOnly)) return {};
    return f.readAll();
}

ImageStore ImageStore::programStore(const QString& programDir) {
    for (const QString& folder : dataFileFolders(programDir)) {
        const QFileInfo info(QDir(folder).filePath(storeFileName()));
        if (info.isFile()) return fromFile(info.filePath());
        // A folder of that name is a store put in the wrong place, not a reason to fall back
        // on the built-in images without a word.
        if (info.isDir()) {
            ImageStore store;
            store.path_ = QDir::toNativeSeparators(info.absoluteFilePath());
            store.problem_ =
                QStringLiteral("The image store %1 is a folder, not a file").arg(store.path_);
            return store;
        }
    }
    return ImageStore(builtInData());
}

QString ImageStore::description() const {
    return path_.isEmpty() ? QStringLiteral("the image store built into the program")
                           : QStringLiteral("the image store %1").arg(path_);
}

ImageStore ImageStore::fromFile(const QString& path) {
    ImageStore store;
    store.path_ = QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath());
    QFile f(path);
    QString wrong;
    if (!f.open(QIODevice::ReadOnly)) {
        wrong = QStringLiteral("cannot be read: ") + f.errorString();
    } else {
        const QByteArray data = f.readAll();
        wrong = data.isEmpty() ? QStringLiteral("is damaged: the file is empty") : damage(data);
        if (!wrong.isEmpty() && !data.isEmpty()) wrong.prepend(QStringLiteral("is damaged: "));
        if (wrong.isEmpty()) store.data_ = data;
    }
    if (!wrong.isEmpty())
        store.problem_ = QStringLiteral("The image store %1 %2").arg(store.path_, wrong);
    return store;
}

QString ImageStore::damage(const QByteArray& data) {
    if (data.isEmpty()) return {};
    const int n = uchar(data.at(0));
    const ImageStore store(data);
    const QStringList names = store.names();
    if (names.size() != n)
        return QStringLiteral(
                   "its directory lists %1 entries but the file ends after %2 (%3 bytes)")
            .arg(n)
            .arg(names.size())
            .arg(data.size());
    for (int i = 0; i < n; ++i) {
        QByteArray image;
        if (!store.entryImage(i, image))
            return QStringLiteral("the bytes of entry %1 (\"%2\") lie beyond the end of the file")
                .arg(i + 1)
                .arg(names.at(i));
    }
    return {};
}

QStringList ImageStore::names() const {
    QStringList out;
    if (data_.isEmpty()) return out;
    const int n = uchar(data_.at(0));
    for (int i = 0; i < n; ++i) {
        const qsizetype at = kDirStart + qsizetype(kEntrySize) * i;
        if (at + kEntrySize > data_.size()) break;
        QByteArray name = data_.mid(at, kNameSize);
        const qsizetype nul = name.indexOf('\0');
        if (nul >= 0) name.truncate(nul);
        out << QString::fromLatin1(name);
    }
    return out;
}

bool ImageStore::LoadImage(const QString& name, QByteArray& image) const {
    const QStringList all = names();
    const qsizetype i = all.indexOf(name);
    return i >= 0 && entryImage(int(i), image);
}

bool ImageStore::entryImage(int i, QByteArray& image) const {
    if (data_.isEmpty() || i < 0 || i >= uchar(data_.at(0))) return false;
    const qsizetype at = kDirStart + qsizetype(kEntrySize) * i;
    // A store cut short ends its directory early.
    if (at + kEntrySize > data_.size()) return false;
    const quint32 offset = le32(data_, at + 12);
    const quint32 size = le32(data_, at + 16);
    if (quint64(offset) + size > quint64(data_.size())) return false;

    QByteArray out(qsizetype(size), '\0');
    const auto* src = reinterpret_cast<const uchar*>(data_.constData()) + offset;
    quint16 s = quint16(offset & 0xFFFF);
    const quint16 m = quint16(size & 0xFFFF);
    for (quint32 k = 0; k < size; ++k) {
        const uchar c = src[k];
        out[k] = char(c ^ (s >> 8));
        s = quint16((s + c) * m);
    }
    image = out;
    return true;
}

QByteArray ImageStore::pack(const QList<QPair<QString, QByteArray>>& images) {
    StoreWriter writer;
    for (const auto& [name, bytes] : images) {
        // A name given twice would replace the first image: refused like any bad name.
        if (writer.indexOf(name) >= 0 || !writer.put(name, bytes, nullptr)) return {};
    }
    return writer.pack();
}

bool ImageStore::isDemoImage(const QByteArray& image) {
    const QByteArray marker(kDemoMarker);
    if (image.contains(marker)) return true;
    QByteArray lowBytes;
    lowBytes.reserve(image.size() / 2 + 1);
    for (qsizetype i = 0; i < image.size(); i += 2) lowBytes.append(image.at(i));
    return lowBytes.contains(marker);
}

}  // namespace kelvano
