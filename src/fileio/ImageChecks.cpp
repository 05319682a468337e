// What the file module checks in a file beyond its syntax: two records that give one byte
// different values, data that lands where the card has no memory, and what a load leaves the
// user to decide (a file that may be cut short).
#include <QVector>

#include "base/Host.h"
#include "fileio/TextLines.h"
#include "fileio/uFileio.h"

namespace kelvano {

namespace {
QString hex(int64_t v, int digits = 4) {
    return QStringLiteral("0x") + QString::number(v, 16).toUpper().rightJustified(digits, '0');
}

// One memory of the card as a file addresses it: `bytes` file bytes from `begin`.
struct Area {
    int64_t begin = 0;
    int64_t bytes = 0;
    QString name;  // with its size, as the message tells it
};

QString areaText(const Area& a) {
    return QStringLiteral("%1 at %2-%3").arg(a.name, hex(a.begin), hex(a.begin + a.bytes - 1));
}
}  // namespace

void TFileIo::fillImage() {
    Image.fill(0xFF);
    origin_.assign(kImageSize, 0);
    beyondImage_ = -1;
    warnings_.clear();
}

int TFileIo::placeBytes(int64_t address, const uint8_t* bytes, int64_t n, int32_t line) {
    for (int64_t i = 0; i < n; ++i) {
        const auto at = static_cast<size_t>(address + i);
        if (origin_[at] != 0 && Image[at] != bytes[i]) {
            conflict_ = {address + i, origin_[at], line, Image[at], bytes[i]};
            return kDataConflict;
        }
        Image[at] = bytes[i];
        origin_[at] = line;
    }
    return kLoadOk;
}

void TFileIo::markData(int64_t from, int64_t to) {
    for (int64_t i = from; i < to && i < kImageSize; ++i)
        if (Image[static_cast<size_t>(i)] != 0xFF) origin_[static_cast<size_t>(i)] = -1;
}

const LoadFindings& TFileIo::SlotLoad(int slot) const {
    return slotLoads_[static_cast<size_t>(slot >= 1 && slot <= 3 ? slot : 0)];
}

QStringList TFileIo::TakeFuseNotes() {
    QStringList notes;
    notes.swap(fuseNotes_);
    return notes;
}

QString TFileIo::fileLine(int32_t number) const {
    int error = 0;
    FilePtr f = openFile(FileName, "rb", error);
    if (!f || number < 1) return {};
    TextLines lines(f.get());
    QByteArray line;
    for (int32_t n = 1; lines.next(line); ++n)
        if (n == number) return QString::fromLatin1(line.left(200));
    return {};
}

QString TFileIo::conflictText() const {
    const Conflict& c = conflict_;
    return QStringLiteral(
               "Two records give address %1 different values: %2 in line #%3 and %4 in line "
               "#%5\rLine #%3: %6\rLine #%5: %7")
        .arg(hex(c.address), hex(c.firstValue, 2))
        .arg(c.firstLine)
        .arg(hex(c.secondValue, 2))
        .arg(c.secondLine)
        .arg(fileLine(c.firstLine), fileLine(c.secondLine));
}

namespace {
// The memories a file in `slot` fills, where the file has them. A slot that the card type
// does not use takes nothing, so nothing is checked for it.
QVector<Area> areasOf(const TDevices& d, int slot, bool& used) {
    const int64_t prog = 2 * int64_t{d.ProgBuf.length()};
    const int64_t data = d.DataBuf.length(), eep = d.EepBuf.length();
    const auto words = QStringLiteral("program memory (%1 words)").arg(d.ProgBuf.length());
    const auto bytes = [](const char* name, int64_t n) {
        return QStringLiteral("%1 (%2 bytes)").arg(QLatin1String(name)).arg(n);
    };
    QVector<Area> areas;
    used = true;
    if (isPicCode(d.DeviceId) && slot == 1)
        areas = {{0, prog, words},
                 {0x4000, 8, QStringLiteral("ID locations (4 words)")},
                 {0x400E, 2, QStringLiteral("configuration word")},
                 {0x4200, 2 * data, bytes("data EEPROM", data)}};
    else if ((isPicCode(d.DeviceId) && slot == 2) || (isAvrSized(d.DeviceId) && slot == 3))
        areas = {{0, eep, bytes("external EEPROM", eep)}};
    else if (isAvrSized(d.DeviceId) && slot == 1)
        areas = {{0, prog, words}, {prog, data, bytes("data EEPROM behind it", data)}};
    else if (isAvrSized(d.DeviceId) && slot == 2)
        areas = {{0, data, bytes("data EEPROM", data)}};
    else
        used = false;
    return areas;
}
}  // namespace

int TFileIo::checkFits(int slot) {
    bool used = false;
    const QVector<Area> areas = areasOf(devices_, slot, used);
    if (!used) return kLoadOk;
    auto inside = [&areas](int64_t a) {
        for (const Area& area : areas)
            if (a >= area.begin && a < area.begin + area.bytes) return true;
        return false;
    };
    int64_t first = -1;
    for (int64_t a = 0; a < kImageSize && first < 0; ++a)
        if (origin_[static_cast<size_t>(a)] != 0 && !inside(a)) first = a;
    if (first < 0) first = beyondImage_;
    if (first < 0) return kLoadOk;
    QStringList memories;
    for (const Area& area : areas)
        if (area.bytes > 0) memories << areaText(area);
    const int32_t line = first < kImageSize ? origin_[static_cast<size_t>(first)] : 0;
    outside_ =
        QStringLiteral("Data at address %1%2 lands in no memory of the card.\r")
            .arg(hex(first), line > 0 ? QStringLiteral(" (line #%1)").arg(line) : QString()) +
        QStringLiteral("File %1 of this card type holds: ").arg(slot) +
        memories.join(QStringLiteral(", "));
    return kDataOutside;
}

bool TFileIo::confirmWarnings() {
    if (warnings_.isEmpty()) return true;
    const QString text = QStringLiteral("File: ") + FileName + QStringLiteral("\r\r") +
                         warnings_.join(QLatin1Char('\r')) + QStringLiteral("\rLoad it anyway?");
    return host_.askOkAbort(QStringLiteral("Warning"), text);
}

}  // namespace kelvano
