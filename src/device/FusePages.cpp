#include "device/FusePages.h"

namespace kelvano {

const QStringList& picOscillatorItems() {
    static const QStringList items{"LP", "XT", "HS", "RC"};
    return items;
}
const QStringList& pic876CodeProtectItems() {
    static const QStringList items{"0000-1FFF", "1000-1FFF", "1F00-1FFF", "OFF"};
    return items;
}
const QStringList& mega163OscillatorItems() {
    static const QStringList items{
        "0: Ext.Clk, fast",  "1: Ext.Clk, BOD",   "2: Int RC, slow ",  "3: Int RC, fast ",
        "4: Int RC, BOD",    "5: Ext RC, slow",   "6: Ext RC, fast",   "7: Ext RC, BOD",
        "8: Ext LF Crystal", "9: Ext LF Crystal", "10: Xtal, slow",    "11: Xtal, fast",
        "12: Xtal, BOD",     "13: Res/Ext, slow", "14: Res/Ext, fast", "15: Res/Ext, BOD"};
    return items;
}
const QStringList& mega163BootSizeItems() {
    static const QStringList items{"0: 1024 Words", "1: 512 Words", "2: 256 Words", "3: 128 Words"};
    return items;
}
const QStringList& mega161OscillatorItems() {
    static const QStringList items{"0: Ext Clk, fast", "1: Ext Clk, BOD", "2: Xtal, slow ",
                                   "3: Xtal, fast ",   "4: Xtal, BOD",    "5: Res/Ext, slow",
                                   "6: Res, fast",     "7: Res, BOD"};
    return items;
}

namespace {
QString idText(const TDevices& d, int k) {
    const unsigned v = k < d.IdBuf.length() ? d.IdBuf[k] & 0xF : 0xF;
    return QString(QLatin1Char("0123456789ABCDEF"[v]));
}
inline bool bit(unsigned v, int n) { return (v >> n) & 1u; }
}  // namespace

void RefreshPic84Page(const TDevices& d, FuseModel& m) {
    auto& p = m.pic84;
    for (int k = 0; k < 4; ++k) p.id[static_cast<size_t>(k)] = idText(d, k);
    p.osc = d.CfgWord & 3;
    p.wdt = (d.CfgWord & 4) == 4;
    p.pwrte = (d.CfgWord & 8) == 0;
    p.cp = (d.CfgWord & 0x3FF0) == 0;
    m.notify();
}

void ReadPic84Page(TDevices& d, const FuseModel& m) {
    const auto& p = m.pic84;
    uint16_t w = static_cast<uint16_t>(p.osc & 3);
    if (p.wdt) w |= 0x0004;
    if (!p.pwrte) w |= 0x0008;
    if (!p.cp) w |= 0x3FF0;
    d.CfgWord = w;
}

void RefreshPic876Page(const TDevices& d, FuseModel& m) {
    auto& p = m.pic876;
    const unsigned w = d.CfgWord;
    for (int k = 0; k < 4; ++k) p.id[static_cast<size_t>(k)] = idText(d, k);
    p.fosc = static_cast<int>(w & 3);
    p.wdte = bit(w, 2);
    p.pwrte = !bit(w, 3);
    p.boden = bit(w, 6);
    p.lvp = bit(w, 7);
    p.cpd = !bit(w, 8);
    p.wrt = bit(w, 9);
    p.debug = !bit(w, 11);
    p.cp = static_cast<int>((w & 0x30) >> 4);
    m.notify();
}

void ReadPic876Page(TDevices& d, const FuseModel& m) {
    const auto& p = m.pic876;
    unsigned w = static_cast<unsigned>(p.fosc & 3);
    if (p.wdte) w |= 0x0004;
    if (!p.pwrte) w |= 0x0008;
    if (p.boden) w |= 0x0040;
    if (p.lvp) w |= 0x0080;
    if (!p.cpd) w |= 0x0100;
    if (p.wrt) w |= 0x0200;
    if (!p.debug) w |= 0x0800;
    w |= static_cast<unsigned>(p.cp & 3) << 4;
    w |= static_cast<unsigned>(p.cp & 3) << 12;
    w |= 0x0400;
    d.CfgWord = static_cast<uint16_t>(w);
}

void RefreshMega163Page(const TDevices& d, FuseModel& m) {
    auto& p = m.mega163;
    p.osc = d.FuseLow & 0x0F;
    p.boden = !bit(d.FuseLow, 6);
    p.bodlevel = !bit(d.FuseLow, 7);
    p.bootrst = !bit(d.FuseHigh, 0);
    p.bootSize = (d.FuseHigh >> 1) & 3;
    p.lb1 = !bit(d.LockByte, 0);
    p.lb2 = !bit(d.LockByte, 1);
    p.blb01 = !bit(d.LockByte, 2);
    p.blb02 = !bit(d.LockByte, 3);
    p.blb11 = !bit(d.LockByte, 4);
    p.blb12 = !bit(d.LockByte, 5);
    m.notify();
}

void ReadMega163Page(TDevices& d, const FuseModel& m) {
    const auto& p = m.mega163;
    unsigned lock = 0xFF, low = 0xFF, high = 0xFF;
    const bool lockBits[6] = {p.lb1, p.lb2, p.blb01, p.blb02, p.blb11, p.blb12};
    for (int i = 0; i < 6; ++i)
        if (lockBits[i]) lock &= ~(1u << i);
    low = (low & 0xF0) | static_cast<unsigned>(p.osc & 0x0F);
    if (p.boden) low &= ~0x40u;
    if (p.bodlevel) low &= ~0x80u;
    high = (high & 0xF9) | (static_cast<unsigned>(p.bootSize & 3) << 1);
    if (p.bootrst) high &= ~0x01u;
    d.LockByte = static_cast<uint8_t>(lock);
    d.FuseLow = static_cast<uint8_t>(low);
    d.FuseHigh = static_cast<uint8_t>(high);
}

void RefreshPicPage(const TDevices& d, FuseModel& m) {
    if (isPic876(d.DeviceId))
        RefreshPic876Page(d, m);
    else
        RefreshPic84Page(d, m);
}

void ReadPicPage(TDevices& d, const FuseModel& m) {
    if (isPic876(d.DeviceId))
        ReadPic876Page(d, m);
    else
        ReadPic84Page(d, m);
}

bool eCfgKeyAccepted(QChar key) {
    const char16_t c = key.unicode();
    return c == 8 || (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

void eCfgExit(TDevices& d, FuseModel& m, bool pic876, int tag, const QString& text) {
    if (tag < 0 || tag > 3) return;
    bool ok = false;
    unsigned v = text.trimmed().toUInt(&ok, 16);
    if (!ok || text.trimmed().isEmpty()) v = 0x3FFF;
    // Grow the ID buffer without losing the entries it has.
    if (d.IdBuf.length() < 5) d.IdBuf.values().resize(5, 0x000F);
    d.IdBuf[tag] = static_cast<uint16_t>(v & 0x3FFF);
    if (pic876) {
        m.pic876.id[static_cast<size_t>(tag)] = text.toUpper();
    }
    // The 16F84 page is re-shown from IdBuf and CfgWord whichever box was left, so that an
    // emptied box shows "F" again. Its configuration controls keep what the user chose
    // since the page was last read into CfgWord: re-showing CfgWord there would silently
    // undo those choices before the next save or program reads the page.
    const Pic84Page before = m.pic84;
    RefreshPic84Page(d, m);
    m.pic84.osc = before.osc;
    m.pic84.wdt = before.wdt;
    m.pic84.pwrte = before.pwrte;
    m.pic84.cp = before.cp;
    m.notify();
}

void ApplyAvrFuseBox(int deviceId, FuseModel& m) {
    if (deviceId == 21 || deviceId == 22) {
        m.avr.fuseVisible = true;
        m.avr.fuseCaption = QStringLiteral("FSTRT");
    } else if (deviceId == 23) {
        m.avr.fuseVisible = true;
        m.avr.fuseCaption = QStringLiteral("RCEN");
    } else if (deviceId == 20 || (deviceId >= 24 && deviceId <= 26)) {
        m.avr.fuseVisible = false;
    }
    m.notify();
}

}  // namespace kelvano
