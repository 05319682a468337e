#pragma once
#include <QObject>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <vector>

namespace kelvano {

class Host;

// ---------------------------------------------------------------------------------------
// Memory buffers
// ---------------------------------------------------------------------------------------

// A growable array of unsigned 16-bit elements: flash words, or EEPROM bytes in the low 8 bits.
class TBufArray {
public:
    TBufArray() = default;
    TBufArray(std::initializer_list<uint16_t> values) : v_(values) {}
    int length() const { return static_cast<int>(v_.size()); }
    bool isEmpty() const { return v_.empty(); }
    uint16_t& operator[](int i) { return v_[static_cast<size_t>(i)]; }
    uint16_t operator[](int i) const { return v_[static_cast<size_t>(i)]; }
    uint16_t at(int i) const { return v_.at(static_cast<size_t>(i)); }
    void resize(int n, uint16_t fill = 0) { v_.assign(static_cast<size_t>(n < 0 ? 0 : n), fill); }
    std::vector<uint16_t>& values() { return v_; }
    const std::vector<uint16_t>& values() const { return v_; }
    bool operator==(const TBufArray& o) const { return v_ == o.v_; }

private:
    std::vector<uint16_t> v_;
};

// Sets the length of `buffer` to max + 1 and stores the low 16 bits of `value` everywhere.
void ResizeFill(TBufArray& buffer, int max, uint32_t value);

// ---------------------------------------------------------------------------------------
// Hex dump texts and grids
// ---------------------------------------------------------------------------------------

enum class ViewMode { Bytes16, PicWords8, AvrWords8 };

QString HexByte(unsigned v);    // "41 "
QString HexWord(unsigned v);    // "3FFF  "
QString AsciiChar(unsigned v);  // 0x20..0x7C as is, everything else "."

int elementsPerRow(ViewMode mode);  // 16 or 8
QString columnHeader(ViewMode mode);

// The contents of one dump grid as the last SetupGrid / ShowBuffer left them: the address,
// hex and character text of every data row. The window's table view draws this; the
// terminal front end prints it. Row 0 here is the first data row (grid row 1).
class DumpGrid : public QObject {
    Q_OBJECT
public:
    explicit DumpGrid(int tag, QObject* parent = nullptr) : QObject(parent), tag_(tag) {}

    int tag() const { return tag_; }  // 1 pGrid, 2 dGrid, 3 eGrid
    ViewMode mode() const { return mode_; }
    int rowCount() const { return static_cast<int>(addr_.size()); }  // data rows
    const QString& address(int row) const { return addr_[static_cast<size_t>(row)]; }
    const QString& hex(int row) const { return hex_[static_cast<size_t>(row)]; }
    const QString& text(int row) const { return text_[static_cast<size_t>(row)]; }
    // Header row texts: "ADR", the mode's column header, "ASCII".
    QString header(int column) const;

    // Height of the grid in default rows (header included), or 0 for the default of 7 rows
    // that scroll. The PIC16F84 cards make the internal EEPROM grid exactly fit.
    int fitRows() const { return fitRows_; }
    void setFitRows(int rows);

    // SetupGrid: an empty dump with data rows 0..lastRow and their addresses.
    void setup(int lastRow, ViewMode mode);
    // ShowBuffer: hex and character texts of every full row of `buffer`. Lets pending window
    // events run now and then while a large grid fills.
    void show(const TBufArray& buffer, ViewMode mode, Host* host = nullptr);

signals:
    void layoutReset();                     // after setup: row count and addresses changed
    void rowsChanged(int first, int last);  // after show (data rows, 0-based)
    void fitRowsChanged();

private:
    int tag_;
    ViewMode mode_ = ViewMode::Bytes16;
    int fitRows_ = 0;
    std::vector<QString> addr_, hex_, text_;
};

inline void SetupGrid(DumpGrid& grid, int lastRow, ViewMode mode) { grid.setup(lastRow, mode); }
inline void ShowBuffer(const TBufArray& buffer, DumpGrid& grid, ViewMode mode,
                       Host* host = nullptr) {
    grid.show(buffer, mode, host);
}

// ---------------------------------------------------------------------------------------
// Card catalogue
// ---------------------------------------------------------------------------------------

enum class FusePage { None, CfgPic, CfgDs9, CfgAvr, cfgMega161, cfgMega163 };

enum class CardFamily { Pic, Avr };
// How the box reaches the card's external EEPROM.
enum class EepromAccess {
    None,    // not at all (no action handles the card)
    Direct,  // the box talks to it itself
    Loader,  // through a loader program installed in the controller (loaderImage)
};

struct TDeviceEntry {
    int code;
    int menuPosition;               // 0: not in the Devices menu (code 30)
    const char* displayName;        // menu caption and DevPane text; nullptr for code 30
    const char* controllerCaption;  // caption of memory page Pg1
    const char* eepromCaption;      // caption of memory page Pg2
    int flashWords;
    int internalEepromBytes;
    int externalEepromBytes;
    FusePage fusePage;
    const char* fuseBoxCaption;  // "FSTRT", "RCEN" or nullptr (no fuse box)
    const char* loaderImage;     // nullptr when the box reaches the EEPROM directly / none

    // What the actions need to know of the card.
    CardFamily family;
    EepromAccess eeprom;
    bool actions;               // false: no action handles the card (the ATmega161 row)
    uint32_t avrSignature;      // the signature its AVR controller answers; 0 for a PIC
    int flashPageWords;         // flash written in pages of this many words; 0: word by word
    uint16_t loaderConfigWord;  // PIC loader cards: configuration word set after the loader

    bool pic() const { return family == CardFamily::Pic; }
    bool avr() const { return family == CardFamily::Avr; }
    bool eepromDirect() const { return eeprom == EepromAccess::Direct; }
    bool eepromThroughLoader() const { return eeprom == EepromAccess::Loader; }
    bool hasFuseBox() const { return fuseBoxCaption != nullptr; }  // AT90S2323/2343/8535
    bool at90sLockBits() const { return fusePage == FusePage::CfgAvr; }
    bool megaFuseBytes() const { return fusePage == FusePage::cfgMega163; }  // lock + 2 fuse bytes
    bool pagedFlash() const { return flashPageWords > 0; }
};

// All rows of the catalogue (menu order, code 30 last).
const std::vector<TDeviceEntry>& catalogue();
// The row of `code`, or nullptr when the code is not in the catalogue.
const TDeviceEntry* findDevice(int code);

struct MenuLine {
    int code;         // 0 for a separator
    QString caption;  // "-" for a separator
};
// The Devices menu in menu order, separators included.
std::vector<MenuLine> devicesMenuLines();

// Code groups.
inline bool isPicCode(int c) { return c >= 10 && c <= 15; }
inline bool isAvrCode(int c) { return c >= 20 && c <= 31; }  // texts, slots, views
inline bool isAvrSized(int c) { return (c >= 20 && c <= 26) || c == 30 || c == 31; }
inline bool isPic84(int c) { return c == 10 || c == 13 || c == 14 || c == 15; }
inline bool isPic876(int c) { return c == 11 || c == 12; }
inline bool isAt90s(int c) { return c >= 20 && c <= 26; }
inline bool hasAvrFuseBox(int c) { return c >= 21 && c <= 23; }
inline bool isPicDirect(int c) { return c == 10 || c == 13 || c == 14; }
inline bool isPicLoader(int c) { return c == 11 || c == 12 || c == 15; }
inline bool isAvrAction(int c) { return (c >= 20 && c <= 26) || c == 31; }
inline bool eepCouplingApplies(int c) {
    return c == 11 || c == 12 || c == 15 || (c >= 20 && c <= 31);
}

// Hint texts of the open and save actions by family (caption = hint + "...").
// slot 1..3; an empty text means the action is hidden.
QString openHint(int code, int slot);
QString saveHint(int code, int slot);

// ---------------------------------------------------------------------------------------
// The selected card
// ---------------------------------------------------------------------------------------

class TDevices {
public:
    TDevices();

    int DeviceId = 10;  // selected card type; codes outside the catalogue fall back to 10

    TBufArray ProgBuf;  // controller flash, one element per word
    TBufArray DataBuf;  // controller internal EEPROM, one byte per element
    TBufArray EepBuf;   // external serial EEPROM, one byte per element
    TBufArray IdBuf;    // PIC ID locations, entries 0..3
    uint16_t CfgWord = 0x3FFF;
    uint8_t FuseLow = 0xFF;
    uint8_t FuseHigh = 0xFF;
    uint8_t LockByte = 0xFF;
    uint32_t ProgBlank = 0x3FFF;
    int ProgMax = -1;
    int DataMax = -1;
    int EepMax = -1;

    DumpGrid pGrid{1};
    DumpGrid dGrid{2};
    DumpGrid eGrid{3};

    // The buffer part of applying a card type: sizes, blank buffers, the PIC configuration
    // values reset and (unless layoutGrids is false, for front ends that never show them)
    // grid layouts and views. Codes outside the catalogue first fall back to 10. Does not
    // touch the fuse pages or the window (the caller refreshes those).
    void ApplyBuffers(Host* host = nullptr, bool layoutGrids = true);

    // Flash view of the selected family.
    ViewMode progView() const { return DeviceId >= 20 ? ViewMode::AvrWords8 : ViewMode::PicWords8; }
    // Redraws one grid (1, 2, 3) from its buffer.
    void showGrid(int tag, Host* host = nullptr);
    DumpGrid& grid(int tag) { return tag == 1 ? pGrid : tag == 2 ? dGrid : eGrid; }
};

}  // namespace kelvano
