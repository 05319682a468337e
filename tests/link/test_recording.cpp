// The recording wrapper of the port: every call reaches the wrapped port unchanged and, while a
// transcript runs, becomes one line of the documented format. (The USB wrapper: test_sim_link.)
#include <QTemporaryDir>

#include "LinkFixture.h"
#include "cli/CliRun.h"
#include "link/RecordingSerialPort.h"

namespace kelvano::test {
namespace {

TEST(Recording, SerialCallsBecomeTheDocumentedLinesWhileARecordingRuns) {
    QTemporaryDir dir;
    const QString path = dir.filePath("t.txt");
    VirtualClock clock;
    TranscriptRecorder recorder{clock};
    auto owned = std::make_unique<FakeSerialPort>(clock);
    FakeSerialPort& fake = *owned;
    fake.onWrite = [](FakeSerialPort& p, const QByteArray& w) {
        if (w == "QXAT\r") p.send("\r\n>", 7);
    };
    RecordingSerialPort port(std::move(owned), recorder);
    port.open("COM 3", 115200);  // before the recording: passed on, not written
    clock.advance(500);          // times count from the start of the recording
    ASSERT_TRUE(recorder.start(path, {"kelvano-cli", 22, "--card 22 info"}));
    EXPECT_TRUE(recorder.recording() && recorder.fileName() == path);
    port.open("COM 3", 115200);
    port.purge();
    port.write("QXAT\r");
    QByteArray got;
    for (int b; (b = port.readByte(15)) >= 0;) got += char(b);
    port.setRts(true);
    fake.failWrite = true;
    EXPECT_THROW(port.write("@K"), PortError);
    port.close();
    recorder.stop(1);
    fake.failWrite = false;
    port.open("COM 3", 115200);
    port.write("@*");  // after it: passed on, not written

    EXPECT_EQ(got, "\r\n>");  // the wrapped port answers through the wrapper
    QStringList lines;        // all but the one with the wall-clock start
    for (const QString& l : QString::fromUtf8(readAll(path)).split('\n', Qt::SkipEmptyParts))
        if (!l.startsWith("# started: ")) lines << l;
    EXPECT_EQ(lines, (QStringList{
                         "# kelvano-transcript 1",
                         "# program: kelvano-cli " + TranscriptRecorder::programVersion(),
                         "# card: 22",
                         "# command: --card 22 info",
                         "     0 open COM_3 115200",
                         "     0 purge",
                         "     0 tx 51 58 41 54 0D | QXAT.",
                         "     7 rx 0D 0A 3E | ..>",
                         "    22 timeout 15",
                         "    22 rts 1",
                         "    22 tx 40 4B | @K",
                         "    22 error write 2 5",
                         "    22 close",
                         "# result: 1",
                     }));
    // A file that cannot be written is refused with the reason.
    EXPECT_FALSE(recorder.start(dir.filePath("no/such/folder/t.txt"), {"kelvano", 10, {}}));
    EXPECT_FALSE(recorder.recording() || recorder.errorString().isEmpty());
}

}  // namespace
}  // namespace kelvano::test
