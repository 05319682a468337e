#include <gtest/gtest.h>

#include <QComboBox>
#include <QPushButton>

#include "app/uConfig.h"
#include "base/Options.h"
#include "test_main_support.h"

namespace kelvano {
namespace {

using namespace testing_support;

TEST(ConfigDialog, PortListSortsTheSystemPortsAsStringsThenUsbAndSim) {
    EXPECT_EQ(portList({"COM2", "COM10", "COM1"}),
              (QStringList{"COM1", "COM10", "COM2", "USB", "SIM"}));
    EXPECT_EQ(portList({"/dev/ttyUSB1", "/dev/ttyS0", "/dev/ttyACM0"}),
              (QStringList{"/dev/ttyACM0", "/dev/ttyS0", "/dev/ttyUSB1", "USB", "SIM"}));
}

TEST(ConfigDialog, ShowsTheOptionsAndWritesEveryChangeBack) {
    ensureApp();
    Options o;
    o.ports = portList({"COM1", "COM2"});
    o.selectPort("COM2");
    o.soundReady = true;
    QWidget owner;
    owner.setGeometry(100, 80, 633, 438);
    TConfig dlg(o, &owner);
    auto* port = dlg.findChild<QComboBox*>("cbComPort");
    auto* verify = dlg.findChild<QCheckBox*>("cbVerify");
    auto* sound = dlg.findChild<QCheckBox*>("cbSoundReady");
    auto* ok = dlg.findChild<QPushButton*>("ButOk");
    ASSERT_TRUE(port && verify && sound && ok);

    owner.show();
    dlg.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dlg));
    EXPECT_LE((dlg.frameGeometry().center() - owner.frameGeometry().center()).manhattanLength(), 8);
    EXPECT_EQ(port->currentText(), "COM2");
    EXPECT_EQ(port->count(), 4);
    EXPECT_TRUE(sound->isChecked() && !verify->isChecked());
    // Every change takes effect at once.
    clickBox(verify);
    EXPECT_TRUE(o.verify);
    clickBox(sound);
    EXPECT_FALSE(o.soundReady);
    QTest::keyClick(port, Qt::Key_Down);
    EXPECT_EQ(o.portName(), "USB");
    QTest::mouseClick(ok, Qt::LeftButton);
    EXPECT_FALSE(dlg.isVisible());

    // Connected: the port cannot be changed; the next show picks up what changed meanwhile.
    o.portListEnabled = false;
    o.warnEnable = true;
    o.selectPort("COM1");
    dlg.show();
    EXPECT_FALSE(port->isEnabled());
    EXPECT_EQ(port->currentText(), "COM1");
    EXPECT_TRUE(dlg.findChild<QCheckBox*>("cbWarnEnable")->isChecked());
}

}  // namespace
}  // namespace kelvano
