#include <gtest/gtest.h>

#include <QContextMenuEvent>
#include <QDir>
#include <QKeyEvent>
#include <QLabel>
#include <QScreen>
#include <QTabWidget>
#include <QToolBar>
#include <QToolButton>

#include "app/ComparePanel.h"
#include "app/DumpGridView.h"
#include "app/GridEditing.h"
#include "app/MainLayout.h"
#include "test_main_support.h"

namespace kelvano {
namespace {

using namespace testing_support;

void rightClick(QAbstractScrollArea* grid, TMain& main) {
    QContextMenuEvent right(QContextMenuEvent::Mouse, QPoint(5, 5), QPoint(5, 5));
    QCoreApplication::sendEvent(grid->viewport(), &right);
    main.PopFill->hide();
}

// Each card type from the Devices menu: its pages, buffers and settings section, and how the
// Enable boxes couple where the box reaches the EEPROM through a loader (not 10, 13, 14).
TEST(MainWindowTest, PickingACardTypeShowsItsPagesAndBuffersThatTheFillPopupFills) {
    // clang-format off
    const struct {
        int code;
        const char *name, *controller, *external;
        FusePage page;
        int flashWords, dataBytes, eepromBytes;
        bool loader;
    } cards[] = {
        {15, "PIC/Goldwafer (PIC16F84 + 24C16)", "PIC 16F84", "EEPROM 24C16", FusePage::CfgPic, 1024, 64, 2048, true},
        {10, "Brelmont PIC (PIC16F84 + 24C16)", "PIC 16F84", "EEPROM 24C16", FusePage::CfgPic, 1024, 64, 2048, false},
        {13, "Brelmont PIC (PIC16F84 + 24C64)", "PIC 16F84", "EEPROM 24C64", FusePage::CfgPic, 1024, 64, 8192, false},
        {14, "Brelmont PIC (PIC16F84 + 24C256)", "PIC 16F84", "EEPROM 24C256", FusePage::CfgPic, 1024, 64, 32768, false},
        {11, "PIC-Card 2 (PIC16F876 + 24C64)", "PIC 16F876", "EEPROM 24C64", FusePage::CfgDs9, 8192, 256, 8192, true},
        {12, "PIC-Card 4 (PIC16F876 + 24C256)", "PIC 16F876", "EEPROM 24C256", FusePage::CfgDs9, 8192, 256, 32768, true},
        {22, "AVR-Card (AT90S2323 + 24C16)", "AT 90S2323", "EEPROM 24C16", FusePage::CfgAvr, 1024, 128, 2048, true},
        {23, "AVR-Card (AT90S2343 + 24C16)", "AT 90S2343", "EEPROM 24C16", FusePage::CfgAvr, 1024, 128, 2048, true},
        {21, "AVR-Jupiter 2 (AT90S8535 + 24C64)", "AT 90S8535", "EEPROM 24C64", FusePage::CfgAvr, 4096, 512, 8192, true},
        {20, "AVR-Fun 2 (AT90S8515 + 24C64)", "AT 90S8515", "EEPROM 24C64", FusePage::CfgAvr, 4096, 512, 8192, true},
        {24, "AVR-Fun 3 (AT90S8515 + 24C128)", "AT 90S8515", "EEPROM 24C128", FusePage::CfgAvr, 4096, 512, 16384, true},
        {25, "AVR-Fun 4 (AT90S8515 + 24C256)", "AT 90S8515", "EEPROM 24C256", FusePage::CfgAvr, 4096, 512, 32768, true},
        {26, "AVR-Fun 5 (AT90S8515 + 24C512)", "AT 90S8515", "EEPROM 24C512", FusePage::CfgAvr, 4096, 512, 65536, true},
        {31, "AVR-Mega163 (ATMega163 + 24C256)", "ATMega163", "EEPROM 24C256", FusePage::cfgMega163, 8192, 512, 32768, true},
    };
    // clang-format on
    Window w;
    for (const auto& c : cards) {
        SCOPED_TRACE(c.code);
        const bool pic = c.code < 20;
        w.calls.clear();
        w.select(c.code);
        EXPECT_EQ(w.checkedDevice(), QStringLiteral("DEV%1").arg(c.code));
        EXPECT_EQ(w.main.DevPane->text(), c.name);
        EXPECT_EQ(w.main.PageCtl->tabText(0), c.controller);
        EXPECT_EQ(w.main.PageCtl->tabText(1), c.external);
        EXPECT_EQ(w.fuses.shown, c.page);
        EXPECT_EQ(w.devices.ProgBuf.length(), c.flashWords);
        EXPECT_EQ(w.devices.DataBuf.length(), c.dataBytes);
        EXPECT_EQ(w.main.eGrid->model()->rowCount(), c.eepromBytes / 16);
        EXPECT_EQ(w.main.ActOpen2->text(),
                  pic ? "Open external EEPROM <2>..." : "Open AVR internal EEPROM <2>...");
        // The previous card type's section is saved before the new one is read.
        ASSERT_GE(w.calls.size(), 2);
        EXPECT_TRUE(w.calls.at(w.calls.size() - 2).startsWith("IniDevice write"));
        EXPECT_EQ(w.calls.last(), QStringLiteral("IniDevice read %1").arg(c.code));
        // "EEPROM Memory" ticked with the program box unticked: a loader ticks and greys it.
        if (w.enable.eep) w.main.cbEepMem->click();
        if (w.enable.prog) w.main.cbProgMem->click();
        w.main.cbEepMem->click();
        EXPECT_EQ(w.enable.prog || !w.main.cbProgMem->isEnabled(), c.loader);
    }
    // Code 30 only comes from the settings: no tick, DevPane keeps its text.
    w.card(30);
    EXPECT_EQ(w.checkedDevice(), "");
    EXPECT_EQ(w.main.DevPane->text(), "AVR-Mega163 (ATMega163 + 24C256)");
    EXPECT_EQ(w.fuses.shown, FusePage::cfgMega161);
    // A code that is no card type falls back to code 10.
    for (int code : {27, 16, 0, -5}) {
        w.card(code);
        EXPECT_EQ(w.main.DeviceId(), 10) << code;
        EXPECT_EQ(w.checkedDevice(), "DEV10") << code;
    }
    // Picking the ticked card type again blanks what was loaded and resets the PIC word.
    w.devices.ProgBuf[0] = 0x1234;
    w.devices.CfgWord = 0x0011;
    w.main.setFileLabel(2, "data.hex");
    w.select(10);
    EXPECT_EQ(w.devices.ProgBuf[0], 0x3FFF);
    EXPECT_EQ(w.devices.CfgWord, 0x3FFF);
    EXPECT_EQ(w.fuses.pic84.osc, 3);
    EXPECT_TRUE(w.main.LabFnDataMem->text().isEmpty());
    rightClick(w.main.dGrid, w.main);  // the fill popup fills the grid it was opened on
    EXPECT_EQ(w.main.FillFF->text(), "Fill buffer with $FF");
    w.devices.DataBuf[3] = 0x41;
    w.main.setFileLabel(2, "eeprom.hex");
    w.main.Fill00->trigger();
    EXPECT_EQ(w.devices.DataBuf.values(), std::vector<uint16_t>(64, 0));
    EXPECT_EQ(w.main.dGrid->model()->index(3, 1).data().toString(), QString("00 ").repeated(16));
    EXPECT_TRUE(w.main.LabFnDataMem->text().isEmpty());
    w.main.GridContextPopup(1);  // flash: the blank word of the family, four digits
    EXPECT_EQ(w.main.FillFF->text(), "Fill buffer with $3FFF");
    // Greyed and ticked, the boxes say why; unticking "EEPROM Memory" frees them.
    w.select(20);
    rightClick(w.main.eGrid, w.main);
    w.main.Fill00->trigger();
    EXPECT_EQ(w.devices.EepBuf.values(), std::vector<uint16_t>(8192, 0));
    EXPECT_EQ(w.devices.DataBuf[0], 0xFF);  // only the chosen buffer
    EXPECT_EQ(w.devices.ProgBuf[0], 0xFFFF);
    EXPECT_TRUE(w.main.cbProgMem->toolTip().startsWith(
        "Always included while \"EEPROM Memory\" is ticked: on this card the box reaches the "
        "EEPROM through a loader"));
    w.main.cbEepMem->click();
    EXPECT_TRUE(!w.enable.eep && w.main.cbProgMem->isEnabled());
    EXPECT_EQ(w.main.cbProgMem->toolTip(), "");
    w.main.cbDataMem->click();
    w.main.cbEepMem->click();
    for (QCheckBox* cb : {w.main.cbProgMem, w.main.cbDataMem, w.main.cbConfig})
        EXPECT_TRUE(cb->isChecked() && !cb->isEnabled()) << cb->objectName().toStdString();
}

// File labels give up folders before the name; then the actions, Connect button, F11 and close.
TEST(MainWindowTest, FileLabelsActionsConnectButtonF11AndClose) {
    Window w;
    const QFontMetrics fm(w.main.LabFnProgMem->font());
    const QString path = "/home/ann/projects/smartcards/release-2026/card_main_program.hex";
    const QString name = "card_main_program.hex", dots = QChar(0x2026);
    const int nameWidth = fm.horizontalAdvance(name);
    // Room for all; for both ends of the folders; for the name alone; not even for that.
    const struct {
        int width;
        const char *starts, *ends;
    } widths[] = {{fm.horizontalAdvance(path), "/home/ann/projects/", "2026/"},
                  {nameWidth + fm.horizontalAdvance("/home/ann/...."), "/hom", "026/"},
                  {nameWidth + fm.horizontalAdvance(dots), "\u2026", ""},
                  {nameWidth / 2, "card", "hex"}};
    for (const auto& c : widths) {
        const QString shown = elideFileName(path, fm, c.width);
        const bool whole = c.width == fm.horizontalAdvance(path);
        EXPECT_TRUE(shown.startsWith(QString::fromUtf8(c.starts)) &&
                    shown.endsWith(QLatin1String(c.ends) + (c.width > nameWidth ? name : "")) &&
                    shown.contains(dots) != whole && fm.horizontalAdvance(shown) <= c.width)
            << shown.toStdString();
    }
    // The label keeps the whole path as its text and its tooltip.
    w.main.setFileLabel(1, path);
    EXPECT_EQ(w.main.LabFnProgMem->text() + w.main.LabFnProgMem->toolTip(), path + path);
    EXPECT_FALSE(w.main.ActProg->isEnabled());
    w.main.showConnected(true);
    EXPECT_TRUE(w.main.Led1->isLit() && w.main.ButConnect->isChecked() &&
                !w.options.portListEnabled);
    for (QAction* a :
         {w.main.ActRead, w.main.ActErase, w.main.ActBlankChk, w.main.ActVerify, w.main.ActProg})
        a->trigger();
    EXPECT_EQ(w.takeCalls(),
              QStringList({"Action 1", "Action 2", "Action 3", "Action 4", "Action 5"}));
    w.main.showConnected(false);
    EXPECT_FALSE(w.main.Led1->isLit() || w.main.ButConnect->isChecked() ||
                 w.main.ActRead->isEnabled());
    EXPECT_TRUE(w.options.portListEnabled);

    w.main.ButConnect->click();  // down
    w.main.ButConnect->click();  // up, but nothing is connected: nothing happens
    w.usbIsConnected = true;
    w.main.ButConnect->setChecked(true);
    w.main.ButConnect->click();
    EXPECT_EQ(w.takeCalls(), QStringList({"Connect", "Disconnect"}));
    // F11 looks at the serial port only.
    QKeyEvent f11(QEvent::KeyPress, Qt::Key_F11, Qt::NoModifier);
    QCoreApplication::sendEvent(&w.main, &f11);
    w.portIsOpen = true;
    QCoreApplication::sendEvent(&w.main, &f11);
    EXPECT_EQ(w.takeCalls(), QStringList({"Connect", "Disconnect"}));
    // The port pane follows the configuration dialog's choice.
    w.options.ports = {"COM1", "SIM"};
    w.options.portIndex = 1;
    w.main.ActConfig->trigger();
    EXPECT_EQ(w.takeCalls(), QStringList({"Config"}));
    EXPECT_EQ(w.main.ComPane->text(), "SIM");
    // Close: both sections saved first, then the serial link closed; USB alone stays.
    w.main.close();
    EXPECT_EQ(w.takeCalls(), QStringList({"IniConfig write", "IniDevice write 10", "Disconnect"}));
    Window usb;
    usb.usbIsConnected = true;
    usb.main.close();
    EXPECT_EQ(usb.calls, QStringList({"IniConfig write", "IniDevice write 10"}));
}

// An edit in the flash of a PIC card (slot 1).
void editFlash(Window& w) {
    w.main.Editing->setEditMode(true);
    w.main.pGrid->selectElement(0);
    QTest::keyClicks(w.main.pGrid, "1");
    ASSERT_EQ(w.devices.ProgBuf[0], 0x1FFF);
}

TEST(MainWindowTest, EditsNotSavedAreAskedForBeforeACommandDropsThem) {
    const struct {
        void (*run)(Window&);
        const char *goneOn, *doing;  // a call made once it goes on; the question's words
    } commands[] = {
        {[](Window& w) { w.select(20); }, "IniDevice read 20", "changing the card type"},
        {[](Window& w) { w.main.ActOpen1->trigger(); }, "Open 1:/in/new.hex",
         "opening /in/new.hex"},
        {[](Window& w) {  // a recent file
             w.files.RecentFiles[1][1] = "/in/new.hex";
             w.main.BtnOpenDropDown(1);
             w.main.PopFiles[1]->actions().at(0)->trigger();
         },
         "Open 1:/in/new.hex", "opening /in/new.hex"},
        {[](Window& w) { w.main.close(); }, "IniConfig write", "closing"},
    };
    const struct {
        UnsavedChoice answer;
        bool saveChosen;  // the save dialog answers (else it is cancelled)
        bool goesOn;
    } answers[] = {{UnsavedChoice::Cancel, true, false},
                   {UnsavedChoice::Discard, true, true},
                   {UnsavedChoice::Save, false, false},
                   {UnsavedChoice::Save, true, true}};
    const QString question = QStringLiteral(
        "The edits in PIC Flash + internal EEPROM <1> are not saved.\n\nSave them before %1?");
    for (const auto& c : commands) {
        for (const auto& a : answers) {
            SCOPED_TRACE(testing::Message() << "command " << &c - commands << ", answer "
                                            << int(a.answer) << (a.saveChosen ? " saved" : ""));
            Window w(10);
            w.main.setFileDialogHook(
                [&](const FileDialogRequest& r) -> std::optional<FileDialogChoice> {
                    if (r.save && !a.saveChosen) return std::nullopt;
                    return FileDialogChoice{r.save ? "/out/kept.hex" : "/in/new.hex", 1};
                });
            editFlash(w);
            w.unsavedAnswer = a.answer;
            c.run(w);
            EXPECT_EQ(w.questions, QStringList(question.arg(c.doing)));
            EXPECT_EQ(w.calls.contains(c.goneOn), a.goesOn);
            EXPECT_EQ(w.calls.contains("Save 1:/out/kept.hex:1"),
                      a.answer == UnsavedChoice::Save && a.saveChosen);
            EXPECT_EQ(w.checkedDevice(), &c == commands && a.goesOn ? "DEV20" : "DEV10");
        }
    }
    // Nothing edited, or the edit undone: no question.
    Window w(10);
    w.select(21);
    w.select(10);
    editFlash(w);
    w.main.Editing->undo();
    w.main.close();
    EXPECT_EQ(w.questions, QStringList());
}

// The open filters follow card type and slot. The dialogs start where the slot's last file was,
// with its filter; a save proposes the last name; the recent list takes the files that loaded.
TEST(OpenSaveTest, DialogsRememberNameFilterAndFolderTheRecentListReordersAndFastOpenOrder) {
    Window w(20);
    EXPECT_EQ(w.main.openFilters(2).at(2), "AVR-Eeprom-Files (*.eep) (*.eep)");
    EXPECT_EQ(w.main.openFilters(1).at(2), "AVR-Object-Files (*.obj) (*.obj)");
    EXPECT_EQ(w.main.openFilters(3).at(2), "CRD-Files (*.crd) (*.crd)");
    w.choose("/out/first.hex");
    w.main.ActSave2->trigger();
    w.choose("/out/second", 2);  // binary chosen by the filter
    w.main.ActSave2->trigger();
    EXPECT_EQ(w.asked.last().fileName, "/out/first.hex");
    EXPECT_EQ(w.asked.last().directory, "/out");
    EXPECT_EQ(w.takeCalls(), QStringList({"Save 2:/out/first.hex:1", "Save 2:/out/second:2"}));
    // The filter and folder last used stay for the next save of any slot, not for opens.
    w.answer.reset();
    w.main.ActSave1->trigger();
    EXPECT_TRUE(w.asked.last().filterIndex == 2 && w.asked.last().directory == "/out");
    EXPECT_TRUE(w.calls.isEmpty() && w.files.SlotFile[2].isEmpty() &&
                w.recent(2).join("").isEmpty());

    w.main.ActOpen1->trigger();  // cancelled: nothing changes, nothing is read
    EXPECT_EQ(w.asked.last().directory, QDir::currentPath());  // no directory of its own yet
    EXPECT_TRUE(w.calls.isEmpty() && w.files.SlotFile[1].isEmpty());
    w.choose("/data/fw/main.obj", 3);
    w.main.ActOpen1->trigger();
    EXPECT_EQ(w.takeCalls(), QStringList({"Open 1:/data/fw/main.obj"}));
    w.main.ActOpen1->trigger();  // the next open starts there, with that filter
    EXPECT_EQ(w.asked.last().directory, "/data/fw");
    EXPECT_EQ(w.asked.last().filterIndex, 3);
    EXPECT_EQ(w.recent(1), QStringList({"/data/fw/main.obj", "", "", "", ""}));  // no duplicate
    // A file that fails to load updates the names but not the list.
    w.openSucceeds = false;
    w.choose("/e/bad.hex", 2);
    w.main.ActOpen1->trigger();
    EXPECT_EQ(w.takeCalls(), QStringList({"Open 1:/data/fw/main.obj", "Open 1:/e/bad.hex"}));
    EXPECT_EQ(w.files.SlotFile[1], "/e/bad.hex");
    EXPECT_EQ(w.recent(1).first(), "/data/fw/main.obj");

    // The entry chosen from a drop-down becomes entry 1 and is opened, its name as it was ('&'
    // and all); a failing open keeps the new order.
    w.files.RecentFiles[3] = {QString(), "/r/1.hex", "/r/2.hex", "/r/3 a&b.hex", "", ""};
    w.main.BtnOpenDropDown(3);
    QStringList shown;
    for (QAction* a : w.main.PopFiles[3]->actions()) shown << a->text();
    EXPECT_EQ(shown, QStringList({"&1 /r/1.hex", "&2 /r/2.hex", "&3 /r/3 a&&b.hex"}));
    w.main.PopFiles[3]->actions().at(2)->trigger();
    EXPECT_EQ(w.takeCalls(), QStringList({"Open 3:/r/3 a&b.hex"}));
    EXPECT_EQ(w.recent(3), QStringList({"/r/3 a&b.hex", "/r/1.hex", "/r/2.hex", "", ""}));
    // Fast Open: slots 3, 2, 1 in that order.
    QTemporaryDir dir;
    const QString flash = dir.filePath("flash.hex"), data = dir.filePath("data.eep"),
                  ext = dir.filePath("ext.bin");
    for (const QString& f : {flash, data, ext}) writeAll(f, "");
    w.openSucceeds = true;
    w.files.SlotFile = {QString(), flash, data, ext};
    w.main.FastOpen->trigger();
    EXPECT_EQ(w.takeCalls(), QStringList({"Open 3:" + ext, "Open 2:" + data, "Open 1:" + flash}));
    EXPECT_EQ(w.recent(1), QStringList({"/data/fw/main.obj", "", "", "", ""}));  // untouched
    // Missing files are skipped; a missing slot 1 file stops everything.
    w.files.SlotFile[2] = dir.filePath("gone.eep");
    w.main.FastOpenExecute();
    EXPECT_EQ(w.takeCalls(), QStringList({"Open 3:" + ext, "Open 1:" + flash}));
    w.files.SlotFile = {QString(), dir.filePath("gone.hex"), data, ext};
    w.main.FastOpenExecute();
    EXPECT_TRUE(w.calls.isEmpty());
    // A PIC card has no slot 3; its external EEPROM opens the formats of a program file.
    w.card(10);
    EXPECT_EQ(w.main.openFilters(2),
              QStringList({"HEX-Files (*.hex,*.hx8) (*.hex *.hx8)", "BIN-Files (*.bin) (*.bin)",
                           "All Files (*.*) (*)",
                           "S-Record-Files (*.s19,*.s28,*.s37,*.srec,*.mot) (*.s19 *.s28 *.s37 "
                           "*.srec *.mot)",
                           "TI-TXT-Files (*.txt) (*.txt)"}));
    w.calls.clear();
    w.files.SlotFile[1] = flash;
    w.main.FastOpenExecute();
    EXPECT_EQ(w.calls, QStringList({"Open 2:" + data, "Open 1:" + flash}));
}

// The first start: the window at its designed size, the smallest, growing the grids. A port on
// the command line is for that run only. The window comes back where it was, centred at the
// designed size where no screen shows it or it was smaller.
TEST(ProgramTest, TheWindowGrowsFromItsDesignedSizeAndComesBackWhereItWas) {
    ProgramRig rig;
    const QRect placed(40, 30, 700, 500);
    {
        auto p = rig.start();
        TMain& m = p->Main;
        EXPECT_FALSE(p->Com.portOpen() || m.Led1->isLit());
        const QSize designed = m.designedSize();
        EXPECT_TRUE(designed.width() >= 633 && designed.height() >= 438);
        EXPECT_EQ(m.size(), designed);  // the first size, and the smallest (below)
        m.MnuDevices->findChild<QAction*>("DEV20")->trigger();  // 512 bytes of data EEPROM
        const QWidget* right = m.findChild<QWidget*>("RightColumn");
        ASSERT_TRUE(right && m.CfgCtrl);
        struct Sizes {
            QSize flash, data, column, fuses, toolbar;
            qreal points;
        };
        auto sizes = [&] {
            QCoreApplication::processEvents();
            return Sizes{m.pGrid->size(),   m.dGrid->size(),    right->size(),
                         m.CfgCtrl->size(), m.ToolBar1->size(), m.pGrid->font().pointSizeF()};
        };
        const Sizes small = sizes();
        m.resize(1000, 700);
        const Sizes middle = sizes();
        m.resize(1280, 900);
        const Sizes big = sizes();
        EXPECT_GT(big.flash.height(), small.flash.height() + 200);
        EXPECT_GT(big.flash.width(), small.flash.width() + 400);
        EXPECT_GT(big.data.height(), small.data.height());
        EXPECT_LE(big.data.height(), m.dGrid->heightForRows(33));  // all 32 rows, no more
        EXPECT_GT(big.points, small.points);                       // the rows fill the wider page
        // The right column keeps its width; once it has the height it asks for, no more.
        EXPECT_EQ(big.column.width(), small.column.width());
        EXPECT_EQ(big.fuses, middle.fuses);
        EXPECT_EQ(big.fuses.width(), small.fuses.width());
        EXPECT_EQ(big.toolbar.height(), small.toolbar.height());
        m.resize(300, 200);
        EXPECT_EQ(sizes().flash, small.flash);
        EXPECT_EQ(m.size(), designed);
        // A report makes the window taller (up from the screen's bottom) instead of taking rows
        // from the grids, and less on a small screen; closed, it gives height and place back.
        const QRect screen = m.screen()->availableGeometry();
        m.move(m.x(), screen.bottom() + 1 - m.frameGeometry().height());
        const QPoint bottom = m.pos();
        m.Editing->showReport(CompareReport{"card", {}});
        EXPECT_EQ(sizes().flash.height(), small.flash.height());
        EXPECT_EQ(m.dGrid->height(), small.data.height());
        EXPECT_GT(m.height(), designed.height() + 60);
        EXPECT_TRUE(screen.contains(m.frameGeometry())) << m.frameGeometry().y();
        m.Editing->comparePanel()->hide();
        EXPECT_EQ(m.size(), designed);
        EXPECT_EQ(m.pos(), bottom);
        const int least = m.Editing->comparePanel()->minimumSizeHint().height();
        m.setGeometry(screen.left(), screen.top(), designed.width(), screen.height() - least - 20);
        const int tall = sizes().flash.height();
        m.Editing->comparePanel()->show();
        EXPECT_EQ(sizes().flash.height(), tall);
        m.Editing->comparePanel()->hide();
        m.cbEepMem->click();  // unticked for card type 20
        m.setGeometry(placed);
        m.close();
    }
    const QByteArray text = readAll(rig.path("kelvano.ini"));
    for (const char* line : {"[Config]", "Device=20", "[DEV_10]", "[DEV_20]", "EepMem=0",
                             "[Window]\r\nLeft=40\r\nTop=30\r\nWidth=700\r\nHeight=500\r\n"
                             "Maximized=0\r\n"})
        EXPECT_TRUE(text.contains(line)) << line;
    {
        auto p = rig.start("SIM");
        EXPECT_EQ(p->Main.geometry(), placed);
        EXPECT_TRUE(p->Com.portOpen() && p->Main.Led1->isLit() && p->Main.ActRead->isEnabled())
            << rig.errors();
        EXPECT_EQ(p->Main.QxPane->text(),
                  "STRAVINEX QXBASE * KELVANO BOX SIMULATOR *  Serial: SIM-000001");
        EXPECT_EQ(p->Main.ComPane->text(), "SIM");
        EXPECT_EQ(p->Devices.DeviceId, 20);
        EXPECT_FALSE(p->Main.cbEepMem->isChecked());
        p->Main.MnuDevices->findChild<QAction*>("DEV10")->trigger();
        p->FileIo.SaveFile(rig.path("fw.hex"), 1, 1);
        p->Main.close();
    }
    // ... a wish for that run, not a setting; the window stays where it was.
    const QByteArray again = readAll(rig.path("kelvano.ini"));
    EXPECT_TRUE(again.contains("AutoConn=0\r\n") && again.contains("Left=40\r\nTop=30\r\n"));
    EXPECT_EQ(rig.errors(), "");
    auto centred = [](const TMain& m) {
        const QPoint off = m.geometry().center() - m.screen()->availableGeometry().center();
        return m.size() == m.designedSize() && off.manhattanLength() <= 2;
    };

    writeAll(rig.path("kelvano.ini"),
             "[Config]\r\nPort=SIM\r\nAutoConn=1\r\nAutoLoad=1\r\nDevice=10\r\nOpen1File=" +
                 rig.path("fw.hex").toLatin1() +
                 "\r\n[Window]\r\nLeft=5000\r\nTop=30\r\nWidth=700\r\nHeight=500\r\n");
    auto p = rig.start();
    EXPECT_TRUE(centred(p->Main)) << "placed where no screen shows it";
    EXPECT_TRUE(p->Com.portOpen()) << rig.errors();
    EXPECT_EQ(p->Main.LabFnProgMem->text(), rig.path("fw.hex"));
    EXPECT_TRUE(p->slotFiles.RecentFiles[1][1].isEmpty());  // fast open leaves the lists alone
    p->Main.close();
    EXPECT_FALSE(p->Com.portOpen());

    // With "Connect at start-up" ticked as well, a port on the command line is tried once; it
    // is not saved, and the next run does not list it.
    writeAll(
        rig.path("kelvano.ini"),
        "[Config]\r\nAutoConn=1\r\n[Window]\r\nLeft=40\r\nTop=30\r\nWidth=90\r\nHeight=80\r\n");
    auto q = rig.start("/dev/pts/77");
    EXPECT_TRUE(centred(q->Main)) << "smaller than designed";
    q->Main.close();
    ASSERT_EQ(rig.host.errors.size(), 1) << rig.errors();
    EXPECT_TRUE(rig.host.errors.takeFirst().startsWith(
        "Can't connect to Programmer\rErrorcode: Unable to open com port (win error code: 2)"));
    EXPECT_FALSE(readAll(rig.path("kelvano.ini")).contains("/dev/pts/77"));
    EXPECT_FALSE(rig.start()->options.ports.contains("/dev/pts/77"));
}

}  // namespace
}  // namespace kelvano
