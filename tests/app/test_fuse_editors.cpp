#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFocusEvent>
#include <QLineEdit>
#include <QTest>

#include "app/FuseEditors.h"
#include "device/FusePages.h"
#include "device/uDevices.h"

namespace kelvano {
namespace {

void ensureApp() {
    if (QCoreApplication::instance()) return;
    static int argc = 1;
    static char name[] = "test_app";
    static char* argv[] = {name, nullptr};
    new QApplication(argc, argv);
}

struct Editors {
    TDevices devices;
    FuseModel model;
    std::unique_ptr<FuseEditors> editors;

    explicit Editors(int code, FusePage page) {
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
    QCheckBox* box(const char* name) { return find<QCheckBox>(name); }
    QComboBox* list(const char* name) { return find<QComboBox>(name); }
    QLineEdit* id(const char* name) { return find<QLineEdit>(name); }
    // A click on the box's indicator (its text may be narrower than the widget).
    void click(const char* name) {
        QCheckBox* b = box(name);
        QTest::mouseClick(b, Qt::LeftButton, {}, QPoint(8, b->height() / 2));
    }
    // The user picks an entry with the keyboard.
    void choose(const char* name, int index) {
        QComboBox* c = list(name);
        QTest::keyClick(c, Qt::Key_Home);
        for (int i = 0; i < index; ++i) QTest::keyClick(c, Qt::Key_Down);
        ASSERT_EQ(c->currentIndex(), index);
    }
    void leave(QLineEdit* edit) {
        QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
        QApplication::sendEvent(edit, &out);
    }
};

struct BitBox {
    const char* name;
    unsigned mask;
    bool tickedWhenSet;
};

TEST(FuseEditors, Pic84PageShowsAndFormsTheConfigurationWord) {
    Editors e(10, FusePage::CfgPic);
    const FuseEditors& ed = *e.editors;
    EXPECT_EQ(ed.objectName(), "CfgCtrl");
    ASSERT_EQ(ed.count(), 5);
    for (int i = 0; i < ed.count(); ++i) EXPECT_EQ(ed.isTabVisible(i), i == ed.tabOf(FusePage::CfgPic));
    EXPECT_EQ(ed.tabText(ed.tabOf(FusePage::CfgPic)), "16F84 Fuses");
    EXPECT_EQ(ed.widget(ed.tabOf(FusePage::CfgPic))->objectName(), "CfgPic");

    e.devices.CfgWord = 0x3FFF;
    RefreshPic84Page(e.devices, e.model);
    EXPECT_EQ(e.list("cbPOsc")->currentText(), "RC");
    EXPECT_TRUE(e.box("cbPWdt")->isChecked());
    EXPECT_FALSE(e.box("cbPpwrte")->isChecked());
    EXPECT_FALSE(e.box("cbPcp")->isChecked());
    ReadPic84Page(e.devices, e.model);
    EXPECT_EQ(e.devices.CfgWord, 0x3FFF);

    // CP ticked, "XT", WDT and PWRTE unticked.
    e.click("cbPcp");
    e.choose("cbPOsc", 1);
    e.click("cbPWdt");
    ReadPic84Page(e.devices, e.model);
    EXPECT_EQ(e.devices.CfgWord, 0x0009);

    // Each box moves exactly its bits of the word.
    const BitBox boxes[] = {{"cbPWdt", 0x0004, true}, {"cbPpwrte", 0x0008, false}, {"cbPcp", 0x3FF0, false}};
    e.devices.CfgWord = 0x3FFF;
    RefreshPic84Page(e.devices, e.model);
    for (const BitBox& b : boxes) {
        e.click(b.name);
        ReadPic84Page(e.devices, e.model);
        EXPECT_EQ(e.devices.CfgWord, 0x3FFF ^ b.mask) << b.name;
        e.click(b.name);
    }
}

TEST(FuseEditors, Pic876PageShowsAndFormsTheConfigurationWord) {
    Editors e(11, FusePage::CfgDs9);
    EXPECT_EQ(e.editors->tabText(e.editors->currentIndex()), "16F876 Fuses");
    EXPECT_TRUE(e.editors->isTabVisible(e.editors->tabOf(FusePage::CfgDs9)));
    EXPECT_FALSE(e.editors->isTabVisible(e.editors->tabOf(FusePage::CfgPic)));

    e.devices.CfgWord = 0x3FFF;
    RefreshPic876Page(e.devices, e.model);
    EXPECT_EQ(e.list("cbFosc")->currentText(), "RC");
    EXPECT_EQ(e.list("cbCp")->currentText(), "OFF");
    const BitBox boxes[] = {{"cbWdte", 0x004, true},  {"cbPwrte", 0x008, false}, {"cbBoden", 0x040, true},
                            {"cbLvp", 0x080, true},   {"cbCpd", 0x100, false},  {"cbWrt", 0x200, true},
                            {"chkDebug", 0x800, false}};
    for (const BitBox& b : boxes) EXPECT_EQ(e.box(b.name)->isChecked(), b.tickedWhenSet) << b.name;
    ReadPic876Page(e.devices, e.model);
    EXPECT_EQ(e.devices.CfgWord, 0x3FFF);

    e.choose("cbCp", 1);  // "1000-1FFF"
    ReadPic876Page(e.devices, e.model);
    EXPECT_EQ(e.devices.CfgWord, 0x1FDF);
    e.choose("cbCp", 3);

    for (const BitBox& b : boxes) {
        e.click(b.name);
        ReadPic876Page(e.devices, e.model);
        EXPECT_EQ(e.devices.CfgWord, 0x3FFF ^ b.mask) << b.name;
        e.click(b.name);
    }
    // Words as a card gives them: the page shows every field and forms the word again.
    for (unsigned word : {0x3FFFu, 0x0400u, 0x2FA1u, 0x17DEu}) {
        e.devices.CfgWord = static_cast<uint16_t>(word);
        RefreshPic876Page(e.devices, e.model);
        EXPECT_EQ(e.list("cbFosc")->currentIndex(), static_cast<int>(word & 3));
        EXPECT_EQ(e.list("cbCp")->currentIndex(), static_cast<int>((word >> 4) & 3));
        for (const BitBox& b : boxes)
            EXPECT_EQ(e.box(b.name)->isChecked(), ((word & b.mask) != 0) == b.tickedWhenSet) << b.name;
        ReadPic876Page(e.devices, e.model);
        EXPECT_EQ(e.devices.CfgWord, word);
    }
}

TEST(FuseEditors, Mega163PageShowsAndFormsTheFuseBytes) {
    Editors e(31, FusePage::cfgMega163);
    EXPECT_EQ(e.editors->tabText(e.editors->currentIndex()), "ATMega163 Fuses");
    QComboBox* osc = e.list("cb163osc");
    ASSERT_EQ(osc->count(), 16);
    EXPECT_EQ(osc->itemText(2), "2: Int RC, slow ");
    EXPECT_EQ(osc->itemText(3), "3: Int RC, fast ");
    EXPECT_EQ(osc->itemText(15), "15: Res/Ext, BOD");
    EXPECT_EQ(e.list("cb163bootsize")->itemText(3), "3: 128 Words");

    // Everything unticked, both lists at 0.
    e.devices.FuseLow = 0xFF;
    e.devices.FuseHigh = 0xFF;
    e.devices.LockByte = 0xFF;
    RefreshMega163Page(e.devices, e.model);
    e.choose("cb163osc", 0);
    e.choose("cb163bootsize", 0);
    ReadMega163Page(e.devices, e.model);
    EXPECT_EQ(e.devices.FuseLow, 0xF0);
    EXPECT_EQ(e.devices.FuseHigh, 0xF9);
    EXPECT_EQ(e.devices.LockByte, 0xFF);

    struct ByteBox {
        const char* name;
        uint8_t TDevices::*byte;
        unsigned bit;
    };
    const ByteBox boxes[] = {{"chk163boden", &TDevices::FuseLow, 6},   {"chk163bodlevel", &TDevices::FuseLow, 7},
                             {"chk163bootrst", &TDevices::FuseHigh, 0}, {"chk163lb1", &TDevices::LockByte, 0},
                             {"chk163lb2", &TDevices::LockByte, 1},    {"chk163blb01", &TDevices::LockByte, 2},
                             {"chk163blb02", &TDevices::LockByte, 3},  {"chk163blb11", &TDevices::LockByte, 4},
                             {"chk163blb12", &TDevices::LockByte, 5}};
    for (const ByteBox& b : boxes) {
        const uint8_t before = e.devices.*b.byte;
        e.click(b.name);
        ReadMega163Page(e.devices, e.model);
        EXPECT_EQ(e.devices.*b.byte, before & ~(1u << b.bit)) << b.name;
        e.click(b.name);
        ReadMega163Page(e.devices, e.model);
    }
    e.choose("cb163osc", 11);
    e.choose("cb163bootsize", 2);
    ReadMega163Page(e.devices, e.model);
    EXPECT_EQ(e.devices.FuseLow, 0xFB);
    EXPECT_EQ(e.devices.FuseHigh, 0xFD);

    // Bytes read from a card.
    e.devices.FuseLow = 0x2A;
    e.devices.FuseHigh = 0xFC;
    e.devices.LockByte = 0xC5;
    RefreshMega163Page(e.devices, e.model);
    EXPECT_EQ(osc->currentIndex(), 10);
    EXPECT_EQ(e.list("cb163bootsize")->currentIndex(), 2);
    for (const ByteBox& b : boxes)
        EXPECT_EQ(e.box(b.name)->isChecked(), ((e.devices.*b.byte >> b.bit) & 1) == 0) << b.name;
}

TEST(FuseEditors, AvrAndMega161PagesAreTheirOwnState) {
    Editors e(22, FusePage::CfgAvr);
    ApplyAvrFuseBox(22, e.model);
    EXPECT_EQ(e.editors->tabText(e.editors->currentIndex()), "AVR Fuses");
    EXPECT_EQ(e.box("cbLockBit1")->text(), "Lockbit 1");
    EXPECT_EQ(e.box("cbLockBit2")->text(), "Lockbit 2");
    EXPECT_EQ(e.box("cbAvrFuse")->text(), "FSTRT");
    EXPECT_FALSE(e.box("cbAvrFuse")->isHidden());
    EXPECT_TRUE(e.box("cbLockBit1")->isChecked() && e.box("cbAvrFuse")->isChecked());
    e.click("cbLockBit2");
    EXPECT_FALSE(e.model.avr.lockBit2);
    ApplyAvrFuseBox(23, e.model);
    EXPECT_EQ(e.box("cbAvrFuse")->text(), "RCEN");
    ApplyAvrFuseBox(20, e.model);
    EXPECT_TRUE(e.box("cbAvrFuse")->isHidden());
    // The action code sets the boxes from a card: the page follows.
    e.model.avr.lockBit1 = false;
    e.model.notify();
    EXPECT_FALSE(e.box("cbLockBit1")->isChecked());

    e.model.shown = FusePage::cfgMega161;
    e.model.notify();
    EXPECT_EQ(e.editors->tabText(e.editors->currentIndex()), "ATMega161 Fuses");
    EXPECT_FALSE(e.editors->isTabVisible(e.editors->tabOf(FusePage::CfgAvr)));
    QComboBox* osc = e.list("cb161osc");
    ASSERT_EQ(osc->count(), 8);
    EXPECT_EQ(osc->itemText(2), "2: Xtal, slow ");
    EXPECT_EQ(osc->itemText(3), "3: Xtal, fast ");
    EXPECT_EQ(osc->itemText(6), "6: Res, fast");
    e.choose("cb161osc", 5);
    EXPECT_EQ(e.model.mega161.osc, 5);
    const std::pair<const char*, bool Mega161Page::*> boxes[] = {
        {"chk161blb11", &Mega161Page::blb11}, {"chk161blb12", &Mega161Page::blb12},
        {"chk161blb02", &Mega161Page::blb02}, {"chk161blb01", &Mega161Page::blb01},
        {"chk161lb1", &Mega161Page::lb1},     {"chk161lb2", &Mega161Page::lb2},
        {"chk161boden", &Mega161Page::boden}, {"chk161bodlevel", &Mega161Page::bodlevel},
        {"chk161bootrst", &Mega161Page::bootrst}};
    for (const auto& [name, field] : boxes) {
        e.click(name);
        EXPECT_TRUE(e.model.mega161.*field) << name;
    }
}

TEST(FuseEditors, IdBoxesTakeOneHexDigitAndApplyTheExitRule) {
    Editors e(10, FusePage::CfgPic);
    RefreshPic84Page(e.devices, e.model);
    QLineEdit* box = e.id("eCfg2");
    EXPECT_EQ(box->text(), "F");
    EXPECT_EQ(box->maxLength(), 1);
    EXPECT_TRUE(QFontInfo(box->font()).fixedPitch());

    box->selectAll();
    QTest::keyClicks(box, "g");
    EXPECT_EQ(box->text(), "F");  // not a hex digit: the box does not change
    QTest::keyClicks(box, "a");
    EXPECT_EQ(box->text(), "A");
    EXPECT_EQ(e.devices.IdBuf[2], 0x000A);  // taken at once
    box->selectAll();
    box->insert("Z");  // pasted text goes through the same check
    EXPECT_EQ(box->text(), "A");

    // The user ticks CP, then empties an ID box and leaves it.
    e.click("cbPcp");
    QLineEdit* first = e.id("eCfg0");
    first->selectAll();
    QTest::keyClick(first, Qt::Key_Backspace);
    EXPECT_EQ(first->text(), "");
    e.leave(first);
    EXPECT_EQ(e.devices.IdBuf[0], 0x3FFF);
    EXPECT_EQ(first->text(), "F");
    EXPECT_EQ(box->text(), "A");
    EXPECT_TRUE(e.box("cbPcp")->isChecked());  // the user's choice survives the re-show
    ReadPic84Page(e.devices, e.model);
    EXPECT_EQ(e.devices.CfgWord, 0x000F);

    // A 16F876 box keeps its text when emptied and left.
    e.model.shown = FusePage::CfgDs9;
    e.model.notify();
    QLineEdit* d1 = e.id("dId1");
    d1->selectAll();
    QTest::keyClick(d1, Qt::Key_Delete);
    e.leave(d1);
    EXPECT_EQ(e.devices.IdBuf[1], 0x3FFF);
    EXPECT_EQ(d1->text(), "");
    QTest::keyClicks(d1, "7");
    e.leave(d1);
    EXPECT_EQ(e.devices.IdBuf[1], 0x0007);
    EXPECT_EQ(e.id("eCfg1")->text(), "7");  // the 16F84 page is re-shown from IdBuf

    // Leaving a box with a short ID buffer keeps the other entries.
    e.devices.IdBuf = TBufArray{0x1, 0x2};
    eCfgExit(e.devices, e.model, false, 3, "c");
    EXPECT_EQ(e.devices.IdBuf[0], 0x1);
    EXPECT_EQ(e.devices.IdBuf[1], 0x2);
    EXPECT_EQ(e.devices.IdBuf[3], 0xC);
}

}  // namespace
}  // namespace kelvano
