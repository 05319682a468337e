#pragma once
#include <QString>
#include <cstdint>
#include <vector>

#include "device/uDevices.h"

namespace kelvano {

// The differences between two sets of memory contents (the buffers and a card, or the
// buffers and a file), grouped into runs of adjacent differing addresses per memory.

// One run: `count` adjacent differing elements from address `first`.
struct DiffRun {
    int first = 0;
    std::vector<uint16_t> expected;  // the buffer's values
    std::vector<uint16_t> found;     // the card's or the file's values
    int count() const { return static_cast<int>(expected.size()); }
    int last() const { return first + count() - 1; }
};

// What was found in one memory.
struct MemoryDiff {
    QString key;     // "flash", "data", "eeprom", "config": the script format's name
    QString name;    // "Program Memory", "Data Memory", "EEPROM Memory", "Configuration"
    int grid = 0;    // the grid that shows the memory (1 pGrid, 2 dGrid, 3 eGrid), 0 none
    int digits = 2;  // hex digits of a value: 2 bytes, 4 words
    bool compared = true;
    QString note;  // why the memory was not compared (compared false)
    int elements = 0;
    std::vector<DiffRun> runs;

    int differences() const;
    // The run holding `address`, or -1.
    int runAt(int address) const;
};

// The result of one comparison, in the order the memories were added.
struct CompareReport {
    QString against;  // what the buffers were compared with: "card" or the file's name
    std::vector<MemoryDiff> memories;

    int differences() const;
    // True when there was something to compare, every memory was compared and none differs.
    bool identical() const;
    bool anyNotCompared() const;
    const MemoryDiff* memory(int grid) const;

    // The report for people, one block per memory; runs longer than `maxValues` elements
    // show their first values and how many more there are.
    QString text(int maxValues = 16) const;
    // The report's last line, without its line end: "Nothing was compared.", "No differences.",
    // "No differences in the memories compared." or "N difference(s) in all.".
    QString summary() const;
    // One line per run, for scripts: key first-last count expected found, hex values joined
    // without blanks; then one line "skipped key" per memory not compared.
    QString diffLines() const;
};

// Compares the first `elements` values of two buffers under `mask` (0x3FFF for PIC words,
// 0xFF for bytes, 0xFFFF for AVR words). Values past the end of a buffer count as differing
// from any value (shown as the masked complement of the other side).
MemoryDiff diffMemory(const QString& key, const QString& name, int grid, int digits,
                      const TBufArray& expected, const TBufArray& found, uint16_t mask);
// A memory that could not be compared, with the reason.
MemoryDiff skippedMemory(const QString& key, const QString& name, int grid, const QString& note);

// The ordinary entries of the selected card type: flash, internal EEPROM and external EEPROM
// with the masks of the card's family. `what` picks them: bit 0 flash, 1 data, 2 eeprom.
void diffBuffers(CompareReport& report, const TDevices& expected, const TDevices& found, int what);
// The PIC configuration word and ID locations (addresses 2000-2003 and 2007).
MemoryDiff diffPicConfiguration(const TDevices& expected, const TDevices& found);

}  // namespace kelvano
