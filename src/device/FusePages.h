#pragma once
#include <QObject>
#include <QString>
#include <array>

#include "device/uDevices.h"

namespace kelvano {

// The state of the five fuse editor pages. The widgets show it and write every user change
// back at once; the file module, the sequences and the settings read and set it here.
// For the two PIC pages and the ATmega163 page the values proper live in TDevices and the
// page is a view of them (Refresh... / Read...); the AT90S and ATmega161 pages are their
// own state.
struct Pic84Page {                                  // CfgPic "16F84 Fuses"
    int osc = 0;                                    // cbPOsc: "LP", "XT", "HS", "RC"
    bool wdt = false;                               // cbPWdt
    bool pwrte = false;                             // cbPpwrte
    bool cp = false;                                // cbPcp
    std::array<QString, 4> id{"F", "F", "F", "F"};  // eCfg0..eCfg3
};

struct Pic876Page {  // CfgDs9 "16F876 Fuses"
    int fosc = 0;    // cbFosc: "LP", "XT", "HS", "RC"
    bool wdte = false, pwrte = false, boden = false, lvp = false;
    bool cpd = false, wrt = false, debug = false;  // cbCpd, cbWrt, chkDebug
    int cp = 0;  // cbCp: "0000-1FFF", "1000-1FFF", "1F00-1FFF", "OFF"
    std::array<QString, 4> id{"F", "F", "F", "F"};  // dId0..dId3
};

struct AvrPage {               // CfgAvr "AVR Fuses"; all three boxes ticked in the form
    bool lockBit1 = true;      // cbLockBit1 "Lockbit 1"
    bool lockBit2 = true;      // cbLockBit2 "Lockbit 2"
    bool avrFuse = true;       // cbAvrFuse "FSTRT" / "RCEN"
    bool fuseVisible = false;  // hidden for 20, 24, 25, 26
    QString fuseCaption;
};

struct Mega161Page {  // cfgMega161 "ATMega161 Fuses"
    int osc = 0;      // cb161osc (8 entries)
    bool lb1 = false, lb2 = false, blb01 = false, blb02 = false, blb11 = false, blb12 = false;
    bool boden = false, bodlevel = false, bootrst = false;
};

struct Mega163Page {  // cfgMega163 "ATMega163 Fuses"
    int osc = 0;      // cb163osc (16 entries)
    bool boden = false, bodlevel = false, bootrst = false;
    int bootSize = 0;  // cb163bootsize (4 entries)
    bool lb1 = false, lb2 = false, blb01 = false, blb02 = false, blb11 = false, blb12 = false;
};

class FuseModel : public QObject {
    Q_OBJECT
public:
    Pic84Page pic84;
    Pic876Page pic876;
    AvrPage avr;
    Mega161Page mega161;
    Mega163Page mega163;
    FusePage shown = FusePage::None;  // the one tab shown; the others are hidden

    // Call after changing fields so that the widgets show them.
    void notify() { emit changed(); }

signals:
    void changed();
};

// List items of the pages (trailing blanks are part of the items).
const QStringList& picOscillatorItems();      // "LP", "XT", "HS", "RC"
const QStringList& pic876CodeProtectItems();  // "0000-1FFF", "1000-1FFF", "1F00-1FFF", "OFF"
const QStringList& mega163OscillatorItems();  // 16 items
const QStringList& mega163BootSizeItems();    // 4 items
const QStringList& mega161OscillatorItems();  // 8 items

void RefreshPic84Page(const TDevices& d, FuseModel& m);
void ReadPic84Page(TDevices& d, const FuseModel& m);
void RefreshPic876Page(const TDevices& d, FuseModel& m);
void ReadPic876Page(TDevices& d, const FuseModel& m);
void RefreshMega163Page(const TDevices& d, FuseModel& m);
void ReadMega163Page(TDevices& d, const FuseModel& m);
// The PIC page of the selected card type: 16F876 for 11 and 12, 16F84 otherwise.
void RefreshPicPage(const TDevices& d, FuseModel& m);
void ReadPicPage(TDevices& d, const FuseModel& m);

// Key filter of the ID boxes: Backspace, 0-9, A-F and a-f pass.
bool eCfgKeyAccepted(QChar key);
// Leaving ID box `tag` (0..3) with `text`: IdBuf[tag] := hex value AND 0x3FFF (0x3FFF for an
// empty or invalid text), then the 16F84 page is refreshed. For a 16F876 box (pic876 true)
// that page keeps the box's text.
void eCfgExit(TDevices& d, FuseModel& m, bool pic876, int tag, const QString& text);

// Sets the AVR page's fuse box for a card type: hidden for 20, 24, 25, 26; "FSTRT" for 21
// and 22; "RCEN" for 23.
void ApplyAvrFuseBox(int deviceId, FuseModel& m);

}  // namespace kelvano
