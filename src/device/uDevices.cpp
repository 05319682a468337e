#include "device/uDevices.h"

#include "base/Host.h"

namespace kelvano {

void ResizeFill(TBufArray& buffer, int max, uint32_t value) {
    buffer.resize(max + 1, static_cast<uint16_t>(value & 0xFFFF));
}

// ---------------------------------------------------------------------------------------

namespace {
const char kHexDigits[] = "0123456789ABCDEF";

inline void appendHex(QString& s, unsigned v, int digits) {
    for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4)
        s.append(QLatin1Char(kHexDigits[(v >> shift) & 0xF]));
}
inline QChar asciiOf(unsigned v) {
    return (v >= 0x20 && v <= 0x7C) ? QChar(static_cast<char16_t>(v)) : QLatin1Char('.');
}
}  // namespace

QString HexByte(unsigned v) {
    QString s;
    appendHex(s, v & 0xFF, 2);
    s.append(QLatin1Char(' '));
    return s;
}

QString HexWord(unsigned v) {
    QString s;
    appendHex(s, v & 0xFFFF, 4);
    s.append(QLatin1String("  "));
    return s;
}

QString AsciiChar(unsigned v) { return QString(asciiOf(v)); }

int elementsPerRow(ViewMode mode) { return mode == ViewMode::Bytes16 ? 16 : 8; }

QString columnHeader(ViewMode mode) {
    return mode == ViewMode::Bytes16
               ? QStringLiteral("+0 +1 +2 +3 +4 +5 +6 +7 +8 +9 +A +B +C +D +E +F")
               : QStringLiteral("+0    +1    +2    +3    +4    +5    +6    +7");
}

QString DumpGrid::header(int column) const {
    switch (column) {
        case 0:
            return QStringLiteral("ADR");
        case 1:
            return columnHeader(mode_);
        default:
            return QStringLiteral("ASCII");
    }
}

void DumpGrid::setFitRows(int rows) {
    if (rows == fitRows_) return;
    fitRows_ = rows;
    emit fitRowsChanged();
}

void DumpGrid::setup(int lastRow, ViewMode mode) {
    mode_ = mode;
    const int rows = lastRow + 1 > 0 ? lastRow + 1 : 0;
    const unsigned step = static_cast<unsigned>(elementsPerRow(mode));
    addr_.assign(static_cast<size_t>(rows), QString());
    hex_.assign(static_cast<size_t>(rows), QString());
    text_.assign(static_cast<size_t>(rows), QString());
    for (int r = 0; r < rows; ++r) {
        QString& a = addr_[static_cast<size_t>(r)];
        a.reserve(5);
        appendHex(a, static_cast<unsigned>(r) * step, 4);
        a.append(QLatin1Char(':'));
    }
    emit layoutReset();
}

void DumpGrid::show(const TBufArray& buffer, ViewMode mode, Host* host) {
    mode_ = mode;
    const int per = elementsPerRow(mode);
    const int rows = std::min(buffer.length() / per, rowCount());
    // Letting events run after every single row would cost more than building the rows;
    // every 64 rows keeps the window live and a 4096-row fill in the low milliseconds.
    constexpr int kRowsPerPump = 64;
    int firstPending = 0;
    for (int r = 0; r < rows; ++r) {
        QString hex;
        QString txt;
        hex.reserve(48);
        txt.reserve(16);
        for (int i = 0; i < per; ++i) {
            const unsigned e = buffer[r * per + i];
            switch (mode) {
                case ViewMode::Bytes16:
                    appendHex(hex, e & 0xFF, 2);
                    hex.append(QLatin1Char(' '));
                    txt.append(asciiOf(e & 0xFF));
                    break;
                case ViewMode::PicWords8:
                    appendHex(hex, e & 0x3FFF, 4);
                    hex.append(QLatin1String("  "));
                    txt.append(asciiOf(e & 0xFF));
                    break;
                case ViewMode::AvrWords8:
                    appendHex(hex, e, 4);
                    hex.append(QLatin1String("  "));
                    txt.append(asciiOf(e >> 8));
                    txt.append(asciiOf(e & 0xFF));
                    break;
            }
        }
        hex_[static_cast<size_t>(r)] = std::move(hex);
        text_[static_cast<size_t>(r)] = std::move(txt);
        if (host && (r + 1) % kRowsPerPump == 0) {
            emit rowsChanged(firstPending, r);
            firstPending = r + 1;
            host->processEvents();
        }
    }
    if (firstPending < rows) emit rowsChanged(firstPending, rows - 1);
}

// ---------------------------------------------------------------------------------------

const std::vector<TDeviceEntry>& catalogue() {
    static const std::vector<TDeviceEntry> rows = {
        {15, 1, "PIC/Goldwafer (PIC16F84 + 24C16)", "PIC 16F84", "EEPROM 24C16", 1024, 64, 2048,
         FusePage::CfgPic, nullptr, "PICLOAD", CardFamily::Pic, EepromAccess::Loader, true, 0, 0,
         0x0001},
        {10, 2, "Brelmont PIC (PIC16F84 + 24C16)", "PIC 16F84", "EEPROM 24C16", 1024, 64, 2048,
         FusePage::CfgPic, nullptr, nullptr, CardFamily::Pic, EepromAccess::Direct, true, 0, 0, 0},
        {13, 3, "Brelmont PIC (PIC16F84 + 24C64)", "PIC 16F84", "EEPROM 24C64", 1024, 64, 8192,
         FusePage::CfgPic, nullptr, nullptr, CardFamily::Pic, EepromAccess::Direct, true, 0, 0, 0},
        {14, 4, "Brelmont PIC (PIC16F84 + 24C256)", "PIC 16F84", "EEPROM 24C256", 1024, 64, 32768,
         FusePage::CfgPic, nullptr, nullptr, CardFamily::Pic, EepromAccess::Direct, true, 0, 0, 0},
        {11, 5, "PIC-Card 2 (PIC16F876 + 24C64)", "PIC 16F876", "EEPROM 24C64", 8192, 256, 8192,
         FusePage::CfgDs9, nullptr, "DS9LOAD", CardFamily::Pic, EepromAccess::Loader, true, 0, 0,
         0x0D09},
        {12, 6, "PIC-Card 4 (PIC16F876 + 24C256)", "PIC 16F876", "EEPROM 24C256", 8192, 256, 32768,
         FusePage::CfgDs9, nullptr, "DS9LOAD", CardFamily::Pic, EepromAccess::Loader, true, 0, 0,
         0x0D09},
        {22, 7, "AVR-Card (AT90S2323 + 24C16)", "AT 90S2323", "EEPROM 24C16", 1024, 128, 2048,
         FusePage::CfgAvr, "FSTRT", "AVRLOAD", CardFamily::Avr, EepromAccess::Loader, true,
         0x1E9102, 0, 0},
        {23, 8, "AVR-Card (AT90S2343 + 24C16)", "AT 90S2343", "EEPROM 24C16", 1024, 128, 2048,
         FusePage::CfgAvr, "RCEN", "AVRLOAD", CardFamily::Avr, EepromAccess::Loader, true, 0x1E9103,
         0, 0},
        {21, 9, "AVR-Jupiter 2 (AT90S8535 + 24C64)", "AT 90S8535", "EEPROM 24C64", 4096, 512, 8192,
         FusePage::CfgAvr, "FSTRT", "FUNLOAD", CardFamily::Avr, EepromAccess::Loader, true,
         0x1E9303, 0, 0},
        {20, 10, "AVR-Fun 2 (AT90S8515 + 24C64)", "AT 90S8515", "EEPROM 24C64", 4096, 512, 8192,
         FusePage::CfgAvr, nullptr, "FUNLOAD", CardFamily::Avr, EepromAccess::Loader, true,
         0x1E9301, 0, 0},
        {24, 11, "AVR-Fun 3 (AT90S8515 + 24C128)", "AT 90S8515", "EEPROM 24C128", 4096, 512, 16384,
         FusePage::CfgAvr, nullptr, "FUNLOAD", CardFamily::Avr, EepromAccess::Loader, true,
         0x1E9301, 0, 0},
        {25, 12, "AVR-Fun 4 (AT90S8515 + 24C256)", "AT 90S8515", "EEPROM 24C256", 4096, 512, 32768,
         FusePage::CfgAvr, nullptr, "FUNLOAD", CardFamily::Avr, EepromAccess::Loader, true,
         0x1E9301, 0, 0},
        {26, 13, "AVR-Fun 5 (AT90S8515 + 24C512)", "AT 90S8515", "EEPROM 24C512", 4096, 512, 65536,
         FusePage::CfgAvr, nullptr, "FUNLOAD", CardFamily::Avr, EepromAccess::Loader, true,
         0x1E9301, 0, 0},
        {31, 14, "AVR-Mega163 (ATMega163 + 24C256)", "ATMega163", "EEPROM 24C256", 8192, 512, 32768,
         FusePage::cfgMega163, nullptr, "FUNLOAD", CardFamily::Avr, EepromAccess::Loader, true,
         0x1E9402, 64, 0},
        {30, 0, nullptr, "ATMega161", "EEPROM 24C64", 8192, 512, 8192, FusePage::cfgMega161,
         nullptr, nullptr, CardFamily::Avr, EepromAccess::None, false, 0, 0, 0},
    };
    return rows;
}

const TDeviceEntry* findDevice(int code) {
    for (const auto& row : catalogue())
        if (row.code == code) return &row;
    return nullptr;
}

std::vector<MenuLine> devicesMenuLines() {
    std::vector<MenuLine> lines;
    int previousFamilyKey = -1;
    for (const auto& row : catalogue()) {
        if (row.menuPosition == 0) continue;
        // Separators fall between the groups of the menu: 16F84 cards, 16F876 cards,
        // AT90S2323/2343 cards, the AT90S8535 card, the AT90S8515 cards, the ATmega163 card.
        int key = 0;
        if (isPic84(row.code))
            key = 1;
        else if (isPic876(row.code))
            key = 2;
        else if (row.code == 22 || row.code == 23)
            key = 3;
        else if (row.code == 21)
            key = 4;
        else if (row.code == 20 || (row.code >= 24 && row.code <= 26))
            key = 5;
        else
            key = 6;
        if (previousFamilyKey != -1 && key != previousFamilyKey)
            lines.push_back({0, QStringLiteral("-")});
        previousFamilyKey = key;
        lines.push_back({row.code, QString::fromLatin1(row.displayName)});
    }
    return lines;
}

QString openHint(int code, int slot) {
    if (isPicCode(code)) {
        if (slot == 1) return QStringLiteral("Open PIC Flash + internal EEPROM <1>");
        if (slot == 2) return QStringLiteral("Open external EEPROM <2>");
        return {};
    }
    if (isAvrCode(code)) {
        if (slot == 1) return QStringLiteral("Open AVR Flash memory <1>");
        if (slot == 2) return QStringLiteral("Open AVR internal EEPROM <2>");
        return QStringLiteral("Open external EEPROM <3>");
    }
    return {};
}

QString saveHint(int code, int slot) {
    if (isPicCode(code)) {
        if (slot == 1) return QStringLiteral("Save PIC Flash + internal EEPROM <1>");
        if (slot == 2) return QStringLiteral("Save external EEPROM <2>");
        return {};
    }
    if (isAvrCode(code)) {
        if (slot == 1) return QStringLiteral("Save AVR Flash memory <1>");
        if (slot == 2) return QStringLiteral("Save AVR internal EEPROM <2>");
        return QStringLiteral("Save external EEPROM <3>");
    }
    return {};
}

// ---------------------------------------------------------------------------------------

TDevices::TDevices() { IdBuf.resize(5, 0x000F); }

void TDevices::ApplyBuffers(Host* host, bool layoutGrids) {
    if (!findDevice(DeviceId)) DeviceId = 10;
    const TDeviceEntry& row = *findDevice(DeviceId);
    const bool pic = isPicCode(DeviceId);
    ProgMax = row.flashWords - 1;
    DataMax = row.internalEepromBytes - 1;
    EepMax = row.externalEepromBytes - 1;
    ProgBlank = pic ? 0x3FFF : 0xFFFF;
    if (pic) {
        CfgWord = 0x3FFF;
        ResizeFill(IdBuf, 4, 0x000F);
    }
    ResizeFill(ProgBuf, ProgMax, ProgBlank);
    ResizeFill(DataBuf, DataMax, 0xFF);
    ResizeFill(EepBuf, EepMax, 0xFF);
    if (!layoutGrids) return;
    const ViewMode flashView = progView();
    SetupGrid(pGrid, row.flashWords / 8 - 1, flashView);
    SetupGrid(dGrid, row.internalEepromBytes / 16 - 1, ViewMode::Bytes16);
    SetupGrid(eGrid, row.externalEepromBytes / 16 - 1, ViewMode::Bytes16);
    // The PIC16F84's 64 bytes fit the internal EEPROM grid exactly; the others scroll.
    dGrid.setFitRows(isPic84(DeviceId) ? dGrid.rowCount() + 1 : 0);
    ShowBuffer(ProgBuf, pGrid, flashView, host);
    ShowBuffer(DataBuf, dGrid, ViewMode::Bytes16, host);
    ShowBuffer(EepBuf, eGrid, ViewMode::Bytes16, host);
}

void TDevices::showGrid(int tag, Host* host) {
    switch (tag) {
        case 1:
            ShowBuffer(ProgBuf, pGrid, progView(), host);
            break;
        case 2:
            ShowBuffer(DataBuf, dGrid, ViewMode::Bytes16, host);
            break;
        case 3:
            ShowBuffer(EepBuf, eGrid, ViewMode::Bytes16, host);
            break;
        default:
            break;
    }
}

}  // namespace kelvano
