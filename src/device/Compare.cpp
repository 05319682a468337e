#include "device/Compare.h"

#include <algorithm>

namespace kelvano {

namespace {

QString hexValue(unsigned v, int digits) {
    return QStringLiteral("%1").arg(v, digits, 16, QLatin1Char('0')).toUpper();
}

QString joinValues(const std::vector<uint16_t>& values, int digits, int from, int to,
                   const QString& sep) {
    QString out;
    for (int i = from; i < to; ++i) {
        if (i > from) out += sep;
        out += hexValue(values[static_cast<size_t>(i)], digits);
    }
    return out;
}

QString plural(int n, const char* one, const char* many) {
    return QStringLiteral("%1 %2").arg(n).arg(QLatin1String(n == 1 ? one : many));
}

}  // namespace

int MemoryDiff::differences() const {
    int n = 0;
    for (const DiffRun& r : runs) n += r.count();
    return n;
}

int MemoryDiff::runAt(int address) const {
    for (size_t i = 0; i < runs.size(); ++i)
        if (address >= runs[i].first && address <= runs[i].last()) return static_cast<int>(i);
    return -1;
}

int CompareReport::differences() const {
    int n = 0;
    for (const MemoryDiff& m : memories) n += m.differences();
    return n;
}

bool CompareReport::anyNotCompared() const {
    for (const MemoryDiff& m : memories)
        if (!m.compared) return true;
    return false;
}

bool CompareReport::identical() const {
    return !memories.empty() && !anyNotCompared() && differences() == 0;
}

const MemoryDiff* CompareReport::memory(int grid) const {
    for (const MemoryDiff& m : memories)
        if (m.grid == grid && grid != 0) return &m;
    return nullptr;
}

QString CompareReport::text(int maxValues) const {
    QString out;
    for (const MemoryDiff& m : memories) {
        if (!m.compared) {
            out += QStringLiteral("%1: not compared (%2)\n").arg(m.name, m.note);
            continue;
        }
        const int n = m.differences();
        if (n == 0) {
            out += QStringLiteral("%1: no differences in %2\n")
                       .arg(m.name, plural(m.elements, "address", "addresses"));
            continue;
        }
        out += QStringLiteral("%1: %2 in %3\n")
                   .arg(m.name, plural(n, "difference", "differences"),
                        plural(int(m.runs.size()), "run", "runs"));
        const int addrDigits = 4;
        for (const DiffRun& r : m.runs) {
            const int shown = std::min(r.count(), maxValues);
            const QString more = shown < r.count()
                                     ? QStringLiteral(" ... (%1 more)").arg(r.count() - shown)
                                     : QString();
            const QString range = r.count() == 1
                                      ? hexValue(unsigned(r.first), addrDigits)
                                      : hexValue(unsigned(r.first), addrDigits) + QLatin1Char('-') +
                                            hexValue(unsigned(r.last()), addrDigits);
            out += QStringLiteral("  %1  expected %2%3\n")
                       .arg(range.leftJustified(9),
                            joinValues(r.expected, m.digits, 0, shown, QStringLiteral(" ")), more);
            out += QStringLiteral("  %1  found    %2%3\n")
                       .arg(QString(9, QLatin1Char(' ')),
                            joinValues(r.found, m.digits, 0, shown, QStringLiteral(" ")), more);
        }
    }
    return out + summary() + u'\n';
}

QString CompareReport::summary() const {
    const int total = differences();
    if (std::none_of(memories.begin(), memories.end(),
                     [](const MemoryDiff& m) { return m.compared; }))
        return QStringLiteral("Nothing was compared.");
    if (total > 0)
        return QStringLiteral("%1 in all.").arg(plural(total, "difference", "differences"));
    return anyNotCompared() ? QStringLiteral("No differences in the memories compared.")
                            : QStringLiteral("No differences.");
}

QString CompareReport::diffLines() const {
    QString out;
    for (const MemoryDiff& m : memories) {
        if (!m.compared) continue;
        for (const DiffRun& r : m.runs)
            out += QStringLiteral("%1 %2-%3 %4 %5 %6\n")
                       .arg(m.key, hexValue(unsigned(r.first), 4), hexValue(unsigned(r.last()), 4))
                       .arg(r.count())
                       .arg(joinValues(r.expected, m.digits, 0, r.count(), QString()),
                            joinValues(r.found, m.digits, 0, r.count(), QString()));
    }
    for (const MemoryDiff& m : memories)
        if (!m.compared) out += QStringLiteral("skipped %1\n").arg(m.key);
    return out;
}

MemoryDiff diffMemory(const QString& key, const QString& name, int grid, int digits,
                      const TBufArray& expected, const TBufArray& found, uint16_t mask) {
    MemoryDiff m;
    m.key = key;
    m.name = name;
    m.grid = grid;
    m.digits = digits;
    m.elements = std::max(expected.length(), found.length());
    DiffRun* open = nullptr;
    for (int a = 0; a < m.elements; ++a) {
        const bool haveE = a < expected.length(), haveF = a < found.length();
        const uint16_t e = static_cast<uint16_t>((haveE ? expected[a] : ~found[a]) & mask);
        const uint16_t f = static_cast<uint16_t>((haveF ? found[a] : ~expected[a]) & mask);
        if (e == f) {
            open = nullptr;
            continue;
        }
        if (!open) {
            m.runs.push_back(DiffRun{a, {}, {}});
            open = &m.runs.back();
        }
        open->expected.push_back(e);
        open->found.push_back(f);
    }
    return m;
}

MemoryDiff skippedMemory(const QString& key, const QString& name, int grid, const QString& note) {
    MemoryDiff m;
    m.key = key;
    m.name = name;
    m.grid = grid;
    m.compared = false;
    m.note = note;
    return m;
}

void diffBuffers(CompareReport& report, const TDevices& expected, const TDevices& found, int what) {
    const bool pic = isPicCode(expected.DeviceId);
    if (what & 1)
        report.memories.push_back(
            diffMemory(QStringLiteral("flash"), QStringLiteral("Program Memory"), 1, 4,
                       expected.ProgBuf, found.ProgBuf, pic ? 0x3FFF : 0xFFFF));
    if (what & 2)
        report.memories.push_back(diffMemory(QStringLiteral("data"), QStringLiteral("Data Memory"),
                                             2, 2, expected.DataBuf, found.DataBuf, 0xFF));
    if (what & 4)
        report.memories.push_back(diffMemory(QStringLiteral("eeprom"),
                                             QStringLiteral("EEPROM Memory"), 3, 2, expected.EepBuf,
                                             found.EepBuf, 0xFF));
}

MemoryDiff diffPicConfiguration(const TDevices& expected, const TDevices& found) {
    // 0x2000 + k for the ID locations, 0x2007 for the configuration word; the words in
    // between are not part of a card's configuration and never differ.
    TBufArray e, f;
    e.resize(8, 0);
    f.resize(8, 0);
    for (int k = 0; k < 4; ++k) {
        e[k] = k < expected.IdBuf.length() ? expected.IdBuf[k] & 0xF : 0xF;
        f[k] = k < found.IdBuf.length() ? found.IdBuf[k] & 0xF : 0xF;
    }
    e[7] = expected.CfgWord & 0x3FFF;
    f[7] = found.CfgWord & 0x3FFF;
    MemoryDiff m =
        diffMemory(QStringLiteral("config"), QStringLiteral("Configuration"), 0, 4, e, f, 0x3FFF);
    for (DiffRun& r : m.runs) r.first += 0x2000;
    m.elements = 5;
    return m;
}

}  // namespace kelvano
