#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QTest>

#include "app/uConfig.h"
#include "base/Options.h"

namespace kelvano {
namespace {

void ensureApp() {
    if (QCoreApplication::instance()) return;
    static int argc = 1;
    static char name[] = "test_app";
    static char* argv[] = {name, nullptr};
    new QApplication(argc, argv);
}

TEST(ConfigDialog, PortListSortsTheSystemPortsAsStringsThenUsbAndSim) {
    EXPECT_EQ(portList({"COM2", "COM10", "COM1"}),
              (QStringList{"COM1", "COM10", "COM2", "USB", "SIM"}));
    EXPECT_EQ(portList({"/dev/ttyUSB1", "/dev/ttyS0", "/dev/ttyACM0", "/dev/ttyUSB0"}),
              (QStringList{"/dev/ttyACM0", "/dev/ttyS0", "/dev/ttyUSB0", "/dev/ttyUSB1", "USB", "SIM"}));
    EXPECT_EQ(portList({}), (QStringList{"USB", "SIM"}));
    const QStringList system = ListSerialPorts();
    ASSERT_GE(system.size(), 2);
    EXPECT_EQ(system.mid(system.size() - 2), (QStringList{"USB", "SIM"}));
}

TEST(ConfigDialog, ShowsTheOptionsAndWritesEveryChangeBack) {
    ensureApp();
    Options o;
    o.ports = portList({"COM1", "COM2"});
    o.selectPort("COM2");
    o.soundReady = true;
    o.smartAuto = true;
    QWidget owner;
    owner.resize(633, 438);
    owner.move(100, 80);
    TConfig dlg(o, &owner);

    EXPECT_EQ(dlg.objectName(), "Config");
    EXPECT_EQ(dlg.windowTitle(), "Configuration");
    EXPECT_TRUE(dlg.windowFlags() & Qt::Tool);
    EXPECT_FALSE(dlg.windowFlags() & Qt::WindowCloseButtonHint);
    EXPECT_FALSE(dlg.windowFlags() & Qt::WindowMinMaxButtonsHint);

    // The hints with a line break and with quotes; every box is there with its caption.
    auto* load = dlg.findChild<QCheckBox*>("cbLoadAtCon");
    ASSERT_NE(load, nullptr);
    EXPECT_EQ(load->toolTip(), "Execute \"Fast Load\"\nwhen connected to QXBASE");
    EXPECT_EQ(dlg.findChildren<QCheckBox*>().size(), 7);
    for (const char* name : {"cbConAtStart", "cbSoundReady", "cbVerify", "cbAlwaysErase", "cbSmartAuto", "cbWarnEnable"})
        EXPECT_NE(dlg.findChild<QCheckBox*>(name), nullptr) << name;
    auto* port = dlg.findChild<QComboBox*>("cbComPort");
    ASSERT_NE(port, nullptr);
    EXPECT_FALSE(port->isEditable());
    EXPECT_EQ(port->toolTip(), "COM-Port setup");
    auto* label = qobject_cast<QLabel*>(port->parentWidget()->findChildren<QLabel*>().value(0));
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(label->text(), "PORT:");
    auto* ok = dlg.findChild<QPushButton*>("ButOk");
    ASSERT_NE(ok, nullptr);
    EXPECT_EQ(ok->text(), "OK");

    owner.show();
    dlg.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dlg));
    EXPECT_LE((dlg.frameGeometry().center() - owner.frameGeometry().center()).manhattanLength(), 8);
    EXPECT_EQ(port->currentText(), "COM2");
    EXPECT_EQ(port->count(), 4);
    EXPECT_TRUE(dlg.findChild<QCheckBox*>("cbSoundReady")->isChecked());
    EXPECT_FALSE(dlg.findChild<QCheckBox*>("cbVerify")->isChecked());

    // Every change takes effect at once.
    auto* verify = dlg.findChild<QCheckBox*>("cbVerify");
    QTest::mouseClick(verify, Qt::LeftButton, {}, QPoint(8, verify->height() / 2));
    EXPECT_TRUE(o.verify);
    auto* sound = dlg.findChild<QCheckBox*>("cbSoundReady");
    QTest::mouseClick(sound, Qt::LeftButton, {}, QPoint(8, sound->height() / 2));
    EXPECT_FALSE(o.soundReady);
    QTest::keyClick(port, Qt::Key_Down);
    EXPECT_EQ(o.portName(), "USB");
    QTest::mouseClick(ok, Qt::LeftButton);
    EXPECT_FALSE(dlg.isVisible());
    EXPECT_EQ(dlg.result(), QDialog::Accepted);

    // Connected: the port cannot be changed; the next show picks up what changed meanwhile.
    o.portListEnabled = false;
    o.warnEnable = true;
    o.selectPort("COM1");
    dlg.show();
    EXPECT_FALSE(port->isEnabled());
    EXPECT_EQ(port->currentText(), "COM1");
    EXPECT_TRUE(dlg.findChild<QCheckBox*>("cbWarnEnable")->isChecked());
    dlg.hide();
    o.portListEnabled = true;
    o.ports = {"COM7", "USB", "SIM"};
    o.portIndex = 0;
    dlg.show();
    EXPECT_TRUE(port->isEnabled());
    EXPECT_EQ(port->count(), 3);
    EXPECT_EQ(port->currentText(), "COM7");
    EXPECT_EQ(o.portIndex, 0);  // re-showing does not move the selection
}

}  // namespace
}  // namespace kelvano
