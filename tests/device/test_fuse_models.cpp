#include <gtest/gtest.h>

#include "device/FusePages.h"
#include "device/Models.h"

using namespace kelvano;

namespace {

// The registers behind the pages: the PIC configuration word and the three ATmega163 bytes.
enum Reg { Word, Low, High, Lock };
using Regs = std::array<unsigned, 4>;

// How a control forms its bits: a list index, or a box ticked for 1 bits or for 0 bits.
enum Rule { Index, TickedWhenSet, TickedWhenClear };
struct Field {
    const char* name;
    Reg reg;
    unsigned mask;
    Rule rule;
    void (*set)(FuseModel&, int);
    unsigned unit = 0;  // an index's step in the formed register, when not the mask's low bit
};
#define CONTROL(f) [](FuseModel& m, int v) { m.f = v; }

struct Page {
    const char* name;
    void (*read)(TDevices&, const FuseModel&);
    Regs zeroBits;  // formed when every control gives 0 bits; other registers stay as they were
    std::vector<Field> fields;
};

const Page kPages[] = {
    {"16F84",
     ReadPic84Page,
     {0x0000, 0xFF, 0xFF, 0xFF},
     {{"cbPOsc", Word, 0x0003, Index, CONTROL(pic84.osc)},
      {"cbPWdt", Word, 0x0004, TickedWhenSet, CONTROL(pic84.wdt)},
      {"cbPpwrte", Word, 0x0008, TickedWhenClear, CONTROL(pic84.pwrte)},
      {"cbPcp", Word, 0x3FF0, TickedWhenClear, CONTROL(pic84.cp)}}},  // one box for ten bits
    {"16F876",
     ReadPic876Page,
     {0x0400, 0xFF, 0xFF, 0xFF},  // bit 10 is always 1
     {{"cbFosc", Word, 0x0003, Index, CONTROL(pic876.fosc)},
      {"cbWdte", Word, 0x0004, TickedWhenSet, CONTROL(pic876.wdte)},
      {"cbPwrte", Word, 0x0008, TickedWhenClear, CONTROL(pic876.pwrte)},
      // Shown from bits 5..4, formed into bits 5..4 and again 13..12.
      {"cbCp", Word, 0x0030, Index, CONTROL(pic876.cp), 0x1010},
      {"cbBoden", Word, 0x0040, TickedWhenSet, CONTROL(pic876.boden)},
      {"cbLvp", Word, 0x0080, TickedWhenSet, CONTROL(pic876.lvp)},
      {"cbCpd", Word, 0x0100, TickedWhenClear, CONTROL(pic876.cpd)},
      {"cbWrt", Word, 0x0200, TickedWhenSet, CONTROL(pic876.wrt)},
      {"chkDebug", Word, 0x0800, TickedWhenClear, CONTROL(pic876.debug)}}},
    {"ATmega163",
     ReadMega163Page,
     {0x3FFF, 0x30, 0xF8, 0xC0},  // the bits no control sets stay 1
     {{"cb163osc", Low, 0x0F, Index, CONTROL(mega163.osc)},
      {"chk163boden", Low, 0x40, TickedWhenClear, CONTROL(mega163.boden)},
      {"chk163bodlevel", Low, 0x80, TickedWhenClear, CONTROL(mega163.bodlevel)},
      {"chk163bootrst", High, 0x01, TickedWhenClear, CONTROL(mega163.bootrst)},
      {"cb163bootsize", High, 0x06, Index, CONTROL(mega163.bootSize)},
      {"chk163lb1", Lock, 0x01, TickedWhenClear, CONTROL(mega163.lb1)},
      {"chk163lb2", Lock, 0x02, TickedWhenClear, CONTROL(mega163.lb2)},
      {"chk163blb01", Lock, 0x04, TickedWhenClear, CONTROL(mega163.blb01)},
      {"chk163blb02", Lock, 0x08, TickedWhenClear, CONTROL(mega163.blb02)},
      {"chk163blb11", Lock, 0x10, TickedWhenClear, CONTROL(mega163.blb11)},
      {"chk163blb12", Lock, 0x20, TickedWhenClear, CONTROL(mega163.blb12)}}},
};

unsigned lowBit(unsigned mask) { return mask & -mask; }

}  // namespace

// Every control moved alone, to every value giving 1 bits, from a page whose controls all
// give 0 bits: only that control's bits are set in the formed registers.
TEST(FusePages, EveryControlFormsExactlyItsOwnBits) {
    for (const Page& p : kPages)
        for (const Field& f : p.fields) {
            const int last = f.rule == Index ? int(f.mask / lowBit(f.mask)) : 1;
            for (int v = 1; v <= last; ++v) {
                FuseModel m;
                for (const Field& g : p.fields) g.set(m, g.rule == TickedWhenClear);
                f.set(m, f.rule == TickedWhenClear ? 0 : v);
                TDevices d;
                p.read(d, m);
                Regs want = p.zeroBits;
                want[f.reg] |= f.rule == Index ? v * (f.unit ? f.unit : lowBit(f.mask)) : f.mask;
                EXPECT_EQ((Regs{d.CfgWord, d.FuseLow, d.FuseHigh, d.LockByte}), want)
                    << p.name << " " << f.name << " = " << v;
            }
        }
    // An unticked ATmega163 page with both lists at their first entry.
    TDevices d;
    ReadMega163Page(d, FuseModel{});
    EXPECT_EQ(std::tuple(d.FuseLow, d.FuseHigh, d.LockByte), std::tuple(0xF0, 0xF9, 0xFF));
    EXPECT_EQ(mega163OscillatorItems().size(), 16);
    EXPECT_EQ(mega163OscillatorItems().at(2), "2: Int RC, slow ");
    EXPECT_EQ(mega161OscillatorItems().at(3), "3: Xtal, fast ");
    EXPECT_EQ(pic876CodeProtectItems(),
              QStringList({"0000-1FFF", "1000-1FFF", "1F00-1FFF", "OFF"}));
}
