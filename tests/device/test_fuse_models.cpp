#include <gtest/gtest.h>

#include "device/FusePages.h"
#include "device/Models.h"

using namespace kelvano;

namespace {

// The registers behind the pages: the PIC configuration word and the three ATmega163 bytes.
enum Reg { Word, Low, High, Lock };
struct Regs {
    unsigned v[4] = {};
};
void put(TDevices& d, const Regs& r) {
    d.CfgWord = uint16_t(r.v[Word]);
    d.FuseLow = uint8_t(r.v[Low]);
    d.FuseHigh = uint8_t(r.v[High]);
    d.LockByte = uint8_t(r.v[Lock]);
}
Regs take(const TDevices& d) { return Regs{{d.CfgWord, d.FuseLow, d.FuseHigh, d.LockByte}}; }

// How a control shows its bits: a list index, a box ticked when its bit is 1, or a box
// ticked when all its bits are 0.
enum Rule { Index, TickedWhenSet, TickedWhenClear };
struct Field {
    const char* name;
    Reg reg;
    unsigned mask;
    Rule rule;
    int (*shown)(const FuseModel&);
};
#define SHOWN(f) [](const FuseModel& m) { return int(m.f); }

int expected(const Field& f, const Regs& r) {
    const unsigned bits = r.v[f.reg] & f.mask;
    if (f.rule == Index) return int(bits / (f.mask & -f.mask));
    if (f.rule == TickedWhenSet) return bits == f.mask;
    return bits == 0;
}

struct Page {
    const char* name;
    void (*refresh)(const TDevices&, FuseModel&);
    std::vector<Reg> regs;
    unsigned width;  // bits per register
    std::vector<Field> fields;
};

const Page kPages[] = {
    {"16F84",
     RefreshPic84Page,
     {Word},
     14,
     {{"cbPOsc", Word, 0x0003, Index, SHOWN(pic84.osc)},
      {"cbPWdt", Word, 0x0004, TickedWhenSet, SHOWN(pic84.wdt)},
      {"cbPpwrte", Word, 0x0008, TickedWhenClear, SHOWN(pic84.pwrte)},
      {"cbPcp", Word, 0x3FF0, TickedWhenClear, SHOWN(pic84.cp)}}},  // one box for ten bits
    {"16F876",
     RefreshPic876Page,
     {Word},
     14,
     {{"cbFosc", Word, 0x0003, Index, SHOWN(pic876.fosc)},
      {"cbWdte", Word, 0x0004, TickedWhenSet, SHOWN(pic876.wdte)},
      {"cbPwrte", Word, 0x0008, TickedWhenClear, SHOWN(pic876.pwrte)},
      {"cbCp", Word, 0x0030, Index, SHOWN(pic876.cp)},  // shown from bits 5..4 only
      {"cbBoden", Word, 0x0040, TickedWhenSet, SHOWN(pic876.boden)},
      {"cbLvp", Word, 0x0080, TickedWhenSet, SHOWN(pic876.lvp)},
      {"cbCpd", Word, 0x0100, TickedWhenClear, SHOWN(pic876.cpd)},
      {"cbWrt", Word, 0x0200, TickedWhenSet, SHOWN(pic876.wrt)},
      {"chkDebug", Word, 0x0800, TickedWhenClear, SHOWN(pic876.debug)}}},
    {"ATmega163",
     RefreshMega163Page,
     {Low, High, Lock},
     8,
     {{"cb163osc", Low, 0x0F, Index, SHOWN(mega163.osc)},
      {"chk163boden", Low, 0x40, TickedWhenClear, SHOWN(mega163.boden)},
      {"chk163bodlevel", Low, 0x80, TickedWhenClear, SHOWN(mega163.bodlevel)},
      {"chk163bootrst", High, 0x01, TickedWhenClear, SHOWN(mega163.bootrst)},
      {"cb163bootsize", High, 0x06, Index, SHOWN(mega163.bootSize)},
      {"chk163lb1", Lock, 0x01, TickedWhenClear, SHOWN(mega163.lb1)},
      {"chk163lb2", Lock, 0x02, TickedWhenClear, SHOWN(mega163.lb2)},
      {"chk163blb01", Lock, 0x04, TickedWhenClear, SHOWN(mega163.blb01)},
      {"chk163blb02", Lock, 0x08, TickedWhenClear, SHOWN(mega163.blb02)},
      {"chk163blb11", Lock, 0x10, TickedWhenClear, SHOWN(mega163.blb11)},
      {"chk163blb12", Lock, 0x20, TickedWhenClear, SHOWN(mega163.blb12)}}},
};

}  // namespace

// One bit set (and one bit cleared) at a time, in every register of every page: a control
// that reads a wrong bit, or more bits than its own, shows the wrong value for some sample.
TEST(FusePages, EveryControlShowsExactlyItsOwnBits) {
    for (const Page& p : kPages) {
        for (Reg walked : p.regs) {
            for (unsigned bit = 0; bit < p.width; ++bit) {
                for (bool ones : {false, true}) {
                    const unsigned full = (1u << p.width) - 1;
                    Regs r;
                    for (Reg other : p.regs) r.v[other] = ones ? full : 0;
                    r.v[walked] ^= 1u << bit;
                    TDevices d;
                    FuseModel m;
                    put(d, r);
                    p.refresh(d, m);
                    for (const Field& f : p.fields)
                        EXPECT_EQ(f.shown(m), expected(f, r))
                            << p.name << " " << f.name << " register " << walked << " = 0x"
                            << std::hex << r.v[walked];
                }
            }
        }
    }
}

// Forming the registers from the page: every control moved alone from a page whose
// controls all give 0 bits, against the values the card must receive.
TEST(FusePages, EveryControlFormsExactlyItsOwnBits) {
    struct Case {
        const char* change;
        void (*apply)(FuseModel&);
        unsigned word;
    };
    auto pic84 = [](void (*apply)(FuseModel&)) {
        TDevices d;
        FuseModel m;
        m.pic84 = {};
        m.pic84.pwrte = m.pic84.cp = true;
        apply(m);
        ReadPic84Page(d, m);
        return unsigned(d.CfgWord);
    };
    const Case pic84Cases[] = {
        {"none", [](FuseModel&) {}, 0x0000},
        {"XT", [](FuseModel& m) { m.pic84.osc = 1; }, 0x0001},
        {"HS", [](FuseModel& m) { m.pic84.osc = 2; }, 0x0002},
        {"RC", [](FuseModel& m) { m.pic84.osc = 3; }, 0x0003},
        {"WDT", [](FuseModel& m) { m.pic84.wdt = true; }, 0x0004},
        {"PWRTE off", [](FuseModel& m) { m.pic84.pwrte = false; }, 0x0008},
        {"CP off", [](FuseModel& m) { m.pic84.cp = false; }, 0x3FF0},
    };
    for (const Case& c : pic84Cases) EXPECT_EQ(pic84(c.apply), c.word) << "16F84 " << c.change;
    // The form's own examples: everything off is 0x3FFF, CP with XT alone is 0x0009.
    EXPECT_EQ(pic84([](FuseModel& m) { m.pic84 = {3, true, false, false, {}}; }), 0x3FFFu);
    EXPECT_EQ(pic84([](FuseModel& m) { m.pic84 = {1, false, false, true, {}}; }), 0x0009u);

    auto pic876 = [](void (*apply)(FuseModel&)) {
        TDevices d;
        FuseModel m;
        m.pic876 = {};
        m.pic876.pwrte = m.pic876.cpd = m.pic876.debug = true;
        apply(m);
        ReadPic876Page(d, m);
        return unsigned(d.CfgWord);
    };
    const Case pic876Cases[] = {
        {"none", [](FuseModel&) {}, 0x0400},  // bit 10 is always 1
        {"XT", [](FuseModel& m) { m.pic876.fosc = 1; }, 0x0401},
        {"HS", [](FuseModel& m) { m.pic876.fosc = 2; }, 0x0402},
        {"WDTE", [](FuseModel& m) { m.pic876.wdte = true; }, 0x0404},
        {"PWRTE off", [](FuseModel& m) { m.pic876.pwrte = false; }, 0x0408},
        {"BODEN", [](FuseModel& m) { m.pic876.boden = true; }, 0x0440},
        {"LVP", [](FuseModel& m) { m.pic876.lvp = true; }, 0x0480},
        {"CPD off", [](FuseModel& m) { m.pic876.cpd = false; }, 0x0500},
        {"WRT", [](FuseModel& m) { m.pic876.wrt = true; }, 0x0600},
        {"DEBUG off", [](FuseModel& m) { m.pic876.debug = false; }, 0x0C00},
        // The code protection choice goes to bits 5..4 and again to bits 13..12.
        {"1000-1FFF", [](FuseModel& m) { m.pic876.cp = 1; }, 0x1410},
        {"1F00-1FFF", [](FuseModel& m) { m.pic876.cp = 2; }, 0x2420},
        {"OFF", [](FuseModel& m) { m.pic876.cp = 3; }, 0x3430},
    };
    for (const Case& c : pic876Cases) EXPECT_EQ(pic876(c.apply), c.word) << "16F876 " << c.change;

    struct MegaCase {
        const char* change;
        void (*apply)(FuseModel&);
        unsigned low, high, lock;
    };
    const MegaCase megaCases[] = {
        {"none", [](FuseModel&) {}, 0x30, 0xF8, 0xC0},  // the bits no control sets stay 1
        {"osc 1", [](FuseModel& m) { m.mega163.osc = 1; }, 0x31, 0xF8, 0xC0},
        {"osc 2", [](FuseModel& m) { m.mega163.osc = 2; }, 0x32, 0xF8, 0xC0},
        {"osc 4", [](FuseModel& m) { m.mega163.osc = 4; }, 0x34, 0xF8, 0xC0},
        {"osc 8", [](FuseModel& m) { m.mega163.osc = 8; }, 0x38, 0xF8, 0xC0},
        {"BODEN off", [](FuseModel& m) { m.mega163.boden = false; }, 0x70, 0xF8, 0xC0},
        {"BODLEVEL off", [](FuseModel& m) { m.mega163.bodlevel = false; }, 0xB0, 0xF8, 0xC0},
        {"BOOTRST off", [](FuseModel& m) { m.mega163.bootrst = false; }, 0x30, 0xF9, 0xC0},
        {"512 words", [](FuseModel& m) { m.mega163.bootSize = 1; }, 0x30, 0xFA, 0xC0},
        {"256 words", [](FuseModel& m) { m.mega163.bootSize = 2; }, 0x30, 0xFC, 0xC0},
        {"LB1 off", [](FuseModel& m) { m.mega163.lb1 = false; }, 0x30, 0xF8, 0xC1},
        {"LB2 off", [](FuseModel& m) { m.mega163.lb2 = false; }, 0x30, 0xF8, 0xC2},
        {"BLB01 off", [](FuseModel& m) { m.mega163.blb01 = false; }, 0x30, 0xF8, 0xC4},
        {"BLB02 off", [](FuseModel& m) { m.mega163.blb02 = false; }, 0x30, 0xF8, 0xC8},
        {"BLB11 off", [](FuseModel& m) { m.mega163.blb11 = false; }, 0x30, 0xF8, 0xD0},
        {"BLB12 off", [](FuseModel& m) { m.mega163.blb12 = false; }, 0x30, 0xF8, 0xE0},
    };
    for (const MegaCase& c : megaCases) {
        TDevices d;
        FuseModel m;
        auto& p = m.mega163;
        p.boden = p.bodlevel = p.bootrst = p.lb1 = p.lb2 = p.blb01 = p.blb02 = p.blb11 = p.blb12 =
            true;
        c.apply(m);
        ReadMega163Page(d, m);
        EXPECT_EQ(take(d).v[Low], c.low) << c.change;
        EXPECT_EQ(take(d).v[High], c.high) << c.change;
        EXPECT_EQ(take(d).v[Lock], c.lock) << c.change;
    }
    // An unticked page with both lists at their first entry.
    TDevices d;
    ReadMega163Page(d, FuseModel{});
    EXPECT_EQ(d.FuseLow, 0xF0);
    EXPECT_EQ(d.FuseHigh, 0xF9);
    EXPECT_EQ(d.LockByte, 0xFF);
    EXPECT_EQ(mega163OscillatorItems().size(), 16);
    EXPECT_EQ(mega163OscillatorItems().at(2), "2: Int RC, slow ");
    EXPECT_EQ(mega161OscillatorItems().at(3), "3: Xtal, fast ");
    EXPECT_EQ(pic876CodeProtectItems(),
              QStringList({"0000-1FFF", "1000-1FFF", "1F00-1FFF", "OFF"}));
}

TEST(FusePages, IdBoxFilterAndExitRule) {
    EXPECT_TRUE(eCfgKeyAccepted(QChar(8)));
    EXPECT_TRUE(eCfgKeyAccepted(QChar('a')));
    EXPECT_TRUE(eCfgKeyAccepted(QChar('F')));
    EXPECT_FALSE(eCfgKeyAccepted(QChar('g')));
    EXPECT_FALSE(eCfgKeyAccepted(QChar(' ')));

    TDevices d;
    d.ApplyBuffers();
    FuseModel m;
    eCfgExit(d, m, false, 2, "a");
    EXPECT_EQ(d.IdBuf[2], 0x000A);
    EXPECT_EQ(m.pic84.id[2], "A");
    eCfgExit(d, m, false, 1, "");
    EXPECT_EQ(d.IdBuf[1], 0x3FFF);
    EXPECT_EQ(m.pic84.id[1], "F");
    m.pic876.id[3] = "7";
    eCfgExit(d, m, true, 3, "c");
    EXPECT_EQ(d.IdBuf[3], 0x000C);
    EXPECT_EQ(m.pic876.id[3], "C");
}

TEST(FusePages, AvrFuseBoxPerCardType) {
    FuseModel m;
    ApplyAvrFuseBox(22, m);
    EXPECT_TRUE(m.avr.fuseVisible);
    EXPECT_EQ(m.avr.fuseCaption, "FSTRT");
    ApplyAvrFuseBox(23, m);
    EXPECT_EQ(m.avr.fuseCaption, "RCEN");
    ApplyAvrFuseBox(20, m);
    EXPECT_FALSE(m.avr.fuseVisible);
}

TEST(EnableBoxes, CouplingRuleOnlyForLoaderCards) {
    EnableBoxes b;
    b.prog = false;
    b.data = false;
    b.eep = true;
    cbEepMemClick(20, b);
    EXPECT_TRUE(b.prog && b.data && b.config);
    EXPECT_FALSE(b.progEnabled || b.dataEnabled || b.configEnabled);
    b.eep = false;
    cbEepMemClick(20, b);
    EXPECT_TRUE(b.progEnabled && b.dataEnabled && b.configEnabled);
    EXPECT_TRUE(b.prog && b.data && b.config);

    EnableBoxes direct;
    direct.prog = false;
    cbEepMemClick(10, direct);
    EXPECT_FALSE(direct.prog);
    EXPECT_TRUE(direct.progEnabled);
}

TEST(SlotFiles, RecentListOrder) {
    SlotFiles s;
    const auto list = [&] {
        const auto& r = s.RecentFiles[1];
        return QStringList{r[1], r[2], r[3], r[4], r[5]};
    };
    for (const char* f : {"a", "b", "c", "d", "e", "f"}) s.addRecent(1, f);
    EXPECT_EQ(list(), QStringList({"f", "e", "d", "c", "b"}));  // "a" dropped
    s.addRecent(1, "d");                                        // already entry 3
    EXPECT_EQ(list(), QStringList({"d", "f", "e", "c", "b"}));
    s.addRecent(1, "d");
    EXPECT_EQ(list(), QStringList({"d", "f", "e", "c", "b"}));
    s.moveRecentToTop(1, 3);  // "e"
    EXPECT_EQ(list(), QStringList({"e", "d", "f", "c", "b"}));
    s.RecentFiles[2][2] = "/x/y.hex";
    const auto popup = s.recentPopup(2);
    ASSERT_EQ(popup.size(), 1);
    EXPECT_EQ(popup[0].first, 2);
    EXPECT_EQ(popup[0].second, "&2 /x/y.hex");
}
