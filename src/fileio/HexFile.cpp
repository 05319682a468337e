// Intel HEX: the 16-bit dialect. Data and end records are read; extended address records
// (types 02 and 04) are accepted with a zero base only, since every address of the image
// lies below 0x10000; the other record types are checked and skipped.
#include <QByteArray>
#include <algorithm>
#include <array>
#include <cerrno>

#include "base/Host.h"
#include "fileio/SafeWrite.h"
#include "fileio/TextLines.h"
#include "fileio/uFileio.h"

namespace kelvano {

namespace {
inline int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// The value of `digits` hex digits at `pos` (0-based) of the line, or -1 when one of them is
// missing or not a hex digit.
inline int hexField(const QByteArray& line, qsizetype pos, int digits) {
    if (pos + digits > line.size()) return -1;
    int v = 0;
    for (int i = 0; i < digits; ++i) {
        const int d = hexDigit(line[pos + i]);
        if (d < 0) return -1;
        v = v << 4 | d;
    }
    return v;
}

// A record line's fields; `data` holds `count` bytes.
struct RecordFields {
    int count = 0;
    int address = 0;
    int type = 0;
    uint8_t data[255];
};

// Reads the fields of a record line (one that starts with ':'), checking its length, its
// digits and its checksum in that order: kLoadOk, or the error of the first check that fails.
int parseRecord(const QByteArray& line, bool overlong, RecordFields& record) {
    const qsizetype len = line.size();
    if (overlong || len % 2 == 0) return kHexWrongLength;
    const int n = hexField(line, 1, 2);
    if (n < 0) return kHexIllegalChar;
    if ((len - 1) / 2 - n != 5) return kHexWrongLength;
    const int addr = hexField(line, 3, 4);
    const int type = hexField(line, 7, 2);
    if (addr < 0 || type < 0) return kHexIllegalChar;
    unsigned sum = static_cast<unsigned>(n + (addr >> 8) + (addr & 0xFF) + type);
    for (int i = 0; i < n; ++i) {
        const int b = hexField(line, 9 + 2 * i, 2);
        if (b < 0) return kHexIllegalChar;
        record.data[i] = static_cast<uint8_t>(b);
        sum += static_cast<unsigned>(b);
    }
    const int check = hexField(line, 9 + 2 * n, 2);
    if (check < 0) return kHexIllegalChar;
    if (((sum + static_cast<unsigned>(check)) & 0xFF) != 0) return kHexWrongChecksum;
    record.count = n;
    record.address = addr;
    record.type = type;
    return kLoadOk;
}

// What a well-formed record does besides placing data: the end record ends the file (`done`),
// an extended address record must name a zero base, any other type is skipped. `anyRecord`
// is set by a data or end record; a data record that runs past the image is refused.
int checkRecord(const RecordFields& record, bool& anyRecord, bool& done) {
    const int n = record.count;
    if (record.type == 2 || record.type == 4) {
        // A base of zero is what assemblers write for small images; any other base would move
        // the data out of the image.
        for (int i = 0; i < n; ++i)
            if (record.data[i] != 0) return kHexAddressRange;
    } else if (record.type == 0) {
        anyRecord = true;
        // The image ends at 0xFFFF; a record running past it is refused rather than cut, so
        // that no byte of the file is silently lost.
        if (record.address + n > TFileIo::kImageSize) return kHexAddressRange;
    } else if (record.type == 1) {
        anyRecord = done = true;
    }
    return kLoadOk;
}

// Letting window events run after every line would cost more than reading the line; every
// 64 lines keeps the window live while a large file loads.
constexpr int kLinesPerPump = 64;

const char kDigits[] = "0123456789ABCDEF";
inline void putHex(QByteArray& s, unsigned v, int digits) {
    for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4)
        s.append(kDigits[(v >> shift) & 0xF]);
}
}  // namespace

int TFileIo::ReadHexFile() {
    fillImage();
    LineNo = 1;
    LineText.clear();
    int error = 0;
    FilePtr f = openFile(FileName, "rb", error);
    if (!f) {
        ShowIoError(error);
        return error;
    }
    TextLines lines(f.get());
    QByteArray line, incoming;  // the line in hand stays when the file ends
    int result = kLoadOk;
    bool done = false;
    bool anyRecord = false;  // a data or end record was seen
    RecordFields record;
    while (!done && lines.next(incoming)) {
        line.swap(incoming);
        if (LineNo % kLinesPerPump == 0) host_.processEvents();
        if (!line.isEmpty() && line[0] == ':') {
            result = parseRecord(line, lines.overlong(), record);
            if (result == kLoadOk) result = checkRecord(record, anyRecord, done);
            if (result == kLoadOk && record.type == 0)
                result = placeBytes(record.address, record.data, record.count, LineNo);
            if (result != kLoadOk) break;
        }
        if (done) break;
        ++LineNo;
    }
    LineText = QString::fromLatin1(line);
    if (result == kLoadOk && lines.error()) {
        result = lines.error();
        ShowIoError(result);
    }
    // An empty file, a listing or any other text without a single record is no HEX file.
    if (result == kLoadOk && !anyRecord) {
        LineNo -= 1;  // the number of lines read
        result = kHexNoRecords;
    }
    if (result == kLoadOk && !done)
        warnings_ << QStringLiteral(
            "The Intel HEX file ends without an end record: it may be cut short");
    return result;
}

QString TFileIo::HexRecord(const TBufArray& buffer, int start, int style, int offset, int count) {
    int first = style == 1 ? 0 : start;
    int n = count;
    if (first < 0) first = 0;
    if (first + n > buffer.length()) n = buffer.length() - first;
    if (n < 0) n = 0;
    const int perElement = style == 3 ? 1 : 2;
    const unsigned byteCount = static_cast<unsigned>(n * perElement);
    const unsigned addr = static_cast<unsigned>(style == 2 ? 2 * (start + offset) : start) & 0xFFFF;
    QByteArray s;
    s.reserve(11 + 2 * static_cast<int>(byteCount));
    s.append(':');
    putHex(s, byteCount, 2);
    putHex(s, addr, 4);
    s.append("00");
    unsigned sum = byteCount + (addr >> 8) + (addr & 0xFF);
    for (int i = 0; i < n; ++i) {
        const unsigned e = buffer[first + i];
        putHex(s, e & 0xFF, 2);
        sum += e & 0xFF;
        if (perElement == 2) {
            putHex(s, (e >> 8) & 0xFF, 2);
            sum += (e >> 8) & 0xFF;
        }
    }
    putHex(s, (0x100 - (sum & 0xFF)) & 0xFF, 2);
    return QString::fromLatin1(s);
}

QStringList TFileIo::hexRecords() const {
    static const TBufArray kEmpty;
    const TBufArray& buf = SaveBuf ? *SaveBuf : kEmpty;
    QStringList out;
    if (SaveMode == 0) {
        for (int b = 0; 16 * b < buf.length(); ++b) out << HexRecord(buf, 16 * b, 3, 0, 16);
        return out;
    }
    for (int b = 0; 8 * b < buf.length(); ++b) out << HexRecord(buf, 8 * b, 2, 0, 8);
    if (SaveMode == 1) {
        const TDevices& d = devices_;
        out << HexRecord(d.IdBuf, 0x4000, 1, 0, 4);
        out << HexRecord(TBufArray{d.CfgWord}, 0x400E, 1, 0, 1);
        for (int b = 0; 8 * b < d.DataBuf.length(); ++b)
            out << HexRecord(d.DataBuf, 8 * b, 2, 0x2100, 8);
    }
    return out;
}

int TFileIo::WriteHexFile() {
    QByteArray out;
    for (const QString& r : hexRecords()) out += r.toLatin1() + "\r\n";
    out.append(":00000001FF\r\n");

    const int error = replaceFile(FileName, out);
    if (error) ShowIoError(error);
    return error;
}

}  // namespace kelvano
