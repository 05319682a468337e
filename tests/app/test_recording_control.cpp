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
