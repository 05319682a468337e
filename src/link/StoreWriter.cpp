#include "link/StoreWriter.h"

#include "link/ImageStore.h"

namespace kelvano {

namespace {

constexpr int kDirStart = 2;
constexpr int kEntrySize = 20;

void putLe32(QByteArray& d, qsizetype at, quint32 v) {
    for (int i = 0; i < 4; ++i) d[at + i] = char((v >> (8 * i)) & 0xFF);
}

}  // namespace

bool StoreWriter::read(const QByteArray& storeData, QString* error) {
    entries_.clear();
    duplicate_.clear();
    hasDuplicate_ = false;
    if (storeData.isEmpty()) return true;
    if (const QString damage = ImageStore::damage(storeData); !damage.isEmpty()) {
        if (error) *error = damage;
        return false;
    }
    const ImageStore store(storeData);
    const QStringList names = store.names();
    for (int i = 0; i < names.size(); ++i) {
        QByteArray image;
        store.entryImage(i, image);  // every entry is whole: damage() said so
        if (!hasDuplicate_ && indexOf(names.at(i)) >= 0) {
            hasDuplicate_ = true;
            duplicate_ = names.at(i);
        }
        entries_.append({names.at(i), image});
    }
    return true;
}

QString StoreWriter::nameProblem(const QString& name) {
    if (name.isEmpty()) return QStringLiteral("an entry needs a name");
    const QByteArray latin = name.toLatin1();
    if (QString::fromLatin1(latin) != name || latin.contains('\0'))
        return QStringLiteral("the name \"%1\" is not plain 8-bit text").arg(name);
    if (latin.size() > kMaxName)
        return QStringLiteral("the name \"%1\" is longer than %2 characters")
            .arg(name)
            .arg(kMaxName);
    return {};
}

int StoreWriter::indexOf(const QString& name) const {
    for (qsizetype i = 0; i < entries_.size(); ++i)
        if (entries_.at(i).name == name) return int(i);
    return -1;
}

QString StoreWriter::changeRefusal() const {
    if (!hasDuplicate_) return {};
    const QString which = duplicate_.isEmpty() ? QStringLiteral("without a name")
                                               : QStringLiteral("named \"%1\"").arg(duplicate_);
    return QStringLiteral(
               "the store holds two entries %1 (it was not made by kelvano-cli): changing one "
               "of them would leave the other, or replace the wrong one")
        .arg(which);
}

bool StoreWriter::put(const QString& name, const QByteArray& image, QString* error) {
    QString problem = changeRefusal();
    if (problem.isEmpty()) problem = nameProblem(name);
    if (!problem.isEmpty()) {
        if (error) *error = problem;
        return false;
    }
    const int at = indexOf(name);
    if (at >= 0) {
        entries_[at].image = image;
        return true;
    }
    if (entries_.size() >= kMaxEntries) {
        if (error) *error = QStringLiteral("a store holds at most %1 entries").arg(kMaxEntries);
        return false;
    }
    entries_.append({name, image});
    return true;
}

bool StoreWriter::remove(const QString& name) {
    if (hasDuplicate_) return false;
    const int at = indexOf(name);
    if (at < 0) return false;
    entries_.removeAt(at);
    return true;
}

QByteArray StoreWriter::pack() const {
    const qsizetype dirEnd = kDirStart + qsizetype(kEntrySize) * entries_.size();
    QByteArray out(dirEnd, '\0');
    out[0] = char(entries_.size());
    for (qsizetype i = 0; i < entries_.size(); ++i) {
        const QByteArray& plain = entries_.at(i).image;
        const quint64 offset = quint64(out.size());
        if (offset + quint64(plain.size()) > 0xFFFFFFFFull) return {};
        const qsizetype at = kDirStart + kEntrySize * i;
        const QByteArray name = entries_.at(i).name.toLatin1();
        for (int k = 0; k < name.size(); ++k) out[at + k] = name.at(k);
        putLe32(out, at + 12, quint32(offset));
        putLe32(out, at + 16, quint32(plain.size()));

        // The reader's recurrence run forward: each stored byte is the plain byte XOR the
        // state's high byte, and the state advances with the stored byte.
        quint16 s = quint16(offset & 0xFFFF);
        const quint16 m = quint16(quint32(plain.size()) & 0xFFFF);
        QByteArray stored(plain.size(), '\0');
        for (qsizetype k = 0; k < plain.size(); ++k) {
            const uchar c = uchar(uchar(plain.at(k)) ^ (s >> 8));
            stored[k] = char(c);
            s = quint16((s + c) * m);
        }
        out += stored;
    }
    return out;
}

}  // namespace kelvano
