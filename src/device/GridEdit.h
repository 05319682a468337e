#pragma once
#include <QString>
#include <cstdint>
#include <optional>
#include <vector>

#include "device/uDevices.h"

namespace kelvano {

// What typing over a dump cell does to an element, and searching a buffer the way its grid
// shows it. No widgets: the grid view calls these.

struct Typed {
    bool ok = false;
    uint16_t value = 0;
    QString refusal;  // why the key was refused (ok false)
};

// Hex digits of one element in a view: 2 for bytes, 4 for words.
int elementDigits(ViewMode mode);
// Characters of one element in the text column: 2 for AVR words, else 1.
int elementChars(ViewMode mode);

// A hex digit typed over digit `nibble` (0 the most significant) of `value`. A PIC word keeps
// 14 bits: a digit that would set bit 14 or 15 is refused.
Typed typeHexDigit(uint16_t value, int nibble, QChar key, ViewMode mode);
// A character typed over the text of `value`: the byte itself, a PIC word's low byte, or an
// AVR word's high (half 0) or low (half 1) byte. Only characters 20..7E are taken.
Typed typeTextChar(uint16_t value, int half, QChar key, ViewMode mode);

// "1F0", "$1F0", "0x1F0": an element address in hex; nothing when it is not one or lies
// outside 0..length-1.
std::optional<int> parseAddress(const QString& text, int length);

// A search pattern: hex values ("41 42", "3FFF") or text ("AB"). Hex tokens are separated
// by blanks and each is one element of the view (one byte, or one word in the word views).
struct SearchPattern {
    bool text = false;
    std::vector<uint16_t> values;  // elements (hex) or bytes (text)
};
// Parses `input` as hex when `asHex`, else as text; nothing when the hex is malformed (a
// token that is not hex or too long for an element) or the pattern is empty.
std::optional<SearchPattern> parsePattern(const QString& input, bool asHex, ViewMode mode);
// The element at which the pattern next occurs after `from` (forward) or before `from`
// (backward), or -1. `from` -1 forward searches from the start, `from` length backward from
// the end. Text matches the text column: bytes, PIC low bytes, AVR high then low bytes.
int findPattern(const TBufArray& buffer, ViewMode mode, const SearchPattern& pattern, int from,
                bool forward);

}  // namespace kelvano
