#include <gtest/gtest.h>

#include <QComboBox>
#include <QFocusEvent>
#include <QLineEdit>

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
        ASSERT_EQ(c->currentIndex(), index);
    }
    void leave(QLineEdit* edit) {
        QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
        QApplication::sendEvent(edit, &out);
    }
};

// Where a control's value lives: the PIC word, the three AVR bytes, or (for the pages that
// are their own state) a field of the model.
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
struct Box {
    const char* name;
    Reg reg;
    unsigned mask;
    bool tickedWhenSet;
};
// A list shows the field at `shift`; the 16F876 code protection is written to a second place.
struct List {
    const char* name;
    Reg reg;
    int shift;
    unsigned mask;
    int copyShift = -1;
};
using Field = bool& (*)(FuseModel&);
struct ModelBox {
    const char* name;
    Field field;
};
#define FIELD(f) [](FuseModel& m) -> bool& { return m.f; }
struct Page {
    int code;
    FusePage page;
    void (*refresh)(const TDevices&, FuseModel&);
    void (*read)(TDevices&, const FuseModel&);
    std::vector<Box> boxes;
    std::vector<List> lists;
    std::vector<Reg> regs;  // the registers behind the page
    std::vector<ModelBox> modelBoxes = {};
    const char* modelList = nullptr;
    int (*modelListValue)(const FuseModel&) = nullptr;
};

TEST(FuseEditors, EveryPageRoundTripsThroughItsControls) {
    const Page pages[] = {
        {10,
         FusePage::CfgPic,
         RefreshPic84Page,
         ReadPic84Page,
         {{"cbPWdt", Word, 0x0004, true},
          {"cbPpwrte", Word, 0x0008, false},
          {"cbPcp", Word, 0x3FF0, false}},
         {{"cbPOsc", Word, 0, 3}},
         {Word}},
        {11,
         FusePage::CfgDs9,
         RefreshPic876Page,
         ReadPic876Page,
         {{"cbWdte", Word, 0x004, true},
          {"cbPwrte", Word, 0x008, false},
          {"cbBoden", Word, 0x040, true},
          {"cbLvp", Word, 0x080, true},
          {"cbCpd", Word, 0x100, false},
          {"cbWrt", Word, 0x200, true},
          {"chkDebug", Word, 0x800, false}},
         {{"cbFosc", Word, 0, 3}, {"cbCp", Word, 4, 3, 12}},
         {Word}},
        {31,
         FusePage::cfgMega163,
         RefreshMega163Page,
         ReadMega163Page,
         {{"chk163boden", Low, 0x40, false},
          {"chk163bodlevel", Low, 0x80, false},
          {"chk163bootrst", High, 0x01, false},
          {"chk163lb1", Lock, 0x01, false},
          {"chk163lb2", Lock, 0x02, false},
          {"chk163blb01", Lock, 0x04, false},
          {"chk163blb02", Lock, 0x08, false},
          {"chk163blb11", Lock, 0x10, false},
          {"chk163blb12", Lock, 0x20, false}},
         {{"cb163osc", Low, 0, 0xF}, {"cb163bootsize", High, 1, 3}},
         {Low, High, Lock}},
        {22,
         FusePage::CfgAvr,
         nullptr,
         nullptr,
         {},
         {},
         {},
         {{"cbLockBit1", FIELD(avr.lockBit1)},
          {"cbLockBit2", FIELD(avr.lockBit2)},
          {"cbAvrFuse", FIELD(avr.avrFuse)}}},
        {30,
         FusePage::cfgMega161,
         nullptr,
         nullptr,
         {},
         {},
         {},
         {{"chk161blb11", FIELD(mega161.blb11)},
          {"chk161blb12", FIELD(mega161.blb12)},
          {"chk161blb02", FIELD(mega161.blb02)},
          {"chk161blb01", FIELD(mega161.blb01)},
          {"chk161lb1", FIELD(mega161.lb1)},
          {"chk161lb2", FIELD(mega161.lb2)},
          {"chk161boden", FIELD(mega161.boden)},
          {"chk161bodlevel", FIELD(mega161.bodlevel)},
          {"chk161bootrst", FIELD(mega161.bootrst)}},
         "cb161osc",
         [](const FuseModel& m) { return m.mega161.osc; }},
    };
    for (const Page& pg : pages) {
        SCOPED_TRACE(pg.code);
        Editors e(pg.code, pg.page);
        ApplyAvrFuseBox(pg.code, e.model);
        e.model.notify();
        for (int i = 0; i < e.editors->count(); ++i)
            EXPECT_EQ(e.editors->isTabVisible(i), i == e.editors->tabOf(pg.page)) << i;
        EXPECT_EQ(e.editors->currentIndex(), e.editors->tabOf(pg.page));

        // Card values with one bit set (or one cleared) at a time show in every control: a
        // control bound to a wrong bit or to more bits than its own shows a wrong value.
        for (Reg walked : pg.regs) {
            const unsigned width = walked == Word ? 14 : 8;
            for (unsigned bit = 0; bit < width; ++bit) {
                for (bool ones : {false, true}) {
                    unsigned in[4] = {};
                    for (Reg r : pg.regs) in[r] = ones ? (1u << (r == Word ? 14 : 8)) - 1 : 0;
                    in[walked] ^= 1u << bit;
                    SCOPED_TRACE(testing::Message()
                                 << "register " << walked << " = 0x" << std::hex << in[walked]);
                    for (Reg r : {Word, Low, High, Lock}) set(e.devices, r, in[r]);
                    pg.refresh(e.devices, e.model);
                    for (const Box& b : pg.boxes)
                        EXPECT_EQ(e.find<QCheckBox>(b.name)->isChecked(),
                                  ((in[b.reg] & b.mask) != 0) == b.tickedWhenSet)
                            << b.name;
                    for (const List& l : pg.lists)
                        EXPECT_EQ(e.find<QComboBox>(l.name)->currentIndex(),
                                  int((in[l.reg] >> l.shift) & l.mask))
                            << l.name;
                }
            }
        }
        // A list entry chosen by the user moves exactly its bits.
        for (const List& l : pg.lists) {
            pg.read(e.devices, e.model);
            const unsigned before = get(e.devices, l.reg);
            const int other = int(((before >> l.shift) & l.mask) ^ 1);
            e.choose(l.name, other);
            pg.read(e.devices, e.model);
            unsigned want = (before & ~(l.mask << l.shift)) | unsigned(other) << l.shift;
            if (l.copyShift >= 0)
                want = (want & ~(l.mask << l.copyShift)) | unsigned(other) << l.copyShift;
            EXPECT_EQ(get(e.devices, l.reg), want) << l.name;
            e.choose(l.name, other ^ 1);
        }
        // Each box moves exactly its bits.
        for (const Box& b : pg.boxes) {
            pg.read(e.devices, e.model);
            const unsigned before = get(e.devices, b.reg);
            e.click(b.name);
            pg.read(e.devices, e.model);
            EXPECT_EQ(get(e.devices, b.reg), before ^ b.mask) << b.name;
            e.click(b.name);
        }
        // The pages that are their own state: each box is its field, and follows it.
        for (const ModelBox& b : pg.modelBoxes) {
            const bool before = b.field(e.model);
            e.click(b.name);
            EXPECT_EQ(b.field(e.model), !before) << b.name;
            b.field(e.model) = before;
            e.model.notify();
            EXPECT_EQ(e.find<QCheckBox>(b.name)->isChecked(), before) << b.name;
        }
        if (pg.modelList) {
            e.choose(pg.modelList, 5);
            EXPECT_EQ(pg.modelListValue(e.model), 5);
        }
    }
}

TEST(FuseEditors, AvrFuseBoxOnlyForCardTypesWithAFuse) {
    Editors e(22, FusePage::CfgAvr);
    for (int code : {22, 23, 20}) {
        ApplyAvrFuseBox(code, e.model);
        EXPECT_EQ(e.find<QCheckBox>("cbAvrFuse")->isHidden(), code == 20) << code;
    }
}

TEST(FuseEditors, IdBoxesTakeOneHexDigitAndApplyTheExitRule) {
    Editors e(10, FusePage::CfgPic);
    RefreshPic84Page(e.devices, e.model);
    QLineEdit* box = e.find<QLineEdit>("eCfg2");
    EXPECT_EQ(box->text(), "F");
    box->selectAll();
    QTest::keyClicks(box, "g");
    EXPECT_EQ(box->text(), "F");  // not a hex digit: the box does not change
    QTest::keyClicks(box, "a");
    EXPECT_EQ(box->text(), "A");
    EXPECT_EQ(e.devices.IdBuf[2], 0x000A);  // taken at once
    // The user ticks CP, then empties an ID box and leaves it: F, and the choice survives.
    e.click("cbPcp");
    QLineEdit* first = e.find<QLineEdit>("eCfg0");
    first->selectAll();
    QTest::keyClick(first, Qt::Key_Backspace);
    e.leave(first);
    EXPECT_EQ(e.devices.IdBuf[0], 0x3FFF);
    EXPECT_EQ(first->text() + box->text(), "FA");
    EXPECT_TRUE(e.find<QCheckBox>("cbPcp")->isChecked());
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
