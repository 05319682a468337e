#include <gtest/gtest.h>

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QToolButton>
#include <QTreeWidget>

#include "app/ChecksumLabels.h"
#include "app/ComparePanel.h"
#include "app/DumpGridView.h"
#include "app/GridEditing.h"
#include "app/IdentifyCard.h"
#include "test_main_support.h"

namespace kelvano {
namespace {

using namespace testing_support;

// The program on a blank card 10: PIC16F84 words, 64 data bytes, the EEPROM reached directly.
class GridEditingTest : public ::testing::Test {
protected:
    ProgramRig rig;
    std::unique_ptr<KelvanoProgram> p = rig.start();
    TMain& m = p->Main;
    GridEditing& e = *m.Editing;
    // Runs `a`, its file dialog answering with `name` and `filter`.
    void choose(QAction* a, const QString& name, int filter = 1) {
        rig.answer = FileDialogChoice{name, filter};
        a->trigger();
    }
};

TEST_F(GridEditingTest, TypingWithTheLimitsOfEachMemoryAndUndoRedo) {
    focus(m.pGrid);
    QTest::keyClicks(m.pGrid, "12");  // edit mode is off at start: keys only move
    EXPECT_EQ(p->Devices.ProgBuf[0], 0x3FFF);

    e.ActEditMode->trigger();
    m.pGrid->selectElement(0);
    QTest::keyClicks(m.pGrid, "3041");
    EXPECT_EQ(p->Devices.pGrid.hex(0).left(12), "3041  3FFF  ");
    QTest::keyClick(m.pGrid, '4');  // would set bit 14 of a 14-bit word
    EXPECT_EQ(e.lastMessage(), "A program word of this controller has 14 bits: at most 3FFF.");
    EXPECT_EQ(rig.host.beeps, 1);
    EXPECT_EQ(m.pGrid->cursorElement(), 1);  // a refused key does not move on

    focus(m.dGrid);
    m.dGrid->selectElement(62);
    QTest::keyClick(m.dGrid, Qt::Key_Tab);  // to the text column, two bytes before the end
    QTest::keyClicks(m.dGrid, "OK!");       // the third has no byte left: the cursor stays
    EXPECT_EQ(p->Devices.dGrid.text(3), "..............O!");
    EXPECT_EQ(m.LabFnProgMem->text(), "(changed)");

    // One step per cell typed over: two on the data memory ("K!" into one), one on the flash.
    e.ActUndo->trigger();
    EXPECT_TRUE(p->Devices.DataBuf[63] == 0xFF && p->Devices.DataBuf[62] == 'O');
    // The marks follow the buffers: the cells still edited keep theirs.
    EXPECT_EQ(m.dGrid->markCount(CellMark::Edited), 1);
    EXPECT_EQ(m.dGrid->mark(62), CellMark::Edited);
    EXPECT_EQ(m.pGrid->mark(0), CellMark::Edited);
    e.ActUndo->trigger();
    EXPECT_TRUE(p->Devices.DataBuf[62] == 0xFF && p->Devices.ProgBuf[0] == 0x3041);
    e.ActUndo->trigger();
    EXPECT_EQ(p->Devices.pGrid.hex(0).left(6), "3FFF  ");
    EXPECT_EQ(m.LabFnProgMem->text(), "");
    EXPECT_FALSE(e.ActUndo->isEnabled());
    EXPECT_EQ(m.pGrid->markCount(CellMark::Edited), 0);
    for (int i = 0; i < 3; ++i) e.ActRedo->trigger();
    EXPECT_TRUE(p->Devices.ProgBuf[0] == 0x3041 && p->Devices.DataBuf[63] == '!');
    EXPECT_EQ(m.dGrid->markCount(CellMark::Edited) + m.pGrid->markCount(CellMark::Edited), 3);
    EXPECT_FALSE(e.ActRedo->isEnabled());

    // Go to and find (the search is the device module's): the focused grid, its cursor.
    EXPECT_FALSE(e.goToAddress("40"));
    EXPECT_EQ(rig.host.errors.last(), "\"40\" is not an address of this memory (0000 to 003F).");
    ASSERT_TRUE(e.goToAddress("3F"));
    EXPECT_EQ(m.dGrid->currentIndex().row(), 3);
    EXPECT_EQ(e.find("4F", true, true), -1);
    EXPECT_EQ(e.lastMessage(), "Not found up to the end.");
    EXPECT_EQ(e.find("4F 21", true, false), 62);  // "O!"
    EXPECT_EQ(m.dGrid->cursorElement(), 62);
    EXPECT_EQ(e.find("4F", true, false), -1);
    EXPECT_EQ(e.lastMessage(), "Not found back to the start.");
    EXPECT_EQ(e.find("1G", true, true), -1);
    EXPECT_EQ(e.lastMessage(), "Type hex values of 2 digits separated by blanks.");
}

// What a load sets beside the buffers: ID words and configuration word, fuse and lock bytes,
// and the boxes of the fuse pages.
QString fuseValues(const KelvanoProgram& p) {
    const TDevices& d = p.Devices;
    const FuseModel& f = p.fuses;
    return QString::asprintf(
        "id %x%x%x%x cfg %x osc %d/%d | %x %x %x | avr %d%d%d | 163 osc %d lb1 %d", d.IdBuf[0],
        d.IdBuf[1], d.IdBuf[2], d.IdBuf[3], d.CfgWord, f.pic84.osc, f.pic876.fosc, d.FuseLow,
        d.FuseHigh, d.LockByte, f.avr.lockBit1, f.avr.lockBit2, f.avr.avrFuse, f.mega163.osc,
        f.mega163.lb1);
}

const QString kPicHex = QStringLiteral(KELVANO_TEST_DATA "/pic16f84_config_id_eeprom.hex");

TEST_F(GridEditingTest, SaveProposesTheFileTheBufferHoldsAndTheSumsFollowEveryChange) {
    auto proposed = [&] {
        rig.answer.reset();
        m.ActSave1->trigger();
        return rig.asked.last().fileName;
    };
    // Beside each file name: the CRC-32 and the sum of the buffer, after every kind of change.
    auto* sums = m.findChild<ChecksumLabels*>();
    ASSERT_TRUE(sums && sums->label(1) && sums->label(2) && sums->label(3));
    EXPECT_EQ(sums->label(1)->parentWidget(), m.LabFnProgMem->parentWidget());
    auto expectSum = [&](int slot, const char* want) {
        EXPECT_TRUE(waitFor([&] { return sums->label(slot)->text() == want; }))
            << slot << ": " << sums->label(slot)->text().toStdString();
    };
    // A blank PIC16F84 card: 1024 words 3FFF (FF 3F each), 64 and 2048 bytes FF.
    expectSum(1, "CRC-32 B2729C46  sum F800");
    expectSum(2, "CRC-32 0F6187BA  sum 3FC0");
    expectSum(3, "CRC-32 3F55D17F  sum F800");
    const QString copy = rig.path("copy.bin");
    EXPECT_EQ(proposed(), "");  // blank: no name, in the user's home folder
    EXPECT_EQ(rig.asked.last().directory, QDir::homePath());
    choose(m.ActOpen1, kPicHex);
    const char* loaded = "CRC-32 B590B843  sum F438";
    expectSum(1, loaded);
    expectSum(2, "CRC-32 98D2BA4E  sum 397E");
    choose(m.ActSave1, copy, 2);  // the buffers now hold the copy
    EXPECT_EQ(m.LabFnProgMem->text(), copy);
    m.GridContextPopup(1);
    m.PopFillClick(0);
    expectSum(1, "CRC-32 F1E8BA9E  sum 0000");
    EXPECT_EQ(proposed(), "");  // filled: no file
    EXPECT_EQ(rig.asked.last().directory, rig.dir.path());
    e.undo();  // the fill
    expectSum(1, loaded);
    EXPECT_EQ(proposed(), copy);
    EXPECT_EQ(rig.asked.last().filterIndex, 2);  // the filter of the name proposed
    e.undo();                                    // the save
    EXPECT_EQ(proposed(), kPicHex);
    EXPECT_EQ(rig.asked.last().filterIndex, 1);
    e.undo();  // the load: flash and data EEPROM together
    EXPECT_TRUE(p->Devices.ProgBuf[0x100] == 0x3FFF && p->Devices.DataBuf[0] == 0xFF);
    EXPECT_EQ(proposed(), "");
    e.redo();
    EXPECT_EQ(p->Devices.DataBuf[0], 'K');
    EXPECT_EQ(proposed(), kPicHex);
    writeAll(rig.path("bad.hex"), ":zz\n");
    choose(m.ActOpen1, rig.path("bad.hex"));  // fails: the buffers still hold the file
    EXPECT_EQ(proposed(), kPicHex);

    e.setEditMode(true);
    m.pGrid->selectElement(0x100);
    QTest::keyClicks(m.pGrid, "0");  // word 0100 becomes 047F
    expectSum(1, "CRC-32 B9F03B22  sum F408");
    EXPECT_EQ(m.LabFnProgMem->text(), kPicHex + " *");
    choose(m.ActSave1, rig.path("out.hex"));
    EXPECT_EQ(rig.asked.last().fileName, kPicHex);
    EXPECT_EQ(m.LabFnProgMem->text(), rig.path("out.hex"));
    EXPECT_EQ(m.pGrid->markCount(CellMark::Edited), 0);
    EXPECT_TRUE(readAll(rig.path("out.hex")).contains("7F04"));  // word 0100, low byte first
    // Compare with File starts where the slot's file is.
    rig.answer.reset();
    e.ActCompareFile->trigger();
    EXPECT_EQ(rig.asked.last().directory, rig.dir.path());
    // A file for the external EEPROM shows that memory's page; a program file the controller's.
    writeAll(rig.path("ext.bin"), QByteArray(2048, 'E'));
    choose(m.ActOpen2, rig.path("ext.bin"), 2);
    EXPECT_EQ(m.PageCtl->currentWidget(), m.Pg2);
    EXPECT_EQ(p->Devices.EepBuf[2047], 'E');
    choose(m.ActOpen1, kPicHex);
    EXPECT_EQ(m.PageCtl->currentWidget(), m.Pg1);

    // One undo takes back all a load brought (B after A, or a file after the user's ticks), a redo
    // brings it again, a save after the undo writes A's. Other families keep theirs.
    const QString pic84 = rig.path("pic84b.hex"), pic876 = rig.path("pic876b.hex");
    writeAll(pic84, ":0840000009000A000B000C008E\n:02400E00FF3F72\n:020000001234B8\n:00000001FF\n");
    writeAll(pic876,
             ":0840000005000600070008009E\n:02400E007A3BFB\n:020000001234B8\n:00000001FF\n");
    const QString data = QStringLiteral(KELVANO_TEST_DATA "/");
    const struct {
        int card;
        std::function<void(FuseModel&)> ticks;  // the user's, before the first load
        QString first, second;
        const char *firstValues, *secondValues, *savedConfig;
    } rows[] = {
        // clang-format off
        {10, [](FuseModel&) {}, data + "pic16f84_config_id_eeprom.hex", pic84,
         "id 1234 cfg 3ff1 osc 1/0 | ff ff ff | avr 111 | 163 osc 0 lb1 0",
         "id 9abc cfg 3fff osc 3/0 | ff ff ff | avr 111 | 163 osc 0 lb1 0", ":02400E00F13F80"},
        {11, [](FuseModel&) {}, data + "pic16f876_config_eeprom.hex", pic876,
         "id 0a0b cfg 3f39 osc 1/1 | ff ff ff | avr 111 | 163 osc 0 lb1 0",
         "id 5678 cfg 3b7a osc 1/2 | ff ff ff | avr 111 | 163 osc 0 lb1 0", ":02400E00393F38"},
        {22, [](FuseModel& f) { f.avr.lockBit1 = f.avr.lockBit2 = f.avr.avrFuse = false; },
         {}, data + "at90s2323_fuse_lock.elf",
         "id 0a0b cfg 3f39 osc 1/1 | ff ff ff | avr 000 | 163 osc 0 lb1 0",
         "id 0a0b cfg 3f39 osc 1/1 | ff ff ff | avr 101 | 163 osc 0 lb1 0", nullptr},
        {31, [](FuseModel& f) { f.mega163.osc = 5; }, {}, data + "mega163_all_memories.elf",
         "id 0a0b cfg 3f39 osc 1/1 | ff ff ff | avr 101 | 163 osc 5 lb1 0",
         "id 0a0b cfg 3f39 osc 1/1 | 2e f9 fc | avr 101 | 163 osc 14 lb1 1", nullptr},
        // clang-format on
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.card);
        m.MnuDevices->findChild<QAction*>(QStringLiteral("DEV%1").arg(r.card))->trigger();
        r.ticks(p->fuses);
        p->fuses.notify();
        for (const QString& file : {r.first, r.second})
            if (!file.isEmpty()) choose(m.ActOpen1, file);
        const uint16_t secondWord = p->Devices.ProgBuf[0];
        EXPECT_EQ(fuseValues(*p), r.secondValues);
        e.undo();
        EXPECT_EQ(fuseValues(*p), r.firstValues);
        EXPECT_EQ(m.LabFnProgMem->text(), r.first);
        e.redo();
        EXPECT_EQ(fuseValues(*p), r.secondValues);
        EXPECT_EQ(p->Devices.ProgBuf[0], secondWord);
        if (!r.savedConfig) continue;
        e.undo();
        choose(m.ActSave1, rig.path("undone.hex"));
        EXPECT_TRUE(readAll(rig.path("undone.hex")).contains(r.savedConfig));
    }
    EXPECT_EQ(rig.errors(), "File: " + rig.path("bad.hex").toStdString() +
                                "\r\rError in Hexfile, Line #1\r:zz\r(Illegal character)");
}

// Compare with a file, then with the card: the runs listed, the cells that differ marked, the
// buffers kept; a change forgets its grid's marks. Then a read, Identify Card, a protected card.
TEST_F(GridEditingTest, CompareWithAFileAndWithTheCardListsRunsAndMarksCells) {
    p->Devices.DataBuf[2] = 'L';  // already as in the file
    e.compareWithFile(kPicHex);
    ComparePanel* d = e.comparePanel();
    ASSERT_NE(d, nullptr);
    QTreeWidget* list = d->list();
    ASSERT_EQ(list->topLevelItemCount(), 3);
    EXPECT_EQ(list->topLevelItem(0)->text(0), "Program Memory");
    EXPECT_EQ(list->topLevelItem(1)->child(1)->text(0), "0003-0008");
    EXPECT_EQ(list->topLevelItem(1)->child(1)->text(3), "56 41 4E 4F 00 A5");
    EXPECT_EQ(d->summary()->text(), "18 differences in all.");
    EXPECT_EQ(m.pGrid->markCount(CellMark::Differs), 5);
    EXPECT_EQ(m.dGrid->markCount(CellMark::Differs), 8);
    EXPECT_EQ(m.dGrid->mark(2), CellMark::None);
    EXPECT_EQ(p->Devices.ProgBuf[0], 0x3FFF);
    list->setCurrentItem(list->topLevelItem(1)->child(1));
    EXPECT_EQ(m.dGrid->cursorElement(), 3);
    m.GridContextPopup(2);
    m.PopFillClick(1);  // FF, as the card's
    EXPECT_EQ(m.dGrid->markCount(CellMark::Differs), 0);
    EXPECT_EQ(m.pGrid->markCount(CellMark::Differs), 5);

    EXPECT_FALSE(e.ActCompare->isEnabled());  // like the five actions: only with the box
    p->options.ports = {"SIM"};
    p->options.selectPort("SIM");
    m.ButConnect->click();
    ASSERT_TRUE(p->Com.portOpen()) << rig.errors();
    SimCard& card = p->simBox.card();
    card.flash[2] = 0x1234;
    card.flash[3] = 0x0ABC;
    card.eeprom[17] = 0x5A;
    e.ActCompare->trigger();  // the action window reads, then closes itself
    EXPECT_EQ(e.comparePanel()->report().diffLines(),
              "flash 0002-0003 2 3FFF3FFF 12340ABC\n"
              "eeprom 0011-0011 1 FF 5A\n");
    EXPECT_EQ(p->Devices.ProgBuf[2], 0x3FFF);
    EXPECT_EQ(m.pGrid->mark(3), CellMark::Differs);
    EXPECT_EQ(m.pGrid->markCount(CellMark::Differs), 2);  // the file's marks are gone
    EXPECT_EQ(m.eGrid->markCount(CellMark::Differs), 1);
    m.ActRead->trigger();  // a read through the same window takes the card's values
    EXPECT_TRUE(p->Devices.ProgBuf[3] == 0x0ABC && p->Devices.EepBuf[17] == 0x5A);
    EXPECT_FALSE(p->ActionWindow.isVisible());
    // Identify Card: the controller's card types, and the one family to switch to.
    auto* control = m.findChild<IdentifyControl*>();
    ASSERT_TRUE(control && control->action()->isEnabled());
    EXPECT_TRUE(m.MnuAction->actions().contains(control->action()));
    const struct {
        int card, pick, selectedAfter;  // the box's card; the offer picked (-1: closed); then
        const char *firstLine, *offered;
    } cases[] = {
        {22, 0, 22, "Controller: AT90S2323", "AVR-Card (AT90S2323 + 24C16)"},
        {26, 2, 25, "Controller: AT90S8515",
         "AVR-Fun 2 (AT90S8515 + 24C64)|AVR-Fun 3 (AT90S8515 + 24C128)|"
         "AVR-Fun 4 (AT90S8515 + 24C256)|AVR-Fun 5 (AT90S8515 + 24C512)"},
        {25, -1, 25, "Controller: AT90S8515", ""},                // already the card type's
        {13, -1, 25, "Controller: PIC16F84 (no device ID)", ""},  // two families: no offer
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.card);
        p->simBox.insertCard(c.card);
        QStringList offered;
        QString text;
        bool buttonShown = false;
        control->setResultShower([&](IdentifyResultDialog& d) {
            text = d.text()->text();
            for (int i = 0; i < d.choiceBox()->count(); ++i) offered << d.choiceBox()->itemText(i);
            buttonShown = !d.switchButton()->isHidden();
            if (c.pick < 0) return int(QDialog::Rejected);
            d.choiceBox()->setCurrentIndex(c.pick);
            d.switchButton()->click();
            return d.result();
        });
        control->action()->trigger();
        EXPECT_TRUE(text.startsWith(c.firstLine)) << text.toStdString();
        EXPECT_EQ(offered.join('|'), c.offered);
        EXPECT_EQ(buttonShown, *c.offered != 0);
        EXPECT_EQ(p->Devices.DeviceId, c.selectedAfter);
    }
    // A read-locked card: its error offers to erase the card and program the buffers instead.
    m.MnuDevices->findChild<QAction*>("DEV22")->trigger();
    p->Devices.ProgBuf[0] = 0x1234;
    const uint16_t was = p->simBox.card().flash[0];
    for (bool chosen : {false, true}) {
        SCOPED_TRACE(chosen);
        p->simBox.card().lockBits = 0xF9;
        rig.host.eraseChosen = chosen;
        m.ActVerify->trigger();
        EXPECT_EQ(rig.errors(),
                  "AVR-Device is protected!\rCan't read, verify or blank check the device.");
        rig.host.errors.clear();
        EXPECT_EQ(p->simBox.card().flash[0], chosen ? 0x1234 : was);
    }
    m.ButConnect->click();
    EXPECT_FALSE(e.ActCompare->isEnabled() || p->Com.portOpen() || m.ActRead->isEnabled());
    EXPECT_EQ(rig.errors(), "");

    // The grids let events run while they fill; a command then must not touch the buffers.
    m.GridContextPopup(3);
    rig.host.duringEvents = [&] {
        m.MnuDevices->findChild<QAction*>("DEV10")->trigger();
        m.PopFillClick(0);
    };
    m.MnuDevices->findChild<QAction*>("DEV26")->trigger();  // 24C512, 4096 rows
    EXPECT_EQ(p->Devices.DeviceId, 26);
    EXPECT_EQ(p->Devices.EepBuf[65535], 0xFF);
    // The report and the find bar sit under the grid: the cell they select stays in sight.
    m.showMemoryPage(2);
    QByteArray image(65536, char(0xFF));
    image[0xF003] = 0x12;
    writeAll(rig.path("ext.bin"), image);
    e.compareWithFile(rig.path("ext.bin"));
    ASSERT_TRUE(e.comparePanel() == d && d->isVisible());
    auto inSight = [&](QWidget* cover) {
        QCoreApplication::processEvents();
        DumpGridView* g = m.eGrid;
        const QRect view(g->viewport()->mapTo(&m, QPoint(0, 0)), g->viewport()->size());
        return g->viewport()->rect().contains(g->visualRect(g->currentIndex())) &&
               view.bottom() < cover->mapTo(&m, QPoint(0, 0)).y();
    };
    d->list()->setCurrentItem(d->list()->topLevelItem(0)->child(0));
    EXPECT_EQ(m.eGrid->cursorElement(), 0xF003);
    EXPECT_TRUE(inSight(d));
    p->Devices.EepBuf[0xE001] = 0x34;
    p->Devices.showGrid(3);
    m.eGrid->selectElement(0);
    e.ActFind->trigger();
    QWidget* bar = e.findBar();
    ASSERT_TRUE(bar && bar->isVisible());
    auto* text = bar->findChild<QLineEdit*>("FindText");
    text->setText("34");
    QTest::keyClick(text, Qt::Key_Return);
    EXPECT_EQ(bar->findChild<QLabel*>("FindStatus")->text(), "Found at E001.");
    EXPECT_TRUE(inSight(bar) && inSight(d));
    QTest::keyClick(text, Qt::Key_Escape);
    EXPECT_FALSE(bar->isVisible());
    // Paging and Ctrl+End scroll with the selection; a fill redraws the rows, keeping both.
    DumpGridView* g = m.eGrid;
    g->selectElement(0);
    focus(g);
    for (int i = 0; i < 3; ++i) QTest::keyClick(g, Qt::Key_PageDown);
    EXPECT_GT(g->currentIndex().row(), 6);
    EXPECT_TRUE(g->verticalScrollBar()->value() > 0 && inSight(d));
    QTest::keyClick(g, Qt::Key_End, Qt::ControlModifier);
    EXPECT_EQ(g->currentIndex().row(), 4095);
    EXPECT_TRUE(inSight(d));
    m.GridContextPopup(3);
    m.PopFillClick(0);
    EXPECT_EQ(p->Devices.EepBuf[65535], 0);
    EXPECT_EQ(g->model()->index(4095, 1).data().toString().left(3), "00 ");
    EXPECT_TRUE(g->currentIndex().row() == 4095 && inSight(d));
    QTest::keyClick(g, Qt::Key_Home, Qt::ControlModifier);
    EXPECT_EQ(g->verticalScrollBar()->value(), 0);

    // The summary counts what was compared; what was not is said on one line.
    const QString protectedNote =
        "not read: AVR-Device is protected! Can't read, verify or blank check the device.";
    const TBufArray a{0xFF, 0xFF, 0xFF, 0xFF}, b{0xFF, 0xFF, 0xFF, 0};
    const MemoryDiff same = diffMemory("data", "Data Memory", 2, 2, a, a, 0xFF);
    const MemoryDiff differs = diffMemory("data", "Data Memory", 2, 2, a, b, 0xFF);
    const MemoryDiff skipped = skippedMemory("flash", "Program Memory", 1, protectedNote);
    const struct {
        std::vector<MemoryDiff> memories;
        const char* summary;
    } reports[] = {
        {{skipped, skippedMemory("eeprom", "EEPROM Memory", 3, protectedNote)},
         "Nothing was compared."},
        {{}, "Nothing was compared: every Enable box is unticked."},
        {{skipped, same}, "No differences in the memories compared."},
        {{same}, "No differences."},
        {{skipped, differs}, "1 difference in all."},
    };
    for (const auto& r : reports) {
        d->showReport(CompareReport{"card", r.memories});
        EXPECT_EQ(d->summary()->text(), r.summary);
    }
    QTreeWidgetItem* line = d->list()->topLevelItem(0);
    EXPECT_EQ(line->text(0), "Program Memory not compared: AVR-Device is protected!");
    EXPECT_TRUE(line->isFirstColumnSpanned());
    EXPECT_EQ(line->toolTip(0), protectedNote);
    EXPECT_EQ(d->list()->topLevelItem(1)->child(0)->text(0), "0003");
}

}  // namespace
}  // namespace kelvano
