#pragma once
// Raw talk to the box over a SerialPort, written from the box contract alone: prompt lines
// end at CR or '>', command frames are "@" + text, answers are a length byte and that many
// bytes, or the single byte 0 or 255.
#include <gtest/gtest.h>

#include <QByteArray>
#include <QList>

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
    for (int b = port.readByte(gapMs); b >= 0; b = port.readByte(gapMs)) {
        out += char(b);
        if (char(b) == end) break;
    }
    return out;
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

// A frame's answer as text: the reply text, "ok" (0), "no" (255), "none" (nothing came) or
// "short" (fewer bytes than the length byte promised).
inline QByteArray ask(SerialPort& port, const QByteArray& text) {
    const Answer a = frame(port, text);
    if (a.code <= 0) return a.code == 0 ? "ok" : "none";
    if (a.code == 255) return "no";
    return a.complete ? a.payload : "short";
}

// Frames in turn, blank separated: "TEXT=ANSWER" (as ask() words it), or a bare "TEXT" that
// must be answered "ok".
inline void expectSession(SerialPort& port, const char* steps) {
    for (const QByteArray& step : QByteArray(steps).simplified().split(' ')) {
        const qsizetype eq = step.indexOf('=');
        const QByteArray want = eq < 0 ? QByteArray("ok") : step.mid(eq + 1);
        EXPECT_EQ(ask(port, step.left(eq < 0 ? step.size() : eq)), want) << step.constData();
    }
}

inline QByteArray hex4(int v) { return QByteArray::number(v, 16).toUpper().rightJustified(4, '0'); }
inline QByteArray hex2(int v) { return QByteArray::number(v, 16).toUpper().rightJustified(2, '0'); }

}  // namespace kelvano::test
