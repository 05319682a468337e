#pragma once
#include <QString>
#include <QStringList>
#include <array>
#include <cstdint>
#include <vector>

#include "device/FusePages.h"
#include "device/uDevices.h"

namespace kelvano {

class Host;
class MainView;

// Result codes of the readers (0 success). Positive values below 256 are operating-system
// error codes (errno) of a failed open or read; the reader has already shown "I/O-Error #".
enum LoadResult : int {
    kLoadOk = 0,
    kCrdUnknownFormat = 256,  // the reader has shown "Unknown CRD-Format!"
    kHexIllegalChar = 260,
    kHexWrongLength = 261,
    kHexWrongChecksum = 262,
    kHexAddressRange = 263,  // a data record runs past 0xFFFF, or a non-zero address base
    kHexNoRecords = 264,     // neither a data nor an end record in the file (LineNo: lines read)
    kFileTypeError = 280,
    kObjBadRecordLength = 285,  // record length outside 5..10
    kObjAddressRange = 286,     // a word address whose bytes lie past 0xFFFF
    kCrdIllegalChar = 291,      // a token is not a hexadecimal number
    kCrdNoData = 292,           // the dump holds no data line
    kCrdLineTooLong = 293,      // more than 256 bytes on one line
    kCrdAddressRange = 294,     // a block runs past 0xFFFF
    kFileBusy = 299,            // another load or save is still running
    kTextFormatError = 300,     // libsrecord refused a line (LineNo, LineText, the reason)
    kTextNoData = 301,          // a text format file without a single data record
    kElfError = 302,            // an ELF file that is not an AVR program for this card
    kLoadAborted = 303,         // the user chose Abort at a warning: no further message
    kDataConflict = 304,        // two records give one address different values
    kDataOutside = 305,         // data at an address where the card has no memory
};

// The formats the file dispatch knows.
enum class FileKind {
    None,
    Hex,      // Intel HEX (.hex .h8 .eep)
    Bin,      // raw binary (.bin)
    Obj,      // AVR object (.obj)
    Crd,      // card dump (.crd)
    Srec,     // Motorola S-records (.s19 .s28 .s37 .srec .mot), read and written by libsrecord
    TiTxt,    // TI-TXT (.txt), read by libsrecord
    TekExt,   // Tektronix extended, read by libsrecord (known by content only)
    MosTech,  // MOS Technology, read by libsrecord (known by content only)
    Elf,      // ELF as avr-gcc makes it (.elf), read by libelf
};

// What a load found besides the data: its result (kLoadOk, a LoadResult or an errno
// value) and the warnings shown about the file, such as a missing end record.
struct LoadFindings {
    QString file;
    int slot = 0;
    int result = kLoadOk;
    QStringList warnings;
    bool hasProblems() const { return result != kLoadOk || !warnings.isEmpty(); }
};

// Fuse and lock values that an ELF file must leave as they are because the user has
// named them (the terminal's options): each holds the name of the setting that keeps
// the value, and is empty when the file may set it.
struct KeptFuses {
    QString lockBits, fuse, mega163;
};

// The file module: one 65,536-byte staging image that every reader fills and the binary
// writer builds, the dispatch that moves the image into the buffers of the selected card
// (and chooses what a save writes), and the program's one error report.
//
// Image layout (byte offsets):
//   program word w ........................ 2w (low), 2w + 1 (high)
//   PIC ID location k (0..3) .............. 0x4000 + 2k, low byte first
//   PIC configuration word ................ 0x400E, low byte first
//   PIC data EEPROM byte e ................ 0x4200 + 2e (the byte after it is 00, ignored)
//   AVR data EEPROM byte e (slot 1 loads) . 2 * flash words + e
//   byte buffer element i ................. i
class TFileIo {
    // Declared ahead of the public fields so that the image stays the last member.
    Host& host_;
    TDevices& devices_;
    FuseModel& fuses_;
    MainView* view_;
    bool busy_ = false;
    bool gridsShown_ = true;
    // What the last text-format or ELF reader refused, for ReportLoadError.
    QString formatName_;
    QString reason_;
    // What an ELF file holds besides the flash (which goes to Image): the data EEPROM from
    // its start, the fuse bytes from the low byte and the lock byte; empty when it holds none.
    struct ElfMemories {
        std::vector<uint8_t> eeprom, fuses, lock;
        bool signatureMismatch = false;
    } elf_;
    // The line (from 1) of each image byte that a record set, -1 for a byte of a file
    // without lines, 0 for a byte no record set: tells a file's data from the erased fill.
    std::vector<int32_t> origin_;
    int64_t beyondImage_ = -1;  // the first data byte behind the image (long binary files)
    struct Conflict {
        int64_t address = 0;
        int32_t firstLine = 0, secondLine = 0;
        uint8_t firstValue = 0, secondValue = 0;
    } conflict_;
    QString outside_;       // what kDataOutside reports
    QStringList warnings_;  // what the reader found questionable in a file it read
    LoadFindings lastLoad_;
    std::array<LoadFindings, 4> slotLoads_;
    KeptFuses kept_;
    QStringList fuseNotes_;

public:
    // `view` may be null (terminal front end, tests): labels and pages are then not shown.
    TFileIo(Host& host, TDevices& devices, FuseModel& fuses, MainView* view);

    static constexpr int kImageSize = 0x10000;

    QString FileName;                    // file being read or written
    QString LineText;                    // last line read by a text reader
    int32_t LineNo = 0;                  // line counter of the text readers
    const TBufArray* SaveBuf = nullptr;  // the buffer the writers write (one of Devices')
    uint8_t SaveMode = 0;                // 0 byte buffer, 1 PIC program image, 2 AVR program
    QString CrdPath;  // the optional layout file of the card dump reader ("kelvano.crd")
    // Kept last so that an overrun would leave the object (and be caught by the sanitizers)
    // instead of silently changing the fields above.
    std::array<uint8_t, kImageSize> Image{};

    // Reads `name` with the reader chosen by its format (Kind) and copies the image into the
    // buffers of `slot` (1..3) of the selected card type, redrawing their grids, the PIC fuse
    // page, the slot's file label and page. Returns true when the file was read without
    // error; on failure the error has been shown and no buffer, grid or label has changed.
    // An ELF file fills every memory it holds (flash, data EEPROM, fuses, lock bits) and the
    // labels of their slots, whatever the slot it was opened for.
    bool OpenFile(const QString& name, int slot);
    // Writes the buffer of `slot` to `name` with the writer chosen by its extension; a name
    // without extension gets ".hex" (filterIndex 1), ".bin" (2) or ".s19" (3). Returns false
    // when nothing was written because of the extension or because the slot holds nothing
    // for the card type (both with a message); a failing write is reported by the writer
    // and still returns true.
    bool SaveFile(const QString& name, int slot, int filterIndex);
    // The program's error report (beep and a modal "Error" box, through the Host).
    void ShowError(const QString& text);
    // Shows the message of a reader's result code, if it has one.
    void ReportLoadError(int code);
    // "I/O-Error #" + code + CR + the system's description + CR + "File: " + the file
    // (`path`, or FileName when it is empty).
    void ShowIoError(int code, const QString& path = {});

    // The last OpenFile, whether it loaded or not.
    const LoadFindings& LastLoad() const { return lastLoad_; }
    // The load that filled `slot` (1..3) last; empty when no file has been loaded into it.
    const LoadFindings& SlotLoad(int slot) const;

    void KeepFuses(const KeptFuses& kept) { kept_ = kept; }
    // One text for each value of a file that a kept setting has replaced since the last call.
    QStringList TakeFuseNotes();

    // Readers: fill Image from FileName and return a LoadResult or an errno value.
    int ReadHexFile();
    int ReadBinFile();
    int ReadObjFile();
    int ReadCrdFile();
    // The text formats that libsrecord parses (Srec, TiTxt, TekExt, MosTech): every data
    // record at its byte address, as an Intel HEX file of the same data.
    int ReadLibraryFile(FileKind kind);
    // An AVR ELF file: the flash sections into Image, the EEPROM, fuse and lock sections
    // kept aside for the dispatch, which fills every memory the file holds at once.
    int ReadElfFile();
    // Writers: write SaveBuf by SaveMode to FileName; 0 or the errno value (already shown).
    int WriteHexFile();
    int WriteBinFile();
    // S-records holding exactly the data records of WriteHexFile, with a header, a count and
    // a start record; `addressBytes` 2 (S1/S9), 3 (S2/S8) or 4 (S3/S7).
    int WriteSrecFile(int addressBytes);

    // One Intel HEX record line without line end. Styles: 1 elements 0..count-1 two bytes each
    // at the address `start`; 2 elements start..start+count-1 two bytes each at address
    // 2 * (start + offset); 3 elements start..start+count-1 one byte each at address `start`.
    // Elements beyond the buffer's end are left out of the record.
    static QString HexRecord(const TBufArray& buffer, int start, int style, int offset, int count);

    // Whether a load redraws the dump grids of the buffers it fills (it does by default). A
    // front end that never shows the grids, such as a file conversion, turns it off.
    void setGridsShown(bool shown) { gridsShown_ = shown; }

    // The extension of a file name: from its last '.', lower case, dot included; empty when
    // there is no dot or a path separator or drive colon follows it.
    static QString Extension(const QString& name);
    // The format of the file `name`: ELF files and the libsrecord text formats are known by
    // their content whatever their extension (an S-record file called .hex too), the other
    // formats by the extension. Reads the start of the file; None when nothing fits.
    static FileKind Kind(const QString& name);

private:
    // The data records a HEX save of SaveBuf writes, in order, without the end record.
    QStringList hexRecords() const;
    bool copyElfToCard();
    void applyElfFuses();
    int loadCrdLayouts(QStringList& layouts);
    bool copyImageToSlot(int slot);
    void copyPicProgram();
    void copyAvrProgram();
    void copyBytes(TBufArray& buffer, int grid);
    uint16_t imageWord(int64_t low) const {
        return static_cast<uint16_t>(img(low + 1) << 8 | img(low));
    }
    void redraw(int grid);
    void fillImage();
    // Puts `n` bytes of the record in `line` at `address` (inside the image); kDataConflict
    // when one of them was given another value before.
    int placeBytes(int64_t address, const uint8_t* bytes, int64_t n, int32_t line);
    // Marks the image bytes of a file without records that are not erased (0xFF) as data.
    void markData(int64_t from, int64_t to);
    // kDataOutside when the file holds data where `slot` of the card has no memory.
    int checkFits(int slot);
    // Shows the reader's warnings; false when the user chose Abort.
    bool confirmWarnings();
    int readFile(FileKind kind);
    QString fileLine(int32_t number) const;
    QString conflictText() const;
    uint8_t img(int64_t i) const {
        return i >= 0 && i < kImageSize ? Image[static_cast<size_t>(i)] : 0xFF;
    }
};

// The card dump reader's string helper.
class TStringCollection {
public:
    // Removes and returns the next token of `text`: a delimiter at its start is dropped first,
    // then the token runs up to (not including) the next delimiter or to the end. `text` keeps
    // what follows the token, delimiter included, which the next call drops.
    static QString NextToken(const QString& delimiters, QString& text);
};

}  // namespace kelvano
