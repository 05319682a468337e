#pragma once
#include <QByteArray>
#include <QString>

// Texts and small formatting helpers shared by the runner and the operations.
namespace kelvano::actiontext {

// Four upper-case hex digits.
inline QByteArray hex4(unsigned v) {
    return QByteArray::number(v & 0xFFFF, 16).toUpper().rightJustified(4, '0');
}
inline QString hex4s(unsigned v) { return QString::fromLatin1(hex4(v)); }

// A box that stopped answering: the card poll, and every exchange whose reply carries
// nothing but that it came.
inline QString noAnswer() { return QStringLiteral("The programmer box does not answer."); }

inline QString lockBitsError() { return QStringLiteral("Error while writing lock bits"); }
inline QString fuseBitsError() { return QStringLiteral("Error while writing fuse bits"); }

// Steps the USB box has no packet for.
inline QString usbNoPic() {
    return QStringLiteral(
        "PIC cards can't be handled over USB.\rConnect the box to a serial port.");
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
