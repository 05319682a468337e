#pragma once
// Raw talk to the box over a SerialPort, written from the box contract alone: prompt lines
// end at CR or '>', command frames are "@" + text, answers are a length byte and that many
// bytes, or the single byte 0 or 255.
#include <gtest/gtest.h>

#include <QByteArray>
#include <QList>

#include "base/SerialPort.h"

namespace kelvano::test {

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

// Sends frame "@" + `text` and words its answer: the reply text, "ok" (0), "no" (255), "none"
// (nothing within `firstWaitMs`) or "short" (fewer bytes than the length byte promised).
inline QByteArray ask(SerialPort& port, const QByteArray& text, int firstWaitMs = 60) {
    port.purge();
    port.write("@" + text);
    const int code = port.readByte(firstWaitMs);
    if (code <= 0) return code == 0 ? "ok" : "none";
    if (code == 255) return "no";
    QByteArray payload;
    for (int b = 0; payload.size() < code && (b = port.readByte(30)) >= 0;) payload += char(b);
    return payload.size() == code ? payload : "short";
}

// Frames in turn, blank separated: "TEXT=ANSWER" (as ask() words it), or "TEXT" for "TEXT=ok".
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
