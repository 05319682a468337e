#include "sim/SimImageFile.h"

#include <QFile>
#include <QFileInfo>
#include <QList>
#include <algorithm>
#include <cctype>

namespace kelvano {

namespace {

constexpr int kImageSize = 0x10000;

uint16_t wordAt(const QByteArray& image, int at) {
    return uint16_t(uchar(image.at(at)) | uchar(image.at(at + 1)) << 8);
}

bool fail(QString* error, const QString& text) {
    if (error) *error = text;
    return false;
}

// The bytes of one record line (count, address, type, data, checksum), or false with `error`
// set when the line is no well-formed record.
bool decodeRecord(const QByteArray& line, const QString& where, QByteArray& bytes, QString* error) {
    if (line.at(0) != ':' || line.size() < 11 || line.size() % 2 == 0)
        return fail(error, where + "not an Intel HEX record");
    for (char c : line.mid(1))
        if (!std::isxdigit(uchar(c))) return fail(error, where + "not hexadecimal");
    bytes = QByteArray::fromHex(line.mid(1));
    const int count = uchar(bytes.at(0));
    if (bytes.size() != count + 5) return fail(error, where + "wrong record length");
    uchar sum = 0;
    for (char b : bytes) sum = uchar(sum + uchar(b));
    if (sum != 0) return fail(error, where + "checksum error");
    return true;
}

// Data bytes from image address `at` on; those beyond 64 KB are left out.
void placeData(QByteArray& image, quint32 at, const QByteArray& data) {
    for (int i = 0; i < data.size(); ++i) {
        const quint32 to = at + quint32(i);
        if (to < quint32(kImageSize)) image[int(to)] = data.at(i);
    }
}

}  // namespace

bool parseIntelHex(const QByteArray& text, QByteArray& image, QString* error) {
    image = QByteArray(kImageSize, '\xFF');
    quint32 base = 0;
    const QList<QByteArray> lines = text.split('\n');
    for (int n = 0; n < lines.size(); ++n) {
        const QByteArray line = lines.at(n).trimmed();
        if (line.isEmpty()) continue;
        const QString where = QString("line %1: ").arg(n + 1);
        QByteArray bytes;
        if (!decodeRecord(line, where, bytes, error)) return false;
        const int count = uchar(bytes.at(0));
        const quint32 address = quint32(uchar(bytes.at(1)) << 8 | uchar(bytes.at(2)));
        const int type = uchar(bytes.at(3));
        const QByteArray data = bytes.mid(4, count);
        switch (type) {
            case 0x00:
                placeData(image, base + address, data);
                break;
            case 0x01:
                return true;
            case 0x02:
            case 0x04:
                if (count != 2) return fail(error, where + "wrong record length");
                base = quint32(uchar(data.at(0)) << 8 | uchar(data.at(1)))
                       << (type == 0x02 ? 4 : 16);
                break;
            default:
                break;  // start addresses mean nothing to a card
        }
    }
    return true;
}

bool readImageFile(const QString& path, QByteArray& image, QString* error) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return fail(error, path + ": " + file.errorString());
    const QByteArray contents = file.readAll();
    const QString ext = QFileInfo(path).suffix().toLower();
    if (ext == "hex" || ext == "h8" || ext == "eep" || contents.startsWith(':')) {
        if (!parseIntelHex(contents, image, error)) {
            if (error) *error = path + ": " + *error;
            return false;
        }
        return true;
    }
    image = QByteArray(kImageSize, '\xFF');
    image.replace(0, std::min<int>(int(contents.size()), kImageSize), contents.left(kImageSize));
    return true;
}

bool loadCardSlot(SimCard& card, int slot, const QByteArray& image) {
    if (image.size() < kImageSize) return false;
    const auto copyBytes = [&](std::vector<uint8_t>& memory) {
        for (size_t i = 0; i < memory.size() && i < size_t(kImageSize); ++i)
            memory[i] = uchar(image.at(int(i)));
    };
    if (card.isPic()) {
        if (slot == 2) {
            copyBytes(card.eeprom);
            return true;
        }
        if (slot != 1) return false;
        for (size_t w = 0; w < card.flash.size(); ++w)
            card.flash[w] = wordAt(image, int(2 * w)) & 0x3FFF;
        for (size_t e = 0; e < card.data.size(); ++e)
            card.data[e] = uchar(image.at(int(0x4200 + 2 * e)));
        for (int k = 0; k < 4; ++k) card.picId[k] = wordAt(image, 0x4000 + 2 * k) & 0x3FFF;
        card.picConfig = wordAt(image, 0x400E) & 0x3FFF;
        return true;
    }
    switch (slot) {
        case 1: {
            for (size_t w = 0; w < card.flash.size(); ++w)
                card.flash[w] = wordAt(image, int(2 * w));
            const size_t behind = 2 * card.flash.size();
            for (size_t e = 0; e < card.data.size() && behind + e < size_t(kImageSize); ++e)
                if (uchar(image.at(int(behind + e))) != 0xFF)
                    card.data[e] = uchar(image.at(int(behind + e)));
            return true;
        }
        case 2:
            copyBytes(card.data);
            return true;
        case 3:
            copyBytes(card.eeprom);
            return true;
        default:
            return false;
    }
}

}  // namespace kelvano
