// Motorola S-records and the other text formats of libsrecord that hold a plain memory image
// (TI-TXT, Tektronix extended, MOS Technology). The library parses the lines and checks their
// checksums; every data record lands in the image at its byte address, exactly where an
// Intel HEX file of the same data puts it. S-records are also written, with the data records
// of a HEX save.
#include <srecord/input/file.h>
#include <srecord/input/file/mos_tech.h>
#include <srecord/input/file/tektronix_extended.h>
#include <srecord/input/file/ti_txt.h>
#include <srecord/quit.h>
#include <srecord/record.h>

#include <QByteArray>
#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <string>
#include <vector>

#include "fileio/SafeWrite.h"
#include "fileio/TextLines.h"
#include "fileio/uFileio.h"

namespace srecord {
// Debian's package has the library's Motorola reader but not its header; this is the one
// entry point used, as the library declares it.
class input_file_motorola {
public:
    static input_file::pointer create(const std::string& file_name);
};
}  // namespace srecord

namespace kelvano {

namespace {
// Thrown where the library would end the program.
struct LibraryStop {};

// The library reports a fatal error through its quitter and then calls its exit(): the
// message is kept and the exit becomes an exception that unwinds back to the reader.
class CatchingQuit : public srecord::quit {
public:
    void message_v(const char* fmt, va_list ap) override {
        char text[512];
        std::vsnprintf(text, sizeof text, fmt, ap);
        last = text;
    }
    void exit(int) override { throw LibraryStop{}; }

    std::string last;  // the last message: on a stop, the fatal one
};

// The path under which the library opens a file that is already open here: it reaches the
// same file even if the name is removed meanwhile, so the library's own open cannot fail
// (a failed open would end the program from the library's destructor).
std::string descriptorPath(int fd) { return "/proc/self/fd/" + std::to_string(fd); }

struct LibraryFormat {
    FileKind kind;
    const char* name;  // as the messages name the file
    srecord::input_file::pointer (*create)(const std::string&);
};

const LibraryFormat kFormats[] = {
    {FileKind::Srec, "S-record file", &srecord::input_file_motorola::create},
    {FileKind::TiTxt, "TI-TXT file", &srecord::input_file_ti_txt::create},
    {FileKind::TekExt, "Tektronix file", &srecord::input_file_tektronix_extended::create},
    {FileKind::MosTech, "MOS Technology file", &srecord::input_file_mos_tech::create},
};

// Splits "<path>: <line>: <reason>" as the library words its messages; a message without a
// line number leaves `line` at 0.
void splitMessage(const std::string& message, const std::string& path, int& line, QString& reason) {
    std::string rest = message;
    if (rest.compare(0, path.size() + 2, path + ": ") == 0) rest.erase(0, path.size() + 2);
    line = 0;
    size_t digits = 0;
    while (digits < rest.size() && rest[digits] >= '0' && rest[digits] <= '9' && digits < 9)
        ++digits;
    if (digits > 0 && rest.compare(digits, 2, ": ") == 0) {
        line = std::stoi(rest.substr(0, digits));
        rest.erase(0, digits + 2);
    }
    reason = QString::fromLocal8Bit(rest.c_str());
}

// The line the library is reading, from the "<path>: <line>" it names it by; 0 when unknown.
int32_t currentLine(const srecord::input& in, const std::string& path) {
    int line = 0;
    QString rest;
    splitMessage(in.filename_and_line() + ": ", path, line, rest);
    return line;
}

// A data record beyond the image is refused through the library, so the message names the
// line it was read from.
void checkRange(const srecord::input& in, const srecord::record& rec) {
    const uint64_t start = rec.get_address();
    const uint64_t end = start + rec.get_length();
    if (end > TFileIo::kImageSize)
        in.fatal_error("Address out of range (0x%llX to 0x%llX)",
                       static_cast<unsigned long long>(start),
                       static_cast<unsigned long long>(end - 1));
}

// Whether `line` is the record that ends a file of the format: S5 to S9 for S-records (a
// count or a start address), "q" for TI-TXT, the termination record (type 8) for Tektronix
// extended and the last record (count 00) for MOS Technology.
bool isEndRecord(FileKind kind, const QByteArray& line) {
    const QByteArray l = line.trimmed();
    switch (kind) {
        case FileKind::Srec:
            return l.size() >= 2 && (l[0] == 'S' || l[0] == 's') && l[1] >= '5' && l[1] <= '9';
        case FileKind::TiTxt:
            return l == "q" || l == "Q";
        case FileKind::TekExt:
            return l.size() >= 4 && l[0] == '%' && l[3] == '8';
        case FileKind::MosTech:
            return l.startsWith(";00");
        default:
            return true;
    }
}

// The lines of a TI-TXT file that give a value to `address`, at most two. The library hands a
// run of data lines on as one record when the run ends, so it cannot name them itself.
std::vector<int32_t> tiTxtLinesOf(std::FILE* file, int64_t address) {
    std::vector<int32_t> found;
    if (std::fseek(file, 0, SEEK_SET) != 0) return found;
    TextLines lines(file);
    QByteArray line;
    int64_t at = 0;
    for (int32_t n = 1; found.size() < 2 && lines.next(line); ++n) {
        const QByteArray l = line.trimmed();
        if (l.startsWith('@')) {
            at = l.mid(1).toLongLong(nullptr, 16);
            continue;
        }
        const auto count = static_cast<int64_t>(l.simplified().split(' ').size());
        if (!l.isEmpty() && address >= at && address < at + count) found.push_back(n);
        if (!l.isEmpty()) at += count;
    }
    return found;
}

bool hasEndRecord(std::FILE* file, FileKind kind) {
    if (std::fseek(file, 0, SEEK_SET) != 0) return true;  // the reader has read it already
    TextLines lines(file);
    QByteArray line;
    while (lines.next(line))
        if (isEndRecord(kind, line)) return true;
    return false;
}
}  // namespace

int TFileIo::ReadLibraryFile(FileKind kind) {
    fillImage();
    LineNo = 0;
    LineText.clear();
    const auto* format = std::find_if(std::begin(kFormats), std::end(kFormats),
                                      [kind](const LibraryFormat& f) { return f.kind == kind; });
    if (format == std::end(kFormats)) return kFileTypeError;
    formatName_ = QLatin1String(format->name);
    int error = 0;
    FilePtr f = openFile(FileName, "rb", error);
    if (!f) {
        ShowIoError(error);
        return error;
    }
    const std::string path = descriptorPath(fileno(f.get()));
    // Where that path cannot be opened (no /proc), the library must not try: it would end
    // the program.
    if (FilePtr probe(std::fopen(path.c_str(), "rb")); !probe) {
        error = errno ? errno : EIO;
        ShowIoError(error);
        return error;
    }
    CatchingQuit quit;  // outlives the input, whose destructor may still report
    bool anyData = false;
    int result = kLoadOk;
    try {
        srecord::input_file::pointer in = format->create(path);
        in->set_quit(quit);
        srecord::record rec;
        while (in->read(rec)) {
            if (rec.get_type() != srecord::record::type_data || rec.get_length() == 0) continue;
            checkRange(*in, rec);
            LineNo = kind == FileKind::TiTxt ? -1 : currentLine(*in, path);
            result = placeBytes(rec.get_address(), rec.get_data(), rec.get_length(), LineNo);
            if (result == kDataConflict && kind == FileKind::TiTxt) {
                const std::vector<int32_t> lines = tiTxtLinesOf(f.get(), conflict_.address);
                conflict_.firstLine = lines.size() > 0 ? lines[0] : 0;
                conflict_.secondLine = lines.size() > 1 ? lines[1] : 0;
            }
            if (result != kLoadOk) return result;
            anyData = true;
        }
    } catch (const LibraryStop&) {
        splitMessage(quit.last, path, LineNo, reason_);
        LineText = fileLine(LineNo);
        return kTextFormatError;
    }
    if (!anyData) return kTextNoData;
    if (!hasEndRecord(f.get(), kind))
        warnings_ << QStringLiteral("The %1 ends without an end record: it may be cut short")
                         .arg(formatName_);
    return kLoadOk;
}

// The writer formats its lines itself: the library's writers report a failed write through
// a quitter that cannot be replaced, and would end the program on a full disk.
int TFileIo::WriteSrecFile(int addressBytes) {
    const int a = std::clamp(addressBytes, 2, 4);
    QByteArray out;
    // One record: 'S', its type, the count of the bytes after it, the address, the data and
    // the ones' complement of the low byte of their sum.
    auto record = [&out](char type, int addrBytes, uint32_t address, const QByteArray& data) {
        QByteArray body;
        body.append(static_cast<char>(addrBytes + data.size() + 1));
        for (int shift = 8 * (addrBytes - 1); shift >= 0; shift -= 8)
            body.append(static_cast<char>((address >> shift) & 0xFF));
        body += data;
        unsigned sum = 0;
        for (char c : body) sum += static_cast<uint8_t>(c);
        body.append(static_cast<char>(~sum & 0xFF));
        out += 'S' + QByteArray(1, type) + body.toHex().toUpper() + "\r\n";
    };
    record('0', 2, 0, QByteArrayLiteral("KELVANO"));
    int count = 0;
    for (const QString& line : hexRecords()) {
        // count, address high and low, type, data..., checksum
        const QByteArray r = QByteArray::fromHex(line.mid(1).toLatin1());
        const uint32_t address = uint32_t(uint8_t(r[1])) << 8 | uint8_t(r[2]);
        record(char('0' + a - 1), a, address, r.mid(4, uint8_t(r[0])));
        ++count;
    }
    if (count <= 0xFFFF)
        record('5', 2, static_cast<uint32_t>(count), {});
    else
        record('6', 3, static_cast<uint32_t>(count), {});
    record(char('0' + 11 - a), a, 0, {});  // the start record: S9, S8 or S7

    const int error = replaceFile(FileName, out);
    if (error) ShowIoError(error);
    return error;
}

}  // namespace kelvano
