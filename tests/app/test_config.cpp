#include <gtest/gtest.h>

#include <QComboBox>
#include <QLabel>
#include <QPushButton>

#include "app/uConfig.h"
#include "base/Options.h"
#include "test_main_support.h"

namespace kelvano {
namespace {

using namespace testing_support;

TEST(ConfigDialog, PortsSortedAsTextThenUsbAndSimAndEveryChangeWrittenBack) {
    EXPECT_EQ(portList({"/dev/ttyUSB1", "/dev/ttyS0", "/dev/ttyACM0"}),
              (QStringList{"/dev/ttyACM0", "/dev/ttyS0", "/dev/ttyUSB1", "USB", "SIM"}));
    ensureApp();
    Options o;
    o.ports = portList({"COM2", "COM10", "COM1"});
    o.selectPort("COM2");
    o.soundReady = true;
    TConfig dlg(o);
    auto* port = dlg.findChild<QComboBox*>("cbComPort");
    dlg.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dlg));
    EXPECT_EQ(port->currentText(), "COM2");
    clickBox(dlg.findChild<QCheckBox*>("cbVerify"));
    clickBox(dlg.findChild<QCheckBox*>("cbSoundReady"));
    QTest::keyClick(port, Qt::Key_Down);  // COM1, COM10, COM2, USB, SIM
    EXPECT_TRUE(o.verify && !o.soundReady);
    EXPECT_EQ(o.portName(), "USB");
    QTest::mouseClick(dlg.findChild<QPushButton*>("ButOk"), Qt::LeftButton);
    EXPECT_FALSE(dlg.isVisible());

    // Connected: the port cannot be changed; the next show picks up what changed meanwhile.
    o.portListEnabled = false;
    o.warnEnable = true;
    o.selectPort("COM1");
    dlg.show();
    EXPECT_FALSE(port->isEnabled());
    auto* note = dlg.findChild<QLabel*>("PortNote");
    EXPECT_TRUE(note->isVisible());
    EXPECT_EQ(note->text(), "Connected: disconnect to choose another port.");
    EXPECT_EQ(port->currentText(), "COM1");
    EXPECT_TRUE(dlg.findChild<QCheckBox*>("cbWarnEnable")->isChecked());
    dlg.hide();
    o.portListEnabled = true;
    dlg.show();
    EXPECT_TRUE(port->isEnabled() && !note->isVisible());
}

}  // namespace
}  // namespace kelvano
