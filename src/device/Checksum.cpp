#include "device/Checksum.h"

#include <zlib.h>

#include <algorithm>

namespace kelvano {

QString Checksum::text() const {
    return QStringLiteral("CRC-32 %1  sum %2")
        .arg(QStringLiteral("%1").arg(crc32, 8, 16, QLatin1Char('0')).toUpper(),
             QStringLiteral("%1").arg(sum16, 4, 16, QLatin1Char('0')).toUpper());
}

QByteArray memoryBytes(const TBufArray& buffer, bool words) {
    QByteArray bytes;
    bytes.reserve(qsizetype{buffer.length()} * (words ? 2 : 1));
    for (uint16_t v : buffer.values()) {
        bytes.append(static_cast<char>(v & 0xFF));
        if (words) bytes.append(static_cast<char>(v >> 8));
    }
    return bytes;
}

Checksum checksumOf(const QByteArray& bytes) {
    Checksum c;
    c.bytes = bytes.size();
    uLong crc = ::crc32(0L, Z_NULL, 0);
    // zlib takes at most a uInt's worth at a time; the buffers are far smaller, but stay safe.
    const auto* p = reinterpret_cast<const Bytef*>(bytes.constData());
    for (qsizetype left = bytes.size(); left > 0;) {
        const uInt n = static_cast<uInt>(std::min<qsizetype>(left, 1 << 30));
        crc = ::crc32(crc, p, n);
        p += n;
        left -= n;
    }
    c.crc32 = static_cast<uint32_t>(crc);
    uint32_t sum = 0;
    for (char b : bytes) sum += static_cast<uint8_t>(b);
    c.sum16 = static_cast<uint16_t>(sum & 0xFFFF);
    return c;
}

Checksum gridChecksum(const TDevices& devices, int grid) {
    switch (grid) {
        case 1:
            return checksumOf(memoryBytes(devices.ProgBuf, true));
        case 2:
            return checksumOf(memoryBytes(devices.DataBuf, false));
        default:
            return checksumOf(memoryBytes(devices.EepBuf, false));
    }
}

std::vector<MemoryChecksum> memoryChecksums(const TDevices& devices) {
    return {{1, QStringLiteral("flash"), gridChecksum(devices, 1)},
            {2, QStringLiteral("internal EEPROM"), gridChecksum(devices, 2)},
            {3, QStringLiteral("external EEPROM"), gridChecksum(devices, 3)}};
}

}  // namespace kelvano
