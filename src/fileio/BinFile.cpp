// Raw binary images and AVR object files.
#include <cerrno>
#include <vector>

#include "fileio/SafeWrite.h"
#include "fileio/TextLines.h"
#include "fileio/uFileio.h"

namespace kelvano {

namespace {
// Reads exactly `n` bytes; 0, or the errno value (ENODATA when the file ends first).
int readExactly(std::FILE* f, uint8_t* to, size_t n) {
    errno = 0;
    if (std::fread(to, 1, n, f) == n) return 0;
    if (std::ferror(f)) return errno ? errno : EIO;
    return ENODATA;
}

inline uint32_t bigEndian32(const uint8_t* p) {
    return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}
}  // namespace

// Binary and object files are opened for reading only, so write-protected files load.
int TFileIo::ReadBinFile() {
    fillImage();
    int error = 0;
    FilePtr f = openFile(FileName, "rb", error);
    if (f) {
        // Up to the image's size; a longer file is cut there.
        errno = 0;
        const size_t got = std::fread(Image.data(), 1, Image.size(), f.get());
        if (got < Image.size() && std::ferror(f.get())) error = errno ? errno : EIO;
        // A binary file cannot tell data from erased bytes: every byte but 0xFF is data.
        markData(0, static_cast<int64_t>(got));
        // What lies behind the image fits no card; its first data byte is reported.
        uint8_t rest[4096];
        for (int64_t at = kImageSize; !error && beyondImage_ < 0;) {
            const size_t n = std::fread(rest, 1, sizeof rest, f.get());
            for (size_t i = 0; i < n && beyondImage_ < 0; ++i)
                if (rest[i] != 0xFF) beyondImage_ = at + static_cast<int64_t>(i);
            at += static_cast<int64_t>(n);
            if (n < sizeof rest) break;
        }
    }
    if (error) ShowIoError(error);
    return error;
}

int TFileIo::ReadObjFile() {
    fillImage();
    int error = 0;
    FilePtr f = openFile(FileName, "rb", error);
    if (!f) {
        ShowIoError(error);
        return error;
    }
    uint8_t header[10];
    error = readExactly(f.get(), header, sizeof header);
    if (error) {
        ShowIoError(error);
        return error;
    }
    const uint32_t endPos = bigEndian32(header);
    const uint32_t firstPos = bigEndian32(header + 4);
    const int recordLength = header[8];
    // A record holds the address (3 bytes) and the word (2 bytes) and at most 5 bytes more;
    // a length of 0 would never reach the end.
    if (recordLength < 5 || recordLength > 10) return kObjBadRecordLength;
    if (std::fseek(f.get(), static_cast<long>(firstPos), SEEK_SET) != 0) {
        error = errno ? errno : EIO;
        ShowIoError(error);
        return error;
    }
    uint64_t pos = firstPos;
    uint8_t rec[10];
    while (pos < endPos) {
        error = readExactly(f.get(), rec, static_cast<size_t>(recordLength));
        if (error) {
            ShowIoError(error);
            return error;
        }
        pos += static_cast<uint64_t>(recordLength);
        const uint32_t a = uint32_t{rec[0]} << 16 | uint32_t{rec[1]} << 8 | rec[2];
        if (2 * uint64_t{a} + 1 >= kImageSize) return kObjAddressRange;
        const size_t at = 2 * size_t{a};
        // A later record for the same word replaces the earlier one.
        Image[at + 1] = rec[3];
        Image[at] = rec[4];
        origin_[at] = origin_[at + 1] = -1;
    }
    return kLoadOk;
}

int TFileIo::WriteBinFile() {
    fillImage();
    static const TBufArray kEmpty;
    const TBufArray& buf = SaveBuf ? *SaveBuf : kEmpty;
    auto put = [this](int64_t i, uint8_t v) {
        if (i >= 0 && i < kImageSize) Image[static_cast<size_t>(i)] = v;
    };
    auto putWords = [&](const TBufArray& words, int64_t base) {
        for (int w = 0; w < words.length(); ++w) {
            put(base + 2 * int64_t{w}, static_cast<uint8_t>(words[w] & 0xFF));
            put(base + 2 * int64_t{w} + 1, static_cast<uint8_t>(words[w] >> 8));
        }
    };
    int64_t length = 0;
    if (SaveMode == 0) {
        for (int i = 0; i < buf.length(); ++i) put(i, static_cast<uint8_t>(buf[i] & 0xFF));
        length = buf.length();
    } else if (SaveMode == 2) {
        putWords(buf, 0);
        length = 2 * int64_t{buf.length()};
    } else {
        const TDevices& d = devices_;
        putWords(buf, 0);
        for (int k = 0; k < 4 && k < d.IdBuf.length(); ++k) {
            put(0x4000 + 2 * k, static_cast<uint8_t>(d.IdBuf[k] & 0xFF));
            put(0x4001 + 2 * k, static_cast<uint8_t>(d.IdBuf[k] >> 8));
        }
        put(0x400E, static_cast<uint8_t>(d.CfgWord & 0xFF));
        put(0x400F, static_cast<uint8_t>(d.CfgWord >> 8));
        for (int e = 0; e < d.DataBuf.length(); ++e) {
            put(0x4200 + 2 * int64_t{e}, static_cast<uint8_t>(d.DataBuf[e] & 0xFF));
            put(0x4201 + 2 * int64_t{e}, 0x00);
        }
        // The file runs to the end of the EEPROM copy (0x4400 for a 256-byte EEPROM), never
        // shorter than the 64-byte form, so that every EEPROM byte saved loads back.
        length = std::max<int64_t>(0x4280, 0x4200 + 2 * int64_t{d.DataBuf.length()});
    }
    if (length > kImageSize) length = kImageSize;

    const int error = replaceFile(FileName, QByteArray(reinterpret_cast<const char*>(Image.data()),
                                                       static_cast<qsizetype>(length)));
    if (error) ShowIoError(error);
    return error;
}

}  // namespace kelvano
