#pragma once
// Raw talk to the box over a SerialPort, written from the box contract alone: prompt lines
// end at CR or '>', command frames are "@" + text, answers are a length byte and that many
// bytes, or the single byte 0 or 255.
#include <QByteArray>

#include "base/SerialPort.h"

namespace kelvano::test {

struct Answer {
    int code = -1;       // the first byte (length, 0 or 255); -1 = nothing came
    QByteArray payload;  // the bytes after a length byte
    bool complete = false;
};

// Reads bytes until `end` arrives (kept) or a gap of `gapMs`.
inline QByteArray readUntil(SerialPort& port, char end, int gapMs = 150) {
    QByteArray out;
    for (;;) {
        const int b = port.readByte(gapMs);
        if (b < 0) return out;
        out += char(b);
        if (char(b) == end) return out;
    }
}

inline QByteArray prompt(SerialPort& port, const QByteArray& line) {
    port.write(line);
    return readUntil(port, '>');
}

inline Answer frame(SerialPort& port, const QByteArray& text, int firstWaitMs = 60) {
    port.purge();
    port.write("@" + text);
    Answer a;
    a.code = port.readByte(firstWaitMs);
    a.complete = a.code >= 0;
    for (int i = 0; a.code > 0 && a.code < 255 && a.complete && i < a.code; ++i) {
        const int b = port.readByte(30);
        a.complete = b >= 0;
        if (a.complete) a.payload += char(b);
    }
    return a;
}

// The payload of a frame that must answer with text; "<code N>" otherwise.
inline QByteArray ask(SerialPort& port, const QByteArray& text) {
    const Answer a = frame(port, text);
    if (a.code <= 0 || a.code == 255 || !a.complete)
        return "<code " + QByteArray::number(a.code) + ">";
    return a.payload;
}

inline QByteArray hex4(int v) { return QByteArray::number(v, 16).toUpper().rightJustified(4, '0'); }
inline QByteArray hex2(int v) { return QByteArray::number(v, 16).toUpper().rightJustified(2, '0'); }

}  // namespace kelvano::test
