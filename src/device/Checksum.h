#pragma once
#include <QByteArray>
#include <QString>
#include <cstdint>
#include <vector>

#include "device/uDevices.h"

namespace kelvano {

// Checksums of the memory buffers, for telling images apart at a glance and for checking them
// against a file with any other tool.
//
// Both are taken over the bytes a binary file of the memory holds: flash words as two bytes
// each, low byte first; EEPROM bytes one each. For an AVR card these are exactly the bytes of
// the .bin file its slot saves; for a PIC card the flash is the start of the slot 1 file
// (2 bytes per word) and the data EEPROM its bytes in address order.
struct Checksum {
    uint32_t crc32 = 0;  // the CRC-32 of zlib, PNG and gzip
    uint16_t sum16 = 0;  // the bytes added up, modulo 65536
    int64_t bytes = 0;

    // "CRC-32 1C291CA3  sum 0FF0"
    QString text() const;
};

// The bytes of a binary file of `buffer`: `words` true for flash (two bytes a word, low first).
QByteArray memoryBytes(const TBufArray& buffer, bool words);
Checksum checksumOf(const QByteArray& bytes);

// One memory of the selected card with its checksum.
struct MemoryChecksum {
    int grid;      // 1 flash, 2 internal EEPROM, 3 external EEPROM
    QString name;  // "flash", "internal EEPROM", "external EEPROM"
    Checksum sum;
};
// The three memories of the selected card, in grid order.
std::vector<MemoryChecksum> memoryChecksums(const TDevices& devices);
// The checksum of one grid's buffer (1, 2, 3).
Checksum gridChecksum(const TDevices& devices, int grid);

}  // namespace kelvano
