#include <QTemporaryDir>

#include "LinkFixture.h"
#include "cli/CliRun.h"
#include "link/RecordingSerialPort.h"

namespace kelvano::test {
namespace {

using Framing = LinkFixture;

TEST_F(Framing, TransactPurgesThenReadsTheLengthByteAndThatManyBytesWithExactWaits) {
    TCom& c = connectPlainBox();
    QByteArray full(254, '\0');
    for (int i = 0; i < full.size(); ++i) full[i] = char(i);
    std::vector<int> fullWaits(255, 30);
    fullWaits[0] = 60;
    box.replies = {{"@K", QByteArray(1, 3) + "123"},
                   {"@Z", QByteArray(1, 0)},
                   {"@F", QByteArray(1, char(255)) + "junk"},
                   {"@L", char(254) + full}};
    // Command, first wait, result, reply, the waits of the reads.
    const std::tuple<const char*, int, int, QByteArray, std::vector<int>> cases[] = {
        {"K", 30, 3, "123", {90, 30, 30, 30}},
        {"Z", 0, 0, "", {60}},     // 0 and 255 are whole answers; firstWait 0 stands for 20
        {"F", 10, 255, "", {30}},  // the bytes after 255 wait for the next exchange's purge
        {"L", 0, 254, full, fullWaits},
        {"X", 500, -1, "", {1500}},  // silence
    };
    for (const auto& [cmd, firstWait, result, expected, waits] : cases) {
        SCOPED_TRACE(cmd);
        port->readWaits.clear();
        QByteArray reply = "stale";
        EXPECT_EQ(c.Transact(cmd, reply, firstWait), result);
        EXPECT_EQ(reply, expected);
        EXPECT_EQ(port->writes.last(), QByteArray("@") + cmd);  // no terminator
        EXPECT_EQ(port->readWaits, waits);
        EXPECT_TRUE(c.keepAliveTimer().isActive());  // live again after every exchange
        c.keepAliveTimer().stop();
    }

    // Five announced, three delivered: -1 with the three kept, 30 ms spent on the fourth.
    QByteArray reply;
    box.replies["@S"] = QByteArray(1, 5) + "abc";
    EXPECT_EQ(elapsed([&] { EXPECT_EQ(c.Transact("S", reply, 200), -1); }), 30);
    EXPECT_EQ(reply, "abc");
    port->failWrite = true;
    EXPECT_THROW(c.Transact("K", 0), PortError);
}

// Prompt lines end on a carriage return or the prompt and are bounded; the prompt sync tries a
// hundred times, fifteen milliseconds each, within three seconds.
TEST_F(Framing, PromptLinesAndTheSyncAreBoundedInLengthAndTime) {
    TCom& c = connectPlainBox();
    port->onWrite = nullptr;
    port->send(
        QByteArray("AB\r\nCD>\0\x01"
                   "EF\ra>b\r\r\x7F\xE4\r",
                   20));
    const std::pair<int, QByteArray> lines[] = {{0, "AB"}, {3, "CD>"}, {0, "EF"},      {2, "a>"},
                                                {0, "b"},  {0, ""},    {0, "\x7F\xE4"}};
    QByteArray line;
    for (const auto& [position, text] : lines)
        EXPECT_TRUE(c.ReadPromptLine(line) == position && line == text) << text.constData();
    // Silence after "AB": -1 after one 150 ms gap, with what arrived kept.
    port->send("A"), port->send("B", 100);
    port->readWaits.clear();
    EXPECT_EQ(elapsed([&] { EXPECT_EQ(c.ReadPromptLine(line), -1); }), 250);
    EXPECT_EQ(line, "AB");
    EXPECT_EQ(port->readWaits, (std::vector<int>{150, 150, 150}));

    // A line that never ends: given up after 128 characters or 2 s, whichever comes first.
    port->send(QByteArray(1000, 'A'), 0, 1);
    EXPECT_EQ(elapsed([&] { EXPECT_EQ(c.ReadPromptLine(line), -1); }), 128);
    port->input_.clear();
    port->send(QByteArray(100, 'A'), 0, 140);
    EXPECT_EQ(elapsed([&] { EXPECT_EQ(c.ReadPromptLine(line), -1); }), 2100);  // 15 x 140
    port->input_.clear();

    port->onWrite = [](FakeSerialPort& p, const QByteArray&) { p.send("ERROR\r\n"); };
    EXPECT_EQ(elapsed([&] { EXPECT_FALSE(c.SyncPrompt()); }), 100 * 15);
    EXPECT_EQ(port->writes, QList<QByteArray>(100, "QXAT\r"));
    // The fifth attempt is answered after some noise: four silent rounds of 15 ms.
    port->onWrite = [&](FakeSerialPort& p, const QByteArray&) {
        if (port->writes.size() == 105) p.send(QByteArray("\x00junk\r\n>", 8), 5);
    };
    EXPECT_EQ(elapsed([&] { EXPECT_TRUE(c.SyncPrompt()); }), 4 * 15 + 5);
    // Noise every 14 ms keeps each read alive: only the 3 s bound ends it, or 64 bytes an
    // attempt when it all arrives at once.
    port->onWrite = nullptr;
    port->send(QByteArray(4000, 'A'), 0, 14);
    EXPECT_EQ(elapsed([&] { EXPECT_FALSE(c.SyncPrompt()); }), 3010);  // the read under way ends
    port->input_.clear(), port->writes.clear();
    port->send(QByteArray(640, 'A'));
    EXPECT_EQ(elapsed([&] { EXPECT_FALSE(c.SyncPrompt()); }), 90 * 15);
    EXPECT_EQ(port->writes.size(), 100);
}

TEST_F(Framing, KeepAliveToleratesOneMissDisconnectsQuietlyOnTwoAndShowsPortErrors) {
    TCom& c = connectPlainBox();
    box.answerKeepAlive = false;
    c.KeepAlive();
    EXPECT_TRUE(c.MissCount == 1 && port->writes.last() == "@*");
    box.answerKeepAlive = true;
    c.KeepAlive();
    EXPECT_TRUE(c.MissCount == 0 && view.toggles == 2);

    // An answer later than 30 ms is a miss.
    port->onWrite = [](FakeSerialPort& p, const QByteArray&) { p.send("!", 40); };
    EXPECT_EQ(elapsed([&] { c.KeepAlive(); }), 30);
    EXPECT_EQ(c.MissCount, 1);
    port->input_.clear();
    c.KeepAlive();
    EXPECT_FALSE(c.portOpen() || c.keepAliveTimer().isActive() || view.connected);
    c.KeepAlive();  // a tick that was already queued finds nothing to do
    EXPECT_TRUE(host.errors.isEmpty());

    // A port error in keep-alive is shown once; the closed port then throws.
    box = FakeBox();
    TCom& again = connectPlainBox();
    port->failWrite = true;
    port->failRts = EIO;  // the device is gone: letting go of the line fails as well
    EXPECT_NO_THROW(again.KeepAlive());
    EXPECT_EQ(host.errors,
              QStringList{"WriteFile function failed (win error code: 5): Input/output error"});
    EXPECT_FALSE(again.portOpen() || again.linkReady() || again.keepAliveTimer().isActive());
    EXPECT_THROW(again.Transact("K", 0), PortError);
}

// The recording wrapper of the port: every call reaches the wrapped port unchanged and, while a
// transcript runs, becomes one line of the documented format. (The USB wrapper: test_sim_link.)
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
    QStringList lines = QString::fromUtf8(readAll(path)).split('\n', Qt::SkipEmptyParts);
    lines.removeIf([](const QString& l) { return l.startsWith("# started: "); });  // wall clock
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
