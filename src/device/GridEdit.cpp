#include "device/GridEdit.h"

namespace kelvano {

int elementDigits(ViewMode mode) { return mode == ViewMode::Bytes16 ? 2 : 4; }
int elementChars(ViewMode mode) { return mode == ViewMode::AvrWords8 ? 2 : 1; }

namespace {
uint16_t elementMask(ViewMode mode) {
    return mode == ViewMode::Bytes16 ? 0xFF : mode == ViewMode::PicWords8 ? 0x3FFF : 0xFFFF;
}
}  // namespace

Typed typeHexDigit(uint16_t value, int nibble, QChar key, ViewMode mode) {
    Typed t;
    const int digit = key.isNull() ? -1 : QString(key).toInt(&t.ok, 16);
    if (!t.ok || digit < 0 || key == QLatin1Char('+') || key == QLatin1Char('-')) {
        t.ok = false;
        t.refusal = QStringLiteral("Type a hexadecimal digit (0-9, A-F).");
        return t;
    }
    const int digits = elementDigits(mode);
    const int shift = 4 * (digits - 1 - nibble);
    const unsigned v =
        ((value & elementMask(mode)) & ~(0xFu << shift)) | (unsigned(digit) << shift);
    if (v > elementMask(mode)) {
        t.ok = false;
        t.refusal = QStringLiteral("A program word of this controller has 14 bits: at most 3FFF.");
        return t;
    }
    t.value = static_cast<uint16_t>(v);
    return t;
}

Typed typeTextChar(uint16_t value, int half, QChar key, ViewMode mode) {
    Typed t;
    const ushort c = key.unicode();
    if (c < 0x20 || c > 0x7E) {
        t.refusal = QStringLiteral("Type a printable character (codes 20 to 7E).");
        return t;
    }
    t.ok = true;
    switch (mode) {
        case ViewMode::Bytes16:
            t.value = c;
            break;
        case ViewMode::PicWords8:
            t.value = static_cast<uint16_t>((value & 0x3F00) | c);
            break;
        case ViewMode::AvrWords8:
            t.value = half == 0 ? static_cast<uint16_t>((value & 0x00FF) | (c << 8))
                                : static_cast<uint16_t>((value & 0xFF00) | c);
            break;
    }
    return t;
}

std::optional<int> parseAddress(const QString& text, int length) {
    QString s = text.trimmed();
    if (s.startsWith(QLatin1Char('$')))
        s = s.mid(1);
    else if (s.startsWith(QLatin1String("0x"), Qt::CaseInsensitive))
        s = s.mid(2);
    bool ok = false;
    const int a = s.size() <= 5 ? s.toInt(&ok, 16) : -1;
    if (!ok || s.startsWith(QLatin1Char('-')) || s.startsWith(QLatin1Char('+')) || a < 0 ||
        a >= length)
        return std::nullopt;
    return a;
}

std::optional<SearchPattern> parsePattern(const QString& input, bool asHex, ViewMode mode) {
    SearchPattern p;
    p.text = !asHex;
    if (asHex) {
        const int digits = elementDigits(mode);
        for (const QString& token : input.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
            bool ok = false;
            const uint v = token.toUInt(&ok, 16);
            if (!ok || token.size() > digits || token.startsWith(QLatin1Char('+')) ||
                v > elementMask(mode))
                return std::nullopt;
            p.values.push_back(static_cast<uint16_t>(v));
        }
    } else {
        for (QChar c : input) {
            if (c.unicode() > 0xFF) return std::nullopt;
            p.values.push_back(c.unicode());
        }
    }
    if (p.values.empty()) return std::nullopt;
    return p;
}

int findPattern(const TBufArray& buffer, ViewMode mode, const SearchPattern& pattern, int from,
                bool forward) {
    // The searched stream: elements for hex, the text column's bytes for text.
    const bool avrText = pattern.text && mode == ViewMode::AvrWords8;
    const int per = avrText ? 2 : 1;
    const int n = buffer.length() * per;
    auto symbol = [&](int i) -> unsigned {
        if (avrText) {
            const unsigned w = buffer[i / 2];
            return i % 2 == 0 ? w >> 8 : w & 0xFF;
        }
        const unsigned e = buffer[i];
        return pattern.text ? e & 0xFF : e & elementMask(mode);
    };
    const int m = static_cast<int>(pattern.values.size());
    auto matchesAt = [&](int i) {
        for (int k = 0; k < m; ++k)
            if (symbol(i + k) != pattern.values[static_cast<size_t>(k)]) return false;
        return true;
    };
    // Matches start on an element: an AVR word's high byte.
    if (forward) {
        for (int i = (from + 1) * per; i + m <= n; i += per)
            if (matchesAt(i)) return i / per;
    } else {
        for (int i = std::min((from - 1) * per, n - m - (n - m) % per); i >= 0; i -= per)
            if (i + m <= n && matchesAt(i)) return i / per;
    }
    return -1;
}

}  // namespace kelvano
