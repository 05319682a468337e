#pragma once
#include <QByteArray>
#include <QString>

// Texts and small formatting helpers shared by the runner and the operations.
namespace kelvano::actiontext {

// Four or two upper-case hex digits.
inline QByteArray hex4(unsigned v) {
    return QByteArray::number(v & 0xFFFF, 16).toUpper().rightJustified(4, '0');
}
inline QByteArray hex2(unsigned v) {
    return QByteArray::number(v & 0xFF, 16).toUpper().rightJustified(2, '0');
}
inline QString hex4s(unsigned v) { return QString::fromLatin1(hex4(v)); }

// The value of a reply that must be exactly `digits` hex digits; false for anything else
// (empty, short, long, or not hexadecimal), so that no value is ever made up from garbage.
inline bool hexReply(const QByteArray& reply, int digits, int& value) {
    if (reply.size() != digits) return false;
    int v = 0;
    for (char c : reply) {
        int d;
        if (c >= '0' && c <= '9') d = c - '0';
        else if (c >= 'A' && c <= 'F') d = c - 'A' + 10;
        else if (c >= 'a' && c <= 'f') d = c - 'a' + 10;
        else return false;
        v = v * 16 + d;
    }
    value = v;
    return true;
}

inline QString lockBitsError() { return QStringLiteral("Error while writing lock bits"); }
inline QString fuseBitsError() { return QStringLiteral("Error while writing fuse bits"); }

// Steps the USB box has no packet for.
inline QString usbNoPic() {
    return QStringLiteral("PIC cards can't be handled over USB.\rConnect the box to a serial port.");
}
inline QString usbNoEeprom() {
    return QStringLiteral(
        "The external EEPROM can't be reached over USB.\rConnect the box to a serial port.");
}
inline QString usbNoMega() {
    return QStringLiteral(
        "The fuses, lock bits and flash pages of the ATmega163 can't be handled over USB.\r"
        "Connect the box to a serial port.");
}

}  // namespace kelvano::actiontext
