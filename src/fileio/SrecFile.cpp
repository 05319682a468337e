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

// Line `number` (1-based) of the file, for the error message; empty when there is none.
QString lineOf(std::FILE* file, int number) {
    if (number < 1 || std::fseek(file, 0, SEEK_SET) != 0) return {};
    TextLines lines(file);
    QByteArray line;
    for (int n = 1; lines.next(line); ++n)
        if (n == number) return QString::fromLatin1(line.left(200));
    return {};
}

// Copies one data record into the image; a record beyond the image is refused through the
// library, so the message names the line it was read from.
void placeRecord(const srecord::input& in, const srecord::record& rec, uint8_t* image) {
    const uint64_t start = rec.get_address();
    const uint64_t end = start + rec.get_length();
    if (end > TFileIo::kImageSize)
        in.fatal_error("Address out of range (0x%llX to 0x%llX)",
                       static_cast<unsigned long long>(start),
                       static_cast<unsigned long long>(end - 1));
    std::copy_n(rec.get_data(), rec.get_length(), image + start);
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
    try {
        srecord::input_file::pointer in = format->create(path);
        in->set_quit(quit);
        srecord::record rec;
        while (in->read(rec)) {
            if (rec.get_type() != srecord::record::type_data || rec.get_length() == 0) continue;
            placeRecord(*in, rec, Image.data());
            anyData = true;
        }
    } catch (const LibraryStop&) {
        splitMessage(quit.last, path, LineNo, reason_);
        LineText = lineOf(f.get(), LineNo);
        return kTextFormatError;
    }
    return anyData ? kLoadOk : kTextNoData;
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
