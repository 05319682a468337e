#include "link/ImageStore.h"

#include <QDir>
#include <QFile>

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
    const QString path = findDataFile(programDir, storeFileName());
    if (!path.isEmpty()) {
        QFile f(path);
        if (f.open(QIODevice::ReadOnly)) return ImageStore(f.readAll());
    }
    return ImageStore(builtInData());
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
    if (data_.isEmpty()) return false;
    const QByteArray wanted = name.toLatin1();
    const int n = uchar(data_.at(0));
    for (int i = 0; i < n; ++i) {
        const qsizetype at = kDirStart + qsizetype(kEntrySize) * i;
        // A store cut short (a damaged file beside the program) ends its directory early.
        if (at + kEntrySize > data_.size()) return false;
        QByteArray entryName = data_.mid(at, kNameSize);
        const qsizetype nul = entryName.indexOf('\0');
        if (nul >= 0) entryName.truncate(nul);
        if (entryName != wanted) continue;

        const quint32 offset = le32(data_, at + 12);
        const quint32 size = le32(data_, at + 16);
        // The bytes must lie inside the store; a damaged entry is as good as a missing one.
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
    return false;
}

QByteArray ImageStore::pack(const QList<QPair<QString, QByteArray>>& images) {
    StoreWriter writer;
    for (const auto& [name, bytes] : images) {
        // A name given twice would replace the first image: refused like any bad name.
        if (writer.indexOf(name) >= 0 || !writer.put(name, bytes, nullptr)) return {};
    }
    return writer.pack();
}

}  // namespace kelvano
