// The window's transcript switch: File > Record Transcript... records the exchanges of the
// connection to the chosen file and names it in the status bar until it is switched off.
#include "app/RecordingControl.h"
#include "test_main_support.h"

namespace kelvano {
namespace {

using namespace testing_support;

TEST(RecordingControl, RecordsTheConnectionToTheChosenFileAndNamesItMeanwhile) {
    ProgramRig rig;
    auto p = rig.start("SIM");  // connects to the simulated box once started
    ASSERT_TRUE(p->Com.linkReady()) << rig.errors();
    auto* control = p->Main.findChild<RecordingControl*>();
    ASSERT_TRUE(control);
    QAction* item = p->Main.findChild<QAction*>("ActTranscript");
    ASSERT_EQ(item, control->action());
    EXPECT_EQ(item->text(), "Record &Transcript...");
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

    const QStringList lines = QString::fromUtf8(readAll(answer)).split('\n', Qt::SkipEmptyParts);
    ASSERT_GE(lines.size(), 8);
    EXPECT_EQ(lines[0], "# kelvano-transcript 1");
    EXPECT_TRUE(lines[1].startsWith("# program: kelvano ")) << lines[1].toStdString();
    EXPECT_EQ(lines[2], "# card: " + QString::number(p->Devices.DeviceId));
    QStringList events;
    for (const QString& l : lines.mid(4))
        events << l.section(' ', 1, -1, QString::SectionSkipEmpty);
    EXPECT_EQ(events,
              (QStringList{"purge", "tx 40 4B | @K", "rx 01 30 | .0", "rts 0", "purge", "close"}));
}

}  // namespace
}  // namespace kelvano
