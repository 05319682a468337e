// The small windows and boxes around the main window: the action window, the configuration
// dialog, the message boxes and the transcript switch.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

#include "app/ActionDialog.h"
#include "app/GuiHost.h"
#include "app/RecordingControl.h"
#include "app/uConfig.h"
#include "base/Options.h"
#include "test_main_support.h"

namespace kelvano {
namespace {

using namespace testing_support;

TEST(ActionDialog, EveryWayOutGoesThroughTheRunner) {
    ensureApp();
    int shows = 0, cancels = 0, closes = 0;
    ActionDialog dlg({[&] { ++shows; }, [&] { ++cancels; }, [&] { ++closes; }});
    auto* abort = dlg.findChild<QPushButton*>("ButCancel");
    dlg.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dlg));
    dlg.setLabel("READY");
    dlg.setProgressPercent(42);
    EXPECT_EQ(dlg.findChild<QLabel*>("Lab1")->text(), "READY");
    EXPECT_EQ(dlg.findChild<QProgressBar*>("ProgBar")->text(), "42%");

    // Abort, Escape and the window manager's close all ask the runner; none closes.
    QTest::mouseClick(abort, Qt::LeftButton);
    QTest::keyClick(&dlg, Qt::Key_Escape);
    EXPECT_FALSE(dlg.close());
    EXPECT_EQ(cancels, 3);
    // Without Abort (the firmware upload) nothing but the runner closes the window.
    dlg.setAbortEnabled(false);
    QTest::keyClick(&dlg, Qt::Key_Escape);
    dlg.close();
    EXPECT_EQ(cancels, 3);
    EXPECT_TRUE(dlg.isVisible() && closes == 0);

    // A close request takes effect after the handler that made it, and closes once.
    dlg.requestClose();
    dlg.requestClose();
    EXPECT_TRUE(dlg.isVisible());
    QCoreApplication::processEvents();
    EXPECT_FALSE(dlg.isVisible());
    EXPECT_EQ(closes, 1);

    // Shown modally by the main window: exec returns once the runner closes it.
    QTimer::singleShot(0, &dlg, [&] { dlg.requestClose(); });
    EXPECT_EQ(dlg.exec(), QDialog::Accepted);
    EXPECT_TRUE(shows == 2 && closes == 2);
}

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

TEST(GuiHostTest, ErrorBoxOkAbortQuestionAndTheProtectedCardsChoice) {
    ensureApp();
    const QString locked =
        "AVR-Device is protected!\rCan't read, verify or blank check the device.";
    const QString lockedBox =
        "Error|AVR-Device is protected!\nCan't read, verify or blank check the device.";
    const QString eraseBox = lockedBox +
                             "\n\nErasing the card clears its protection and its contents; the "
                             "buffers are then programmed.|3|2";
    const QString ask = "Card is protected\r\nContinue?";
    const QString askBox = "Warning|Card is protected\nContinue?|2|2";
    // Icons: 3 critical, 2 warning. Without the erase offered (outside a window action) a
    // protected card is an error box like any other.
    enum Ask { Error, OkAbort, Protected, EraseOffered };
    const struct {
        Ask ask;
        QString text;
        QString press;
        bool answer;
        QString seen;
    } boxes[] = {
        {Error, "Error in line 3 of file:\rx.hex", "Cancel", false,
         "Error|Error in line 3 of file:\nx.hex|3|1"},
        {OkAbort, ask, "OK", true, askBox},
        {OkAbort, ask, "Abort", false, askBox},
        {Protected, locked, "Cancel", false, lockedBox + "|3|1"},
        {EraseOffered, locked, "Erase and program", true, eraseBox},
        {EraseOffered, locked, "Cancel", false, eraseBox},
    };
    for (const auto& b : boxes) {
        GuiHost host;
        host.setEraseOffered(b.ask == EraseOffered);
        QString seen;
        answerNextBox(seen, b.press);
        bool answer = false;
        if (b.ask == Error) host.showError(b.text);
        if (b.ask == OkAbort) answer = host.askOkAbort("Warning", b.text);
        if (b.ask >= Protected) answer = host.offerErase(b.text);
        EXPECT_EQ(std::pair(seen, answer), std::pair(b.seen, b.answer));
    }
}

// File > Record Transcript... records the connection to the chosen file, named meanwhile.
TEST(RecordingControl, RecordsTheConnectionToTheChosenFileAndNamesItMeanwhile) {
    ProgramRig rig;
    auto p = rig.start("SIM");  // connects to the simulated box once started
    ASSERT_TRUE(p->Com.linkReady()) << rig.errors();
    auto* control = p->Main.findChild<RecordingControl*>();
    ASSERT_TRUE(control);
    QAction* item = p->Main.findChild<QAction*>("ActTranscript");
    ASSERT_EQ(item, control->action());
    EXPECT_TRUE(p->Main.MnuFile->actions().contains(item));
    EXPECT_TRUE(control->pane()->isHidden());

    QString answer;  // the file dialog cancelled: nothing records
    control->setFileQuestion([&] { return answer; });
    item->trigger();
    EXPECT_FALSE(item->isChecked() || p->transcript.recording());

    answer = rig.dir.filePath("window.txt");
    item->trigger();
    ASSERT_TRUE(item->isChecked() && p->transcript.recording());
    EXPECT_EQ(control->pane()->text(), "REC window.txt");
    EXPECT_EQ(control->pane()->toolTip(), "Recording a transcript to " + answer);
    EXPECT_FALSE(control->pane()->isHidden());
    p->Com.Transact("K", 0);  // one exchange while recording
    p->Com.Disconnect();
    item->trigger();
    EXPECT_FALSE(item->isChecked() || p->transcript.recording());
    EXPECT_TRUE(control->pane()->isHidden());

    // The exchange is in the file; what a transcript holds is the recorder's business.
    const QByteArray text = readAll(answer);
    EXPECT_TRUE(text.startsWith("# kelvano-transcript 1\n# program: kelvano ")) << text.data();
    EXPECT_TRUE(text.contains("tx 40 4B | @K\n")) << text.data();
}

}  // namespace
}  // namespace kelvano
