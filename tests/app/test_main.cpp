#include <gtest/gtest.h>

#include <QAction>
#include <QCheckBox>
#include <QContextMenuEvent>
#include <QFile>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QPushButton>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>

#include "app/DumpGridView.h"
#include "app/Program.h"
#include "app/uMain.h"
#include "test_main_support.h"

namespace kelvano {
namespace {

using testing_support::ensureApp;
using testing_support::RecordingHost;
using testing_support::waitFor;

// The window on its own, with every call into the other modules recorded.
struct Window {
    RecordingHost host;
    Options options;
    EnableBoxes enable;
    FuseModel fuses;
    SlotFiles files;
    TMain main{host, options, enable, fuses, files};
    TDevices devices;
    QStringList calls;
    bool portIsOpen = false;
    bool usbIsConnected = false;

    explicit Window(bool applied = true) {
        TMain::Links l;
        l.iniConfig = [this](bool w) { calls << (w ? "IniConfig write" : "IniConfig read"); };
        l.iniDevice = [this](bool w) {
            calls << QStringLiteral("IniDevice %1 %2").arg(w ? "write" : "read").arg(devices.DeviceId);
            cbEepMemClick(devices.DeviceId, enable);  // as the section load ends
        };
        l.connect = [this] { calls << "Connect"; };
        l.disconnect = [this] { calls << "Disconnect"; };
        l.portOpen = [this] { return portIsOpen; };
        l.usbConnected = [this] { return usbIsConnected; };
        l.runAction = [this](int code) { calls << QStringLiteral("Action %1").arg(code); };
        l.showConfig = [this] { calls << "Config"; };
        main.wire(devices, l);
        if (applied) main.ApplyDevice();  // what the start-up timer does first
        calls.clear();
    }
    void select(int code) {
        QAction* item = main.MnuDevices->findChild<QAction*>(QStringLiteral("DEV%1").arg(code));
        ASSERT_NE(item, nullptr) << code;
        item->trigger();
    }
    // Whether the toolbar shows a button: its place in the toolbar is visible.
    bool toolButtonShown(QWidget* button) const {
        for (QAction* a : main.ToolBar1->actions())
            if (main.ToolBar1->widgetForAction(a) == button) return a->isVisible();
        return false;
    }
    QStringList deviceMenuNames() const {
        QStringList names;
        for (QAction* a : main.MnuDevices->actions()) names << a->objectName();
        return names;
    }
    QAction* checkedDevice() const {
        for (QAction* a : main.MnuDevices->actions())
            if (a->isChecked()) return a;
        return nullptr;
    }
};

class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override { ensureApp(); }
};

TEST_F(MainWindowTest, ActionTableAndMenus) {
    Window w(false);
    struct Row {
        QAction* action;
        const char* name;
        int tag;
        const char* caption;
        const char* hint;
        QKeySequence key;
        bool enabled;
    };
    const TMain& m = w.main;
    const Row rows[] = {
        {m.ActExit, "ActExit", 0, "E&xit", "Exit", QKeySequence("Alt+X"), true},
        {m.ActOpen1, "ActOpen1", 1, "Open file for (1)...", "Open file for (1)", QKeySequence("F5"), true},
        {m.ActOpen2, "ActOpen2", 2, "Open file for (2)...", "Open file for (2)", QKeySequence("F6"), true},
        {m.ActOpen3, "ActOpen3", 3, "Open file for (3)...", "Open file for (3)", QKeySequence("F7"), true},
        {m.FastOpen, "FastOpen", 0, "Fast Open", "", QKeySequence("F8"), true},
        {m.ActSave1, "ActSave1", 1, "Save file from (1)...", "Save file from (1)", QKeySequence("Shift+F5"), true},
        {m.ActSave2, "ActSave2", 2, "Save file from (2)...", "Save file from (2)", QKeySequence("Shift+F6"), true},
        {m.ActSave3, "ActSave3", 3, "Save file from (3)...", "Save file from (3)", QKeySequence("Shift+F7"), true},
        {m.ActConfig, "ActConfig", 0, "Configuration...", "Configuration", QKeySequence("F12"), true},
        {m.ActRead, "ActRead", 1, "Read", "Read Device", QKeySequence("F2"), false},
        {m.ActErase, "ActErase", 2, "Erase", "Erase Device", QKeySequence(), false},
        {m.ActBlankChk, "ActBlankChk", 3, "Blank Check", "Blank Check", QKeySequence(), false},
        {m.ActVerify, "ActVerify", 4, "Verify", "Verify", QKeySequence(), false},
        {m.ActProg, "ActProg", 5, "Program", "Program Device", QKeySequence("F3"), false},
        {m.Act2Prg, "Act2Prg", 0, "FLASH-Memory setup...", "Enter FLASH-Memory setup menu",
         QKeySequence("Shift+F12"), true},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        EXPECT_EQ(r.action->objectName(), r.name);
        EXPECT_EQ(r.action->property("tag").toInt(), r.tag);
        EXPECT_EQ(r.action->text(), r.caption);
        EXPECT_EQ(r.action->toolTip().isEmpty() ? QString() : r.action->statusTip(), QString(r.hint));
        EXPECT_EQ(r.action->shortcut(), r.key);
        // A hidden action counts as disabled; Act2Prg is hidden from the start.
        if (r.action->isVisible()) {
            EXPECT_EQ(r.action->isEnabled(), r.enabled);
        }
    }
    EXPECT_FALSE(m.Mnu2Prg->isVisible());
    EXPECT_EQ(m.ButConnect->toolTip(), "Connect to Stravinex (F11)");
    EXPECT_TRUE(m.ButConnect->isCheckable());
    EXPECT_EQ(m.BtnUtilities->toolTip(), "Configuration");

    QStringList menus;
    for (QAction* a : m.menuBar()->actions()) menus << a->text();
    EXPECT_EQ(menus, QStringList({"&File", "&Devices", "&Action", "&Help"}));
    QStringList file;
    for (QAction* a : m.MnuFile->actions()) file << (a->isSeparator() ? "-" : a->objectName());
    EXPECT_EQ(file, QStringList({"ActOpen1", "ActOpen2", "ActOpen3", "FastOpen", "-", "ActSave1",
                                 "ActSave2", "ActSave3", "-", "ActConfig", "Act2Prg", "-", "ActExit"}));
    QStringList action;
    for (QAction* a : m.MnuAction->actions()) action << a->text();
    EXPECT_EQ(action, QStringList({"Read", "Program", "Erase", "Blank Check", "Verify"}));
    EXPECT_EQ(m.Info1->text(), "&Info...");

    // The five actions run the action dialog with their code, once connected.
    w.main.showConnected(true);
    EXPECT_TRUE(w.main.Led1->isLit());
    EXPECT_TRUE(w.main.ButConnect->isChecked());
    EXPECT_FALSE(w.options.portListEnabled);
    for (QAction* a : {m.ActRead, m.ActErase, m.ActBlankChk, m.ActVerify, m.ActProg}) a->trigger();
    EXPECT_EQ(w.calls, QStringList({"Action 1", "Action 2", "Action 3", "Action 4", "Action 5"}));
    w.main.toggleLamp();  // the keep-alive blinks it
    EXPECT_FALSE(w.main.Led1->isLit());
    w.main.Act2Prg->setVisible(true);
    w.main.showConnected(false);
    EXPECT_FALSE(w.main.Led1->isLit());
    EXPECT_FALSE(w.main.ButConnect->isChecked());
    EXPECT_TRUE(w.options.portListEnabled);
    EXPECT_FALSE(m.ActRead->isEnabled());
    EXPECT_FALSE(m.Mnu2Prg->isVisible());
}

TEST_F(MainWindowTest, ApplyDeviceForEveryCardType) {
    Window w;
    // The Devices menu: the catalogue in menu order with separators between the groups.
    EXPECT_EQ(w.deviceMenuNames(),
              QStringList({"DEV15", "DEV10", "DEV13", "DEV14", "DEV0", "DEV11", "DEV12", "DEV0",
                           "DEV22", "DEV23", "DEV0", "DEV21", "DEV0", "DEV20", "DEV24", "DEV25",
                           "DEV26", "DEV0", "DEV31"}));
    const int defaultHeight = w.main.dGrid->heightForRows(7);

    for (const TDeviceEntry& row : catalogue()) {
        if (row.menuPosition == 0) continue;
        SCOPED_TRACE(row.code);
        w.main.setFileLabel(1, "old.hex");
        w.main.setFileLabel(3, "old.bin");
        w.select(row.code);
        const bool pic = isPicCode(row.code);
        ASSERT_NE(w.checkedDevice(), nullptr);
        EXPECT_EQ(w.checkedDevice()->objectName(), QStringLiteral("DEV%1").arg(row.code));
        EXPECT_EQ(w.main.DevPane->text(), row.displayName);
        EXPECT_EQ(w.main.PageCtl->tabText(0), row.controllerCaption);
        EXPECT_EQ(w.main.PageCtl->tabText(1), row.eepromCaption);
        EXPECT_EQ(w.main.PageCtl->currentWidget(), w.main.Pg1);
        EXPECT_EQ(w.main.LabProgMem->text(), "1");
        EXPECT_EQ(w.main.LabDataMem->text(), pic ? "1" : "2");
        EXPECT_EQ(w.main.LabEepMem->text(), pic ? "2" : "3");
        EXPECT_TRUE(w.main.LabFnProgMem->text().isEmpty());
        EXPECT_TRUE(w.main.LabFnEepMem->text().isEmpty());
        EXPECT_EQ(w.main.ActOpen3->isVisible(), !pic);
        EXPECT_EQ(w.main.ActSave3->isVisible(), !pic);
        EXPECT_EQ(w.toolButtonShown(w.main.BtnOpen[3]), !pic);
        EXPECT_EQ(w.toolButtonShown(w.main.BtnSave[3]), !pic);
        EXPECT_TRUE(w.toolButtonShown(w.main.BtnOpen[2]));
        EXPECT_TRUE(w.main.ActOpen2->isVisible());
        EXPECT_EQ(w.main.ActOpen1->text(), openHint(row.code, 1) + "...");
        EXPECT_EQ(w.main.ActOpen1->toolTip(), openHint(row.code, 1));
        EXPECT_EQ(w.main.ActSave2->text(), saveHint(row.code, 2) + "...");
        EXPECT_EQ(w.fuses.shown, row.fusePage);
        // Blank buffers of the catalogue's sizes, and grids that show them.
        EXPECT_EQ(w.devices.ProgBuf.length(), row.flashWords);
        EXPECT_EQ(w.devices.DataBuf.length(), row.internalEepromBytes);
        EXPECT_EQ(w.devices.EepBuf.length(), row.externalEepromBytes);
        EXPECT_EQ(w.main.eGrid->model()->rowCount(), row.externalEepromBytes / 16);
        EXPECT_EQ(w.main.pGrid->model()->index(0, 1).data().toString().left(4),
                  pic ? "3FFF" : "FFFF");
        // The internal EEPROM grid exactly fits the 64 bytes of a 16F84; others scroll.
        EXPECT_EQ(w.main.dGrid->maximumHeight(),
                  isPic84(row.code) ? w.main.dGrid->heightForRows(5) : defaultHeight);
        EXPECT_TRUE(w.main.cbProgMem->isVisible() || !w.main.isVisible());
        // The previous card type's section is saved before the new one is read.
        ASSERT_GE(w.calls.size(), 2);
        EXPECT_TRUE(w.calls.at(w.calls.size() - 2).startsWith("IniDevice write"));
        EXPECT_EQ(w.calls.last(), QStringLiteral("IniDevice read %1").arg(row.code));
    }

    // The AVR fuse box follows the card type.
    w.select(22);
    EXPECT_TRUE(w.fuses.avr.fuseVisible);
    EXPECT_EQ(w.fuses.avr.fuseCaption, "FSTRT");
    w.select(23);
    EXPECT_EQ(w.fuses.avr.fuseCaption, "RCEN");
    w.select(20);
    EXPECT_FALSE(w.fuses.avr.fuseVisible);

    // Code 30 only comes from the settings: no tick, DevPane keeps its text.
    w.select(31);
    w.main.setDeviceId(30);
    w.main.ApplyDevice();
    EXPECT_EQ(w.checkedDevice(), nullptr);
    EXPECT_EQ(w.main.DevPane->text(), "AVR-Mega163 (ATMega163 + 24C256)");
    EXPECT_EQ(w.fuses.shown, FusePage::cfgMega161);
    EXPECT_EQ(w.devices.ProgBuf.length(), 8192);
    EXPECT_EQ(w.devices.DataBuf.length(), 512);
    EXPECT_EQ(w.devices.EepBuf.length(), 8192);
    EXPECT_EQ(w.main.PageCtl->tabText(0), "ATMega161");

    // A code that is no card type falls back to code 10, menu and captions included.
    for (int code : {27, 16, 0, -5}) {
        w.main.setDeviceId(code);
        w.main.ApplyDevice();
        EXPECT_EQ(w.main.DeviceId(), 10);
        ASSERT_NE(w.checkedDevice(), nullptr);
        EXPECT_EQ(w.checkedDevice()->objectName(), "DEV10");
        EXPECT_FALSE(w.main.ActOpen3->isVisible());
        EXPECT_EQ(w.fuses.shown, FusePage::CfgPic);
    }

    // Clicking the ticked card type again blanks what was loaded.
    w.devices.ProgBuf[0] = 0x1234;
    w.devices.EepBuf[5] = 0x12;
    w.main.setFileLabel(2, "data.hex");
    w.select(10);
    EXPECT_EQ(w.devices.ProgBuf[0], 0x3FFF);
    EXPECT_EQ(w.devices.EepBuf[5], 0xFF);
    EXPECT_TRUE(w.main.LabFnDataMem->text().isEmpty());
}

TEST_F(MainWindowTest, PicConfigurationIsResetAndShownOnApply) {
    Window w;
    w.devices.CfgWord = 0x0011;
    w.devices.IdBuf[0] = 3;
    w.select(12);
    EXPECT_EQ(w.devices.CfgWord, 0x3FFF);
    EXPECT_EQ(w.fuses.pic876.id[0], "F");
    EXPECT_EQ(w.fuses.pic876.fosc, 3);
    // AVR fuse values stay as they were.
    w.devices.FuseLow = 0x12;
    w.select(31);
    EXPECT_EQ(w.devices.FuseLow, 0x12);
}

TEST_F(MainWindowTest, FillPopupCaptionsAndEffect) {
    Window w;
    w.select(10);
    // Right button on the internal EEPROM grid of a PIC16F84 card.
    QContextMenuEvent right(QContextMenuEvent::Mouse, QPoint(5, 5), QPoint(5, 5));
    QCoreApplication::sendEvent(w.main.dGrid->viewport(), &right);
    w.main.PopFill->hide();
    EXPECT_EQ(w.main.FillTarget, 2);
    EXPECT_EQ(w.main.FillFF->text(), "Fill buffer with $FF");
    EXPECT_EQ(w.main.Fill00->text(), "Fill buffer with $00");
    w.devices.DataBuf[3] = 0x41;
    w.devices.showGrid(2);
    w.main.setFileLabel(2, "eeprom.hex");
    w.main.Fill00->trigger();
    EXPECT_EQ(w.devices.DataBuf.length(), 64);
    for (int i = 0; i < 64; ++i) ASSERT_EQ(w.devices.DataBuf[i], 0);
    EXPECT_EQ(w.main.dGrid->model()->index(3, 1).data().toString(), QString("00 ").repeated(16));
    EXPECT_TRUE(w.main.LabFnDataMem->text().isEmpty());
    w.main.FillFF->trigger();
    EXPECT_EQ(w.devices.DataBuf[63], 0xFF);

    // Flash: the blank word of the family, four digits.
    w.main.GridContextPopup(1);
    EXPECT_EQ(w.main.FillFF->text(), "Fill buffer with $3FFF");
    EXPECT_EQ(w.main.Fill00->text(), "Fill buffer with $0000");
    w.select(20);
    QCoreApplication::sendEvent(w.main.pGrid->viewport(), &right);
    w.main.PopFill->hide();
    EXPECT_EQ(w.main.FillFF->text(), "Fill buffer with $FFFF");
    w.main.Fill00->trigger();
    EXPECT_EQ(w.devices.ProgBuf.length(), 4096);
    EXPECT_EQ(w.devices.ProgBuf[4095], 0);
    EXPECT_EQ(w.main.pGrid->model()->index(511, 1).data().toString().left(6), "0000  ");
    w.main.FillFF->trigger();
    EXPECT_EQ(w.devices.ProgBuf[0], 0xFFFF);

    // External EEPROM.
    QCoreApplication::sendEvent(w.main.eGrid->viewport(), &right);
    w.main.PopFill->hide();
    EXPECT_EQ(w.main.FillTarget, 3);
    EXPECT_EQ(w.main.FillFF->text(), "Fill buffer with $FF");
    w.main.Fill00->trigger();
    EXPECT_EQ(w.devices.EepBuf.length(), 8192);
    EXPECT_EQ(w.devices.EepBuf[8191], 0);
}

TEST_F(MainWindowTest, ExternalEepromCouplingThroughTheBoxes) {
    Window w;
    w.select(20);
    EXPECT_TRUE(w.main.cbEepMem->isChecked());
    EXPECT_FALSE(w.main.cbProgMem->isEnabled());  // coupled after the section load
    w.main.cbEepMem->click();                    // untick
    EXPECT_FALSE(w.enable.eep);
    EXPECT_TRUE(w.main.cbProgMem->isEnabled());
    EXPECT_TRUE(w.main.cbConfig->isChecked());
    w.main.cbDataMem->click();  // the user unticks data memory
    EXPECT_FALSE(w.enable.data);
    w.main.cbEepMem->click();   // tick again: the others are ticked and greyed
    EXPECT_TRUE(w.enable.data && w.enable.prog && w.enable.config);
    for (QCheckBox* cb : {w.main.cbProgMem, w.main.cbDataMem, w.main.cbConfig}) {
        EXPECT_TRUE(cb->isChecked());
        EXPECT_FALSE(cb->isEnabled());
    }
    // Card type 10 reaches its EEPROM directly: the boxes stay independent.
    w.select(10);
    w.main.cbProgMem->click();
    EXPECT_FALSE(w.enable.prog);
    w.main.cbEepMem->click();
    w.main.cbEepMem->click();
    EXPECT_TRUE(w.enable.eep);
    EXPECT_FALSE(w.enable.prog);
    EXPECT_TRUE(w.main.cbProgMem->isEnabled());
}

TEST_F(MainWindowTest, ConnectButtonF11AndClose) {
    Window w;
    w.main.ButConnect->click();  // goes down
    EXPECT_EQ(w.calls, QStringList({"Connect"}));
    w.calls.clear();
    w.main.ButConnect->click();  // up, but nothing is connected: nothing happens
    EXPECT_TRUE(w.calls.isEmpty());
    w.usbIsConnected = true;
    w.main.ButConnect->setChecked(true);
    w.main.ButConnect->click();
    EXPECT_EQ(w.calls, QStringList({"Disconnect"}));

    // F11 looks at the serial port only.
    w.calls.clear();
    QKeyEvent f11(QEvent::KeyPress, Qt::Key_F11, Qt::NoModifier);
    QCoreApplication::sendEvent(&w.main, &f11);
    w.portIsOpen = true;
    QCoreApplication::sendEvent(&w.main, &f11);
    EXPECT_EQ(w.calls, QStringList({"Connect", "Disconnect"}));

    // Configuration dialog, then the port pane follows its selection.
    w.options.ports = {"COM1", "SIM"};
    w.options.portIndex = 1;
    w.calls.clear();
    w.main.ActConfig->trigger();
    EXPECT_EQ(w.calls, QStringList({"Config"}));
    EXPECT_EQ(w.main.ComPane->text(), "SIM");

    // Close: both sections saved first, then the serial link closed.
    w.calls.clear();
    w.main.close();
    EXPECT_EQ(w.calls, QStringList({"IniConfig write", "IniDevice write 10", "Disconnect"}));
    // Without an open serial port (USB only) the link stays as it is.
    Window usb;
    usb.usbIsConnected = true;
    usb.main.close();
    EXPECT_EQ(usb.calls, QStringList({"IniConfig write", "IniDevice write 10"}));
}

TEST_F(MainWindowTest, CommandsWaitWhileAFillRuns) {
    Window w;
    // The grids let events run while they fill; a card type picked from the menu then must
    // not resize the buffers under the running fill.
    w.host.duringEvents = [&] {
        w.main.MnuDevices->findChild<QAction*>("DEV10")->trigger();
        w.main.GridContextPopup(3);
        w.main.PopFillClick(0);
        w.main.ActRead->setEnabled(true);
        w.main.ActRead->trigger();
    };
    w.select(26);
    EXPECT_GT(w.host.pumps, 0);
    EXPECT_EQ(w.devices.DeviceId, 26);
    EXPECT_EQ(w.devices.EepBuf.length(), 65536);
    EXPECT_EQ(w.devices.EepBuf[65535], 0xFF);
    EXPECT_EQ(w.main.eGrid->model()->rowCount(), 4096);
    EXPECT_EQ(w.main.eGrid->model()->index(4095, 1).data().toString().left(3), "FF ");
    ASSERT_NE(w.checkedDevice(), nullptr);
    EXPECT_EQ(w.checkedDevice()->objectName(), "DEV26");
    EXPECT_FALSE(w.calls.contains("Action 1"));
    // Once it is done the commands work again.
    w.main.PopFillClick(0);
    EXPECT_EQ(w.devices.EepBuf[65535], 0);
}

// The whole program in a folder of its own.
class ProgramTest : public ::testing::Test {
protected:
    void SetUp() override {
        ensureApp();
        ASSERT_TRUE(dir.isValid());
    }
    std::unique_ptr<KelvanoProgram> start(const QString& port = {}) {
        KelvanoProgram::Setup s;
        s.portName = port;
        s.programDir = dir.path() + "/";
        s.host = &host;
        auto p = std::make_unique<KelvanoProgram>(std::move(s));
        p->Main.show();
        EXPECT_TRUE(p->Main.Timer1.isActive());
        EXPECT_EQ(p->Main.Timer1.interval(), 10);
        EXPECT_TRUE(waitFor([&] { return !p->Main.Timer1.isActive(); }));
        return p;
    }
    QTemporaryDir dir;
    RecordingHost host;
};

TEST_F(ProgramTest, FirstStartAndCloseWriteTheSettings) {
    {
        auto p = start();
        EXPECT_EQ(p->Main.windowTitle(), "KELVANO 2.5");
        EXPECT_TRUE(p->Main.Memo1->toPlainText().contains("2.5.0.2"));
        EXPECT_FALSE(p->Main.PageCtl->isTabVisible(p->Main.PageCtl->indexOf(p->Main.PageDebug)));
        EXPECT_EQ(p->Main.ProgDir, dir.path() + "/");
        EXPECT_EQ(p->Main.CrdPath, dir.path() + "/kelvano.crd");
        EXPECT_EQ(p->Devices.DeviceId, 10);
        EXPECT_EQ(p->Main.DevPane->text(), "Brelmont PIC (PIC16F84 + 24C16)");
        EXPECT_FALSE(p->Com.portOpen());
        EXPECT_FALSE(p->Main.Led1->isLit());
        EXPECT_TRUE(p->options.soundReady && p->options.smartAuto && p->options.warnEnable);
        EXPECT_FALSE(p->options.conAtStart || p->options.loadAtCon || p->options.verify);
        EXPECT_TRUE(p->enable.prog && p->enable.data && p->enable.config && p->enable.eep);
        EXPECT_EQ(p->Main.ComPane->text(), p->options.portName());
        EXPECT_FALSE(QFile::exists(dir.path() + "/kelvano.ini"));

        // The about box carries the title.
        QTimer::singleShot(0, &p->About, [&] { p->About.findChild<QPushButton*>("OKButton")->click(); });
        p->Main.Info1->trigger();
        EXPECT_EQ(p->About.windowTitle(), "Info...");
        EXPECT_EQ(p->About.VersLabel->text(), "KELVANO 2.5");

        p->Main.MnuDevices->findChild<QAction*>("DEV20")->trigger();
        p->Main.cbEepMem->click();  // unticked for card type 20
        p->Main.close();
    }
    QFile ini(dir.path() + "/kelvano.ini");
    ASSERT_TRUE(ini.open(QIODevice::ReadOnly));
    const QString text = QString::fromLatin1(ini.readAll());
    EXPECT_TRUE(text.contains("[Config]"));
    EXPECT_TRUE(text.contains("Version=2.5.0.2"));
    EXPECT_TRUE(text.contains("Device=20"));
    EXPECT_TRUE(text.contains("[DEV_10]"));
    EXPECT_TRUE(text.contains("DeviceName=Brelmont PIC (PIC16F84 + 24C16)"));
    EXPECT_TRUE(text.contains("[DEV_20]"));
    EXPECT_TRUE(text.contains("DeviceName=AVR-Fun 2 (AT90S8515 + 24C64)"));

    // The next start comes back with that card type and its boxes.
    auto p = start();
    EXPECT_EQ(p->Devices.DeviceId, 20);
    EXPECT_EQ(p->Main.DevPane->text(), "AVR-Fun 2 (AT90S8515 + 24C64)");
    EXPECT_FALSE(p->Main.cbEepMem->isChecked());
    EXPECT_TRUE(p->Main.cbProgMem->isEnabled());
    EXPECT_EQ(p->fuses.shown, FusePage::CfgAvr);
    EXPECT_TRUE(host.errors.isEmpty()) << host.errors.join("\n").toStdString();
}

TEST_F(ProgramTest, PortListAndPortOfTheCommandLine) {
    {
        auto p = start();
        // The system's ports, then the USB model and the simulated box; nothing stored yet.
        ASSERT_GE(p->options.ports.size(), 2);
        EXPECT_EQ(p->options.ports.mid(p->options.ports.size() - 2), QStringList({"USB", "SIM"}));
        const int com1 = p->options.ports.indexOf("COM1");
        EXPECT_EQ(p->options.portIndex, com1 >= 0 ? com1 : 0);
        EXPECT_EQ(p->Main.ComPane->text(), p->options.portName());
        // The fuse page control sits in the window and shows the 16F84 page.
        ASSERT_NE(p->Main.CfgCtrl, nullptr);
        EXPECT_TRUE(p->Main.CfgCtrl->isVisibleTo(&p->Main));
        p->options.selectPort("SIM");
        p->Main.close();
    }
    // A port named on the command line is listed and chosen for this run only.
    auto p = start("/dev/pts/77");
    EXPECT_EQ(p->options.portName(), "/dev/pts/77");
    EXPECT_EQ(p->Main.ComPane->text(), "/dev/pts/77");
    p->Main.close();
    // It was the selection at close and so is stored, but the next run without the option
    // does not list it and falls back to the first port.
    auto again = start();
    EXPECT_FALSE(again->options.ports.contains("/dev/pts/77"));
    EXPECT_EQ(again->options.portIndex, 0);
}

TEST_F(ProgramTest, ConnectAtStartupThenFastOpen) {
    // A flash file saved by one run is loaded by the next one's connect.
    QString hex = dir.filePath("fw.hex");
    {
        auto p = start();
        p->Devices.ProgBuf[1] = 0x2A5;
        p->FileIo.SaveFile(hex, 1, 1);
        ASSERT_TRUE(QFile::exists(hex));
    }
    QFile ini(dir.filePath("kelvano.ini"));
    ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
    ini.write(QStringLiteral("[Config]\r\nPort=SIM\r\nAutoConn=1\r\nAutoLoad=1\r\nDevice=10\r\n"
                             "Open1File=%1\r\n").arg(hex).toLatin1());
    ini.close();

    KelvanoProgram::Setup s;
    s.programDir = dir.path() + "/";
    s.host = &host;
    KelvanoProgram p(std::move(s));
    p.Main.show();
    EXPECT_FALSE(p.Com.portOpen());  // not before the window is up and the timer has run
    EXPECT_EQ(p.Devices.ProgBuf.length(), 0);
    ASSERT_TRUE(waitFor([&] { return !p.Main.Timer1.isActive(); }));
    EXPECT_TRUE(p.Com.portOpen()) << host.errors.join("\n").toStdString();
    EXPECT_EQ(p.Devices.ProgBuf[1], 0x2A5);
    EXPECT_EQ(p.Main.LabFnProgMem->text().isEmpty(), false);
    EXPECT_TRUE(p.slotFiles.RecentFiles[1][1].isEmpty());  // fast open leaves the lists alone
    p.Main.close();
    EXPECT_FALSE(p.Com.portOpen());
}

TEST_F(ProgramTest, ConnectsToTheSimulatedBoxAndBack) {
    auto p = start();
    p->options.ports = {"COM1", "SIM"};
    p->options.selectPort("SIM");
    p->Main.ButConnect->click();
    ASSERT_TRUE(p->Com.portOpen()) << host.errors.join("\n").toStdString();
    EXPECT_TRUE(p->Main.Led1->isLit());
    EXPECT_TRUE(p->Main.ButConnect->isChecked());
    EXPECT_TRUE(p->Main.ActProg->isEnabled());
    EXPECT_FALSE(p->Main.QxPane->text().isEmpty());
    EXPECT_FALSE(p->options.portListEnabled);
    // The simulated box holds a card of the selected type.
    EXPECT_EQ(p->simBox.card().type(), 10);
    p->Main.MnuDevices->findChild<QAction*>("DEV31")->trigger();
    EXPECT_EQ(p->simBox.card().type(), 31);

    // Read runs in the action window against the card in the box (a card type whose EEPROM
    // the box reaches without a loader).
    p->Main.MnuDevices->findChild<QAction*>("DEV10")->trigger();
    ASSERT_EQ(p->simBox.card().type(), 10);
    p->simBox.card().flash[2] = 0x1234;
    p->simBox.card().eeprom[17] = 0x5A;
    p->Main.ActRead->trigger();
    EXPECT_EQ(p->Devices.ProgBuf[2], 0x1234);
    EXPECT_EQ(p->Devices.EepBuf[17], 0x5A);
    EXPECT_EQ(p->Main.eGrid->model()->index(1, 1).data().toString().mid(3, 3), "5A ");
    EXPECT_FALSE(p->ActionWindow.isVisible());

    p->Main.ButConnect->click();  // up again
    EXPECT_FALSE(p->Com.portOpen());
    EXPECT_FALSE(p->Main.Led1->isLit());
    EXPECT_TRUE(p->Main.QxPane->text().isEmpty());
    EXPECT_FALSE(p->Main.ActRead->isEnabled());

    // F11 connects; closing the window disconnects after saving.
    QKeyEvent f11(QEvent::KeyPress, Qt::Key_F11, Qt::NoModifier);
    QCoreApplication::sendEvent(&p->Main, &f11);
    ASSERT_TRUE(p->Com.portOpen());
    p->Main.close();
    EXPECT_FALSE(p->Com.portOpen());
    EXPECT_TRUE(QFile::exists(dir.path() + "/kelvano.ini"));
    EXPECT_TRUE(host.errors.isEmpty()) << host.errors.join("\n").toStdString();
}

}  // namespace
}  // namespace kelvano
