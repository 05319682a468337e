#include "production/SerialNumber.h"

#include <QCryptographicHash>

#include "device/uDevices.h"

namespace kelvano {

namespace {

uint64_t pow10(int n) {
    uint64_t v = 1;
    for (int i = 0; i < n; ++i) v *= 10;
    return v;
}

}  // namespace

uint64_t SerialPlan::maxValue() const {
    switch (form) {
        case Form::BinaryLE:
        case Form::BinaryBE:
            return size >= 8 ? UINT64_MAX : (uint64_t(1) << (8 * size)) - 1;
        case Form::Bcd:
            return pow10(2 * size) - 1;
        case Form::AsciiDec:
            return pow10(size) - 1;
        case Form::AsciiHex:
            return (uint64_t(1) << (4 * size)) - 1;
    }
    return 0;
}

QByteArray SerialPlan::encode(uint64_t value) const {
    if (size < 1 || size > 8 || !fits(value)) return {};
    QByteArray out(size, '\0');
    switch (form) {
        case Form::BinaryLE:
            for (int i = 0; i < size; ++i) out[i] = char((value >> (8 * i)) & 0xFF);
            break;
        case Form::BinaryBE:
            for (int i = 0; i < size; ++i) out[size - 1 - i] = char((value >> (8 * i)) & 0xFF);
            break;
        case Form::Bcd:
            // Two digits a byte, the most significant byte first, the higher digit in the
            // high nibble.
            for (int i = size - 1; i >= 0; --i) {
                const int low = int(value % 10);
                value /= 10;
                const int high = int(value % 10);
                value /= 10;
                out[i] = char(high << 4 | low);
            }
            break;
        case Form::AsciiDec:
            out = QByteArray::number(qulonglong(value)).rightJustified(size, '0');
            break;
        case Form::AsciiHex:
            out = QByteArray::number(qulonglong(value), 16).toUpper().rightJustified(size, '0');
            break;
    }
    return out;
}

std::optional<uint64_t> SerialPlan::valueAt(uint64_t index) const {
    if (!list.isEmpty()) {
        if (index >= uint64_t(list.size())) return std::nullopt;
        return list.at(qsizetype(index));
    }
    const uint64_t limit = last ? *last : maxValue();
    if (start > limit) return std::nullopt;
    if (step == 0) return index == 0 ? std::optional<uint64_t>(start) : std::nullopt;
    if (index > (limit - start) / step) return std::nullopt;
    return start + index * step;
}

std::optional<uint64_t> SerialPlan::indexOf(uint64_t value) const {
    if (!list.isEmpty()) {
        const qsizetype i = list.indexOf(value);
        return i < 0 ? std::nullopt : std::optional<uint64_t>(uint64_t(i));
    }
    const uint64_t limit = last ? *last : maxValue();
    if (value < start || value > limit || step == 0 || (value - start) % step != 0)
        return std::nullopt;
    return (value - start) / step;
}

QString SerialPlan::key() const {
    if (list.isEmpty())
        return QStringLiteral("from %1 step %2").arg(qulonglong(start)).arg(qulonglong(step));
    QCryptographicHash hash(QCryptographicHash::Sha256);
    for (uint64_t v : list) hash.addData(QByteArray::number(qulonglong(v)) + '\n');
    return QStringLiteral("list ") + QString::fromLatin1(hash.result().toHex().left(16));
}

QString SerialPlan::text(uint64_t value) const {
    // The ASCII forms as the card carries them, with their leading zeros.
    if (form == Form::AsciiHex)
        return QString::number(qulonglong(value), 16).toUpper().rightJustified(size, u'0');
    if (form == Form::AsciiDec)
        return QString::number(qulonglong(value)).rightJustified(size, u'0');
    return QString::number(qulonglong(value));
}

int SerialPlan::memoryBytes(int card) const {
    const TDeviceEntry* row = findDevice(card);
    if (!row) return 0;
    switch (memory) {
        case Memory::Flash:
            return isPicCode(card) ? row->flashWords : 2 * row->flashWords;
        case Memory::Data:
            return row->internalEepromBytes;
        case Memory::Eeprom:
            return row->externalEepromBytes;
    }
    return 0;
}

void SerialPlan::writeInto(TDevices& devices, const QByteArray& bytes) const {
    for (int i = 0; i < bytes.size(); ++i) {
        const int a = address + i;
        const uint8_t b = uint8_t(bytes[i]);
        switch (memory) {
            case Memory::Flash:
                if (isPicCode(devices.DeviceId)) {
                    devices.ProgBuf[a] = uint16_t(0x3400 | b);  // RETLW b
                } else {
                    uint16_t& w = devices.ProgBuf[a / 2];
                    w = (a % 2 == 0) ? uint16_t((w & 0xFF00) | b) : uint16_t((w & 0x00FF) | b << 8);
                }
                break;
            case Memory::Data:
                devices.DataBuf[a] = b;
                break;
            case Memory::Eeprom:
                devices.EepBuf[a] = b;
                break;
        }
    }
}

QString SerialPlan::memoryName(Memory m) {
    switch (m) {
        case Memory::Flash:
            return QStringLiteral("flash");
        case Memory::Data:
            return QStringLiteral("data");
        case Memory::Eeprom:
            return QStringLiteral("eeprom");
    }
    return {};
}

QString SerialPlan::formName(Form f) {
    switch (f) {
        case Form::BinaryLE:
            return QStringLiteral("le");
        case Form::BinaryBE:
            return QStringLiteral("be");
        case Form::Bcd:
            return QStringLiteral("bcd");
        case Form::AsciiDec:
            return QStringLiteral("dec");
        case Form::AsciiHex:
            return QStringLiteral("hex");
    }
    return {};
}

std::optional<SerialPlan::Memory> SerialPlan::parseMemory(const QString& text) {
    for (Memory m : {Memory::Flash, Memory::Data, Memory::Eeprom})
        if (text.compare(memoryName(m), Qt::CaseInsensitive) == 0) return m;
    return std::nullopt;
}

std::optional<SerialPlan::Form> SerialPlan::parseForm(const QString& text) {
    for (Form f : {Form::BinaryLE, Form::BinaryBE, Form::Bcd, Form::AsciiDec, Form::AsciiHex})
        if (text.compare(formName(f), Qt::CaseInsensitive) == 0) return f;
    return std::nullopt;
}

std::optional<uint64_t> SerialPlan::parseNumber(const QString& raw, bool hexDigits) {
    QString t = raw.trimmed();
    int base = 10;
    if (t.startsWith(QLatin1String("0x"), Qt::CaseInsensitive)) {
        t = t.mid(2);
        base = 16;
    } else if (hexDigits) {
        base = 16;
    }
    if (t.isEmpty()) return std::nullopt;
    for (QChar c : t)
        if (!(c.isDigit() || (base == 16 && QStringLiteral("abcdefABCDEF").contains(c))))
            return std::nullopt;
    bool ok = false;
    const qulonglong v = t.toULongLong(&ok, base);
    if (!ok) return std::nullopt;
    return uint64_t(v);
}

}  // namespace kelvano
