// The recording wrappers: every call on the port or the USB backend reaches the wrapped one
// unchanged and, while a transcript runs, becomes one line of the documented format.
#include <QFile>
#include <QTemporaryDir>

#include "LinkFixture.h"
#include "link/RecordingSerialPort.h"
#include "link/RecordingUsbBackend.h"

namespace kelvano::test {
namespace {

class Recording : public ::testing::Test {
protected:
    // The transcript's lines but the one with the wall-clock start.
    QStringList lines() {
        QFile f(path);
        QStringList out;
        if (f.open(QIODevice::ReadOnly))
            for (const QString& l : QString::fromUtf8(f.readAll()).split('\n', Qt::SkipEmptyParts))
                if (!l.startsWith("# started: ")) out << l;
        return out;
    }
    QTemporaryDir dir;
    QString path = dir.filePath("t.txt");
    VirtualClock clock;
    TranscriptRecorder recorder{clock};
};

TEST_F(Recording, SerialCallsBecomeTheDocumentedLinesWhileARecordingRuns) {
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

    // The wrapped port saw exactly the calls.
    EXPECT_EQ(got, "\r\n>");
    EXPECT_EQ(fake.writes, (QList<QByteArray>{"QXAT\r", "@*"}));
    EXPECT_EQ(fake.rts, std::vector<bool>{true});
    EXPECT_EQ(fake.readWaits, (std::vector<int>{15, 15, 15, 15}));
    EXPECT_EQ(lines(), (QStringList{
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

struct ScriptedUsb : UsbBackend {
    bool open = false;
    bool openDevice(int k) override { return open = k == 1; }
    void closeDevice() override { open = false; }
    bool isOpen() const override { return open; }
    bool pipeInfo(QByteArray& info) override { return info = QByteArray::fromHex("0102"), true; }
    bool stringDescriptor(int, int, QByteArray&) override { return false; }
    bool bulkWrite(int pipe, const QByteArray&) override { return pipe == 2; }
    int bulkRead(int pipe, uint8_t* buffer, int) override {
        return pipe == 3 ? (buffer[0] = 0x06, buffer[1] = 0x41, 2) : -1;
    }
};

TEST_F(Recording, UsbRequestsAndTheirResults) {
    ScriptedUsb inner;
    RecordingUsbBackend usb(inner, recorder);
    ASSERT_TRUE(recorder.start(path, {"kelvano", 26, {}}));
    EXPECT_FALSE(usb.openDevice(0));
    EXPECT_TRUE(usb.openDevice(1));
    QByteArray info, text;
    EXPECT_TRUE(usb.pipeInfo(info) && info == QByteArray::fromHex("0102"));
    EXPECT_FALSE(usb.stringDescriptor(2, 1, text));
    EXPECT_TRUE(usb.bulkWrite(2, QByteArray::fromHex("0500")));
    EXPECT_FALSE(usb.bulkWrite(1, QByteArray(1, 5)));
    uint8_t buffer[256];
    EXPECT_EQ(usb.bulkRead(3, buffer, 256), 2);
    EXPECT_EQ(usb.bulkRead(4, buffer, 32), -1);
    usb.closeDevice();
    EXPECT_FALSE(inner.open);
    recorder.stop();
    EXPECT_EQ(lines().mid(3), (QStringList{
                                  "     0 usb-open 0 fail",
                                  "     0 usb-open 1 ok",
                                  "     0 usb-pipes ok 01 02 | ..",
                                  "     0 usb-string 2 1 fail",
                                  "     0 usb-out 2 ok 05 00 | ..",
                                  "     0 usb-out 1 fail 05 | .",
                                  "     0 usb-in 3 256 2 06 41 | .A",
                                  "     0 usb-in 4 32 fail",
                                  "     0 usb-close",
                              }));
}

}  // namespace
}  // namespace kelvano::test
