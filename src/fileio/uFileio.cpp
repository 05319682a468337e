#include "fileio/uFileio.h"

#include <QFile>
#include <algorithm>
#include <cctype>
#include <cstring>

#include "base/Host.h"
#include "base/MainView.h"

namespace kelvano {

namespace {
const QLatin1String kHexTypes(".hex.h8.eep");
const QLatin1String kBinTypes(".bin");
const QLatin1String kObjTypes(".obj");
const QLatin1String kCrdTypes(".crd");
const QLatin1String kSrecTypes(".s19.srec.mot.sx");  // written with 16-bit addresses
const QLatin1String kS28Types(".s28");
const QLatin1String kS37Types(".s37");
const QLatin1String kTiTxtTypes(".txt");
const QLatin1String kElfTypes(".elf");

// An extension selects a format when it occurs in the format's list, so ".h" or ".ee" are
// Intel HEX too; an empty extension selects nothing.
bool selects(QLatin1String types, const QString& ext) {
    return !ext.isEmpty() && QString(types).contains(ext);
}

// Marks the module busy for one load or save. The HEX reader and the grid redraws let window
// events run, and one of them could start another load on the same image.
class BusyGuard {
public:
    explicit BusyGuard(bool& flag) : flag_(flag) { flag_ = true; }
    ~BusyGuard() { flag_ = false; }
    BusyGuard(const BusyGuard&) = delete;
    BusyGuard& operator=(const BusyGuard&) = delete;

private:
    bool& flag_;
};
}  // namespace

TFileIo::TFileIo(Host& host, TDevices& devices, FuseModel& fuses, MainView* view)
    : host_(host), devices_(devices), fuses_(fuses), view_(view) {
    fillImage();
}

QString TFileIo::Extension(const QString& name) {
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    if (dot < 0) return {};
    for (qsizetype i = dot + 1; i < name.size(); ++i) {
        const QChar c = name.at(i);
        if (c == QLatin1Char('/') || c == QLatin1Char('\\') || c == QLatin1Char(':')) return {};
    }
    return name.mid(dot).toLower();
}

namespace {
bool isHexText(const QByteArray& s) {
    return !s.isEmpty() &&
           std::all_of(s.begin(), s.end(), [](char c) { return std::isxdigit(uchar(c)) != 0; });
}

// The text formats whose first line tells them apart: a mark and nothing but hex digits after
// it, so that a comment or a listing line never passes for one.
FileKind textKindOf(const QByteArray& head) {
    QByteArray line = head;
    while (line.startsWith('\r') || line.startsWith('\n')) line.remove(0, 1);
    const qsizetype end = line.indexOf('\n');
    line = line.left(end < 0 ? line.size() : end).trimmed();
    if (line.size() >= 4 && line[0] == 'S' && line[1] >= '0' && line[1] <= '9' &&
        isHexText(line.mid(2)))
        return FileKind::Srec;
    if (line.size() >= 2 && line[0] == '@' && isHexText(line.mid(1))) return FileKind::TiTxt;
    if (line.size() >= 10 && line[0] == '%' && isHexText(line.mid(1))) return FileKind::TekExt;
    if (line.size() >= 10 && line[0] == ';' && isHexText(line.mid(1))) return FileKind::MosTech;
    return FileKind::None;
}
}  // namespace

FileKind TFileIo::Kind(const QString& name) {
    QByteArray head;
    QFile f(name);
    if (f.open(QIODevice::ReadOnly)) head = f.read(512);
    static const QByteArray kElfMagic(
        "\x7f"
        "ELF",
        4);
    if (head.startsWith(kElfMagic)) return FileKind::Elf;
    const QString ext = Extension(name);
    // Binary images and object files may begin with any bytes: their extension decides.
    if (selects(kBinTypes, ext)) return FileKind::Bin;
    if (selects(kObjTypes, ext)) return FileKind::Obj;
    if (selects(kCrdTypes, ext)) return FileKind::Crd;
    if (const FileKind text = textKindOf(head); text != FileKind::None) return text;
    if (selects(kHexTypes, ext)) return FileKind::Hex;
    if (selects(kSrecTypes, ext) || selects(kS28Types, ext) || selects(kS37Types, ext))
        return FileKind::Srec;
    if (selects(kTiTxtTypes, ext)) return FileKind::TiTxt;
    if (selects(kElfTypes, ext)) return FileKind::Elf;
    return FileKind::None;
}

void TFileIo::ShowError(const QString& text) { host_.showError(text); }

void TFileIo::ShowIoError(int code, const QString& path) {
    ShowError(QStringLiteral("I/O-Error #") + QString::number(code) + QLatin1Char('\r') +
              QString::fromLocal8Bit(std::strerror(code)) + QStringLiteral("\rFile: ") +
              (path.isEmpty() ? FileName : path));
}

void TFileIo::ReportLoadError(int code) {
    const QString file = QStringLiteral("File: ") + FileName + QStringLiteral("\r\r");
    const QString line = QString::number(LineNo) + QLatin1Char('\r') + LineText + QLatin1Char('\r');
    if (code == kHexNoRecords) {
        ShowError(file +
                  QStringLiteral("No data or end record in Hexfile (%1 lines read)").arg(LineNo));
        return;
    }
    if (code >= 260 && code <= 279) {
        QString reason;
        switch (code) {
            case kHexIllegalChar:
                reason = QStringLiteral("Illegal character");
                break;
            case kHexWrongLength:
                reason = QStringLiteral("Wrong length");
                break;
            case kHexWrongChecksum:
                reason = QStringLiteral("Wrong checksum");
                break;
            case kHexAddressRange:
                reason = QStringLiteral("Address out of range");
                break;
            default:
                break;
        }
        ShowError(file + QStringLiteral("Error in Hexfile, Line #") + line + QLatin1Char('(') +
                  reason + QLatin1Char(')'));
        return;
    }
    switch (code) {
        case kFileTypeError:
            ShowError(QStringLiteral("File type error!\r") + file +
                      QStringLiteral("Files read: Intel HEX (.hex .h8 .eep), binary (.bin), "
                                     "AVR object (.obj), card dump (.crd), S-records (.s19 .s28 "
                                     ".s37 .srec .mot), TI-TXT (.txt), ELF (.elf), Tektronix "
                                     "extended and MOS Technology"));
            return;
        case kDataConflict:
            ShowError(file + conflictText());
            return;
        case kDataOutside:
            ShowError(file + outside_);
            return;
        case kCrdIllegalChar:
        case kCrdLineTooLong:
        case kCrdAddressRange: {
            const char* reason = code == kCrdIllegalChar   ? "Illegal character"
                                 : code == kCrdLineTooLong ? "Line too long"
                                                           : "Address out of range";
            ShowError(file + QStringLiteral("Error in CRD-file, Line #") + line + QLatin1Char('(') +
                      QLatin1String(reason) + QLatin1Char(')'));
            return;
        }
        case kCrdNoData:
            ShowError(file + QStringLiteral("No data in CRD-file (%1 lines read)").arg(LineNo));
            return;
        case kObjBadRecordLength:
            ShowError(file + QStringLiteral("Error in AVR object file\r(Wrong record length)"));
            return;
        case kObjAddressRange:
            ShowError(file + QStringLiteral("Error in AVR object file\r(Address out of range)"));
            return;
        case kFileBusy:
            ShowError(QStringLiteral("A file is still being loaded or saved."));
            return;
        case kTextFormatError:
            // A failed read names no line.
            ShowError(file + QStringLiteral("Error in ") + formatName_ +
                      (LineNo > 0 ? QStringLiteral(", Line #") + line : QStringLiteral("\r")) +
                      QLatin1Char('(') + reason_ + QLatin1Char(')'));
            return;
        case kTextNoData:
            ShowError(file + QStringLiteral("No data in ") + formatName_);
            return;
        case kElfError:
            ShowError(file + QStringLiteral("Error in ELF file\r(") + reason_ + QLatin1Char(')'));
            return;
        default:
            return;  // success, or already shown by the reader
    }
}

int TFileIo::readFile(FileKind kind) {
    switch (kind) {
        case FileKind::Hex:
            return ReadHexFile();
        case FileKind::Bin:
            return ReadBinFile();
        case FileKind::Obj:
            return ReadObjFile();
        case FileKind::Crd:
            return ReadCrdFile();
        case FileKind::Elf:
            return ReadElfFile();
        case FileKind::None:
            return kFileTypeError;
        default:
            return ReadLibraryFile(kind);
    }
}

bool TFileIo::OpenFile(const QString& name, int slot) {
    if (busy_) {
        ReportLoadError(kFileBusy);
        return false;
    }
    BusyGuard guard(busy_);
    FileName = name;
    fillImage();
    const FileKind kind = Kind(name);
    int result = readFile(kind);
    // An ELF file's memories are checked against the card by its reader.
    if (result == kLoadOk && kind != FileKind::Elf) result = checkFits(slot);
    if (result == kLoadOk && !confirmWarnings()) result = kLoadAborted;
    lastLoad_ = {name, slot, result, warnings_};
    if (result != kLoadOk) {
        ReportLoadError(result);
        return false;
    }
    if (kind == FileKind::Elf) {
        slotLoads_[1] = lastLoad_;
        if (!elf_.eeprom.empty()) slotLoads_[2] = lastLoad_;
        return copyElfToCard();
    }
    if (slot >= 1 && slot <= 3) slotLoads_[size_t(slot)] = lastLoad_;
    return copyImageToSlot(slot);
}

bool TFileIo::copyImageToSlot(int slot) {
    const int code = devices_.DeviceId;
    int label = 0;  // file label (grid tag) to set, 0 none
    int page = 0;   // memory page to show, 0 none
    if (isPicCode(code)) {
        if (slot == 1) {
            copyPicProgram();
            label = 1;
            page = 1;
        } else if (slot == 2) {
            copyBytes(devices_.EepBuf, 3);
            label = 3;
            page = 2;
        }
    } else if (isAvrSized(code)) {
        if (slot == 1) {
            copyAvrProgram();
            label = 1;
        } else if (slot == 2) {
            copyBytes(devices_.DataBuf, 2);
            label = 2;
        } else if (slot == 3) {
            copyBytes(devices_.EepBuf, 3);
            label = 3;
            page = 2;
        }
    }
    if (view_) {
        if (page) view_->showMemoryPage(page);
        if (label) view_->setFileLabel(label, FileName);
    }
    return true;
}

// A PIC program file: the program words, the data EEPROM, the ID locations and the
// configuration word, each at its place in the image; the fuse page shows the new word.
void TFileIo::copyPicProgram() {
    TDevices& d = devices_;
    for (int w = 0; w < d.ProgBuf.length(); ++w) d.ProgBuf[w] = imageWord(2 * int64_t{w}) & 0x3FFF;
    redraw(1);
    for (int e = 0; e < d.DataBuf.length(); ++e) d.DataBuf[e] = img(0x4200 + 2 * int64_t{e});
    redraw(2);
    if (d.IdBuf.length() < 4) ResizeFill(d.IdBuf, 4, 0x000F);
    for (int k = 0; k < 4; ++k) d.IdBuf[k] = imageWord(0x4000 + 2 * k) & 0x0F;
    d.CfgWord = imageWord(0x400E) & 0x3FFF;
    RefreshPicPage(d, fuses_);
}

// An AVR program file: the program words. It may carry the data EEPROM behind the program
// area; only the bytes it names (not 0xFF) change the buffer.
void TFileIo::copyAvrProgram() {
    TDevices& d = devices_;
    for (int w = 0; w < d.ProgBuf.length(); ++w) d.ProgBuf[w] = imageWord(2 * int64_t{w});
    bool dataFound = false;
    const int64_t base = 2 * int64_t{d.ProgBuf.length()};
    for (int e = 0; e < d.DataBuf.length(); ++e) {
        const uint8_t b = img(base + e);
        if (b != 0xFF) {
            d.DataBuf[e] = b;
            dataFound = true;
        }
    }
    redraw(1);
    if (dataFound) redraw(2);
}

// A byte memory from the start of the image, shown in its grid.
void TFileIo::copyBytes(TBufArray& buffer, int grid) {
    for (int i = 0; i < buffer.length(); ++i) buffer[i] = img(int64_t{i});
    redraw(grid);
}

void TFileIo::redraw(int grid) {
    if (gridsShown_) devices_.showGrid(grid, &host_);
}

bool TFileIo::SaveFile(const QString& name, int slot, int filterIndex) {
    if (busy_) {
        ReportLoadError(kFileBusy);
        return false;
    }
    BusyGuard guard(busy_);
    FileName = name;
    QString ext = Extension(name);
    if (ext.isEmpty()) {
        if (filterIndex == 1)
            ext = QStringLiteral(".hex");
        else if (filterIndex == 2)
            ext = QStringLiteral(".bin");
        else if (filterIndex == 3)
            ext = QStringLiteral(".s19");
        FileName += ext;
    }

    TDevices& d = devices_;
    const TBufArray* buf = nullptr;
    uint8_t mode = 0;
    if (isPicCode(d.DeviceId)) {
        if (slot == 1)
            buf = &d.ProgBuf, mode = 1;
        else if (slot == 2)
            buf = &d.EepBuf, mode = 0;
        ReadPicPage(d, fuses_);
    } else if (isAvrSized(d.DeviceId)) {
        if (slot == 1)
            buf = &d.ProgBuf, mode = 2;
        else if (slot == 2)
            buf = &d.DataBuf, mode = 0;
        else if (slot == 3)
            buf = &d.EepBuf, mode = 0;
    }
    // Writing whatever buffer an earlier save chose would put the wrong memory in the file.
    if (!buf || buf->isEmpty()) {
        ShowError(
            QStringLiteral("Nothing to save: this card type has no memory for file %1.").arg(slot));
        return false;
    }
    SaveBuf = buf;
    SaveMode = mode;

    if (selects(kHexTypes, ext)) {
        WriteHexFile();
    } else if (selects(kBinTypes, ext)) {
        WriteBinFile();
    } else if (selects(kSrecTypes, ext)) {
        WriteSrecFile(2);
    } else if (selects(kS28Types, ext)) {
        WriteSrecFile(3);
    } else if (selects(kS37Types, ext)) {
        WriteSrecFile(4);
    } else {
        ShowError(QStringLiteral("Can't save file of this type: ") + ext);
        return false;
    }
    return true;
}

QString TStringCollection::NextToken(const QString& delimiters, QString& text) {
    qsizetype start = 0;
    if (!text.isEmpty() && delimiters.contains(text.at(0))) start = 1;
    qsizetype end = start;
    while (end < text.size() && !delimiters.contains(text.at(end))) ++end;
    QString token = text.mid(start, end - start);
    text.remove(0, end);
    return token;
}

}  // namespace kelvano
