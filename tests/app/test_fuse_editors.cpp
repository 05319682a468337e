#include <gtest/gtest.h>

#include <QComboBox>
#include <QFocusEvent>
#include <QLineEdit>
#include <bit>

#include "app/FuseEditors.h"
#include "device/FusePages.h"
#include "device/uDevices.h"
#include "test_main_support.h"

namespace kelvano {
namespace {

using namespace testing_support;

struct Editors {
    TDevices devices;
    FuseModel model;
    std::unique_ptr<FuseEditors> editors;

    Editors(int code, FusePage page) {
        ensureApp();
        devices.DeviceId = code;
        devices.ApplyBuffers();
        model.shown = page;
        ApplyAvrFuseBox(code, model);
        editors = std::make_unique<FuseEditors>(devices, model);
        editors->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(editors.get()));
    }
    template <class W>
    W* find(const char* name) {
        W* w = editors->findChild<W*>(QLatin1String(name));
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
    void click(const char* name) { clickBox(find<QCheckBox>(name)); }
    // The user picks an entry with the keyboard.
    void choose(const char* name, int index) {
        QComboBox* c = find<QComboBox>(name);
        QTest::keyClick(c, Qt::Key_Home);
        for (int i = 0; i < index; ++i) QTest::keyClick(c, Qt::Key_Down);
    }
    void leave(QLineEdit* edit) {
        QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
        QApplication::sendEvent(edit, &out);
    }
};

// The register behind a control: the PIC configuration word or one of the ATmega bytes.
enum Reg { Word, Low, High, Lock };
unsigned get(const TDevices& d, Reg r) {
    return r == Word ? d.CfgWord : r == Low ? d.FuseLow : r == High ? d.FuseHigh : d.LockByte;
}
void set(TDevices& d, Reg r, unsigned v) {
    if (r == Word) d.CfgWord = uint16_t(v);
    if (r == Low) d.FuseLow = uint8_t(v);
    if (r == High) d.FuseHigh = uint8_t(v);
    if (r == Lock) d.LockByte = uint8_t(v);
}

// A box is ticked when the bits under `mask` are not all 0 (`whenSet`) or all 0; a list shows
// the field under `mask` as its index and writes it a second time under `copy`.
struct Control {
    const char* name;
    Reg reg;
    unsigned mask;
    bool whenSet = false, list = false;
    unsigned copy = 0;
};
Control box(const char* n, Reg r, unsigned mask, bool whenSet) { return {n, r, mask, whenSet}; }
Control list(const char* n, Reg r, unsigned mask, unsigned copy = 0) {
    return {n, r, mask, false, true, copy};
}
int field(unsigned v, unsigned mask) { return int((v & mask) >> std::countr_zero(mask)); }

struct Page {
    int code;
    FusePage page;
    void (*refresh)(const TDevices&, FuseModel&);
    void (*read)(TDevices&, const FuseModel&);
    std::vector<Reg> regs;
    std::vector<Control> controls;
};

TEST(FuseEditors, EveryControlShowsAndWritesItsOwnBits) {
    // clang-format off
    const Page pages[] = {
        {10, FusePage::CfgPic, RefreshPic84Page, ReadPic84Page, {Word},
         {list("cbPOsc", Word, 0x3), box("cbPWdt", Word, 0x4, true),
          box("cbPpwrte", Word, 0x8, false), box("cbPcp", Word, 0x3FF0, false)}},
        {11, FusePage::CfgDs9, RefreshPic876Page, ReadPic876Page, {Word},
         {list("cbFosc", Word, 0x3), box("cbWdte", Word, 0x4, true),
          box("cbPwrte", Word, 0x8, false), box("cbBoden", Word, 0x40, true),
          box("cbLvp", Word, 0x80, true), box("cbCpd", Word, 0x100, false),
          box("cbWrt", Word, 0x200, true), box("chkDebug", Word, 0x800, false),
          list("cbCp", Word, 0x30, 0x3000)}},
        {31, FusePage::cfgMega163, RefreshMega163Page, ReadMega163Page, {Low, High, Lock},
         {list("cb163osc", Low, 0x0F), box("chk163boden", Low, 0x40, false),
          box("chk163bodlevel", Low, 0x80, false), box("chk163bootrst", High, 0x01, false),
          list("cb163bootsize", High, 0x06), box("chk163lb1", Lock, 0x01, false),
          box("chk163lb2", Lock, 0x02, false), box("chk163blb01", Lock, 0x04, false),
          box("chk163blb02", Lock, 0x08, false), box("chk163blb11", Lock, 0x10, false),
          box("chk163blb12", Lock, 0x20, false)}},
    };
    // clang-format on
    for (const Page& pg : pages) {
        SCOPED_TRACE(pg.code);
        Editors e(pg.code, pg.page);
        EXPECT_EQ(e.editors->currentIndex(), e.editors->tabOf(pg.page));
        for (int i = 0; i < e.editors->count(); ++i)
            EXPECT_EQ(e.editors->isTabVisible(i), i == e.editors->tabOf(pg.page)) << i;

        // One bit set (or cleared) at a time: a control bound to a wrong or an extra bit shows it.
        for (Reg walked : pg.regs) {
            for (unsigned bit = 0; bit < (walked == Word ? 14u : 8u); ++bit) {
                for (bool ones : {false, true}) {
                    unsigned in[4] = {};
                    for (Reg r : pg.regs) in[r] = ones ? (r == Word ? 0x3FFF : 0xFF) : 0;
                    in[walked] ^= 1u << bit;
                    SCOPED_TRACE(testing::Message() << walked << " = 0x" << std::hex << in[walked]);
                    for (Reg r : pg.regs) set(e.devices, r, in[r]);
                    pg.refresh(e.devices, e.model);
                    for (const Control& c : pg.controls) {
                        const int shown = c.list ? e.find<QComboBox>(c.name)->currentIndex()
                                                 : e.find<QCheckBox>(c.name)->isChecked();
                        EXPECT_EQ(shown, c.list ? field(in[c.reg], c.mask)
                                                : ((in[c.reg] & c.mask) != 0) == c.whenSet)
                            << c.name;
                    }
                }
            }
        }
        // What the user changes moves exactly the control's bits: all of a box's, the lowest of
        // a list's (the next entry) and of its copy.
        for (const Control& c : pg.controls) {
            pg.read(e.devices, e.model);
            const unsigned before = get(e.devices, c.reg);
            if (c.list)
                e.choose(c.name, field(before, c.mask) ^ 1);
            else
                e.click(c.name);
            pg.read(e.devices, e.model);
            const unsigned moved = c.list ? (c.mask & -c.mask) | (c.copy & -c.copy) : c.mask;
            EXPECT_EQ(get(e.devices, c.reg), before ^ moved) << c.name;
        }
    }
}

// The AT90S and ATmega161 pages are their own state: each box is one field of the model.
TEST(FuseEditors, ModelPagesBindEachBoxToItsField) {
    using Field = bool& (*)(FuseModel&);
#define F(f) [](FuseModel& m) -> bool& { return m.f; }
    Editors avr(22, FusePage::CfgAvr), mega(30, FusePage::cfgMega161);
    const auto page = [&](const char* name) -> Editors& {
        return QByteArray(name).startsWith("cb") ? avr : mega;
    };
    // clang-format off
    const std::pair<const char*, Field> boxes[] = {
        {"cbLockBit1", F(avr.lockBit1)}, {"cbLockBit2", F(avr.lockBit2)},
        {"cbAvrFuse", F(avr.avrFuse)},
        {"chk161blb11", F(mega161.blb11)}, {"chk161blb12", F(mega161.blb12)},
        {"chk161blb02", F(mega161.blb02)}, {"chk161blb01", F(mega161.blb01)},
        {"chk161lb1", F(mega161.lb1)}, {"chk161lb2", F(mega161.lb2)},
        {"chk161boden", F(mega161.boden)}, {"chk161bodlevel", F(mega161.bodlevel)},
        {"chk161bootrst", F(mega161.bootrst)}};
    // clang-format on
#undef F
    for (const auto& [name, f] : boxes) {
        Editors& e = page(name);
        const bool before = f(e.model);
        e.click(name);
        EXPECT_EQ(f(e.model), !before) << name;
        f(e.model) = before;
        e.model.notify();
        EXPECT_EQ(e.find<QCheckBox>(name)->isChecked(), before) << name;
    }
    mega.choose("cb161osc", 5);
    EXPECT_EQ(mega.model.mega161.osc, 5);
    // The lock bit boxes say what ticked does to the card; the fuse boxes are not lock bits.
    const std::pair<const char*, const char*> hints[] = {
        {"cbLockBit1",
         "Ticked: lock bit 1 is programmed: the flash and EEPROM can no longer be "
         "programmed, from the next Program on, until the card is erased."},
        {"chk161lb2",
         "Ticked: LB2 is programmed (0): together with LB1, the flash and EEPROM "
         "can no longer be read back (verify) either, from the next Program on, "
         "until the card is erased."},
        {"chk161blb11",
         "Ticked: BLB11 is programmed (0): SPM may not write to the boot loader "
         "section, from the next Program on, until the card is erased."},
        {"chk161bootrst", ""}};
    for (const auto& [name, hint] : hints)
        EXPECT_EQ(page(name).find<QCheckBox>(name)->toolTip(), hint) << name;

    // The AT90S fuse box: "FSTRT" for 21 and 22, "RCEN" for 23, none for the AT90S8515 cards.
    QCheckBox* fuse = avr.find<QCheckBox>("cbAvrFuse");
    const std::pair<int, const char*> captions[] = {
        {22, "FSTRT"}, {23, "RCEN"}, {20, ""}, {21, "FSTRT"}, {24, ""}, {25, ""}, {26, ""}};
    for (const auto& [code, caption] : captions) {
        ApplyAvrFuseBox(code, avr.model);
        avr.model.notify();
        EXPECT_EQ(fuse->isHidden() ? QString() : fuse->text(), QLatin1String(caption)) << code;
    }
}

TEST(FuseEditors, IdBoxesTakeOneHexDigitAndApplyTheExitRule) {
    Editors e(10, FusePage::CfgPic);
    RefreshPic84Page(e.devices, e.model);
    QLineEdit* box = e.find<QLineEdit>("eCfg2");
    box->selectAll();
    QTest::keyClicks(box, "g");
    EXPECT_EQ(box->text(), "F");  // not a hex digit: the box does not change
    QTest::keyClicks(box, "a");
    EXPECT_EQ(e.devices.IdBuf[2], 0x000A);  // taken at once
    // The user ticks CP, then empties an ID box and leaves it: F, and the choice survives.
    e.click("cbPcp");
    QLineEdit* first = e.find<QLineEdit>("eCfg0");
    first->selectAll();
    QTest::keyClick(first, Qt::Key_Backspace);
    e.leave(first);
    EXPECT_EQ(e.devices.IdBuf[0], 0x3FFF);
    EXPECT_EQ(first->text() + box->text(), "FA");
    ReadPic84Page(e.devices, e.model);
    EXPECT_EQ(e.devices.CfgWord & 0x3FF0, 0);

    // A 16F876 box keeps its text when emptied and left.
    e.model.shown = FusePage::CfgDs9;
    e.model.notify();
    QLineEdit* d1 = e.find<QLineEdit>("dId1");
    d1->selectAll();
    QTest::keyClick(d1, Qt::Key_Delete);
    e.leave(d1);
    EXPECT_EQ(e.devices.IdBuf[1], 0x3FFF);
    EXPECT_EQ(d1->text(), "");
}

}  // namespace
}  // namespace kelvano
