#pragma once
#include <QByteArray>
#include <QString>

#include "sim/SimCard.h"

namespace kelvano {

// The box simulator's own reading of memory image files, for putting contents on a card
// before a session: Intel HEX or raw binary into a 64 KB image, then into the card's
// memories laid out as the program's file slots.

// Intel HEX (extension .hex, .h8 or .eep, or any file whose first character is ':') or raw
// binary (from byte 0, at most 64 KB). `image` is 65536 bytes, 0xFF where the file has
// nothing. False with `error` set when the file cannot be read or a HEX line is bad.
bool readImageFile(const QString& path, QByteArray& image, QString* error);
// Records 00 (data), 01 (end), 02 (segment base) and 04 (linear base); data is placed at
// (base + address) and bytes beyond 64 KB are left out. Every line's checksum is checked.
bool parseIntelHex(const QByteArray& text, QByteArray& image, QString* error);

// Slot layouts. PIC: 1 = program words at 2w (low byte first, 14 bits kept), ID locations
// at 0x4000, configuration word at 0x400E, data EEPROM byte e at 0x4200 + 2e; 2 = external
// EEPROM. AVR: 1 = flash words (data EEPROM bytes behind the flash that are not 0xFF too),
// 2 = data EEPROM, 3 = external EEPROM. False for a slot the card does not have.
bool loadCardSlot(SimCard& card, int slot, const QByteArray& image);

}  // namespace kelvano
