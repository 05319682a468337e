// The hardware suite: the port and USB contracts, connect and identify, keep-alive, card
// detection and a read of the inserted card, against
//   - "boxsim": a kelvano-boxsim terminal (always, so that the suite itself is known to work);
//   - "box": the real box named by KELVANO_TEST_PORT (/dev/ttyUSB0, ..., or USB); skipped
//     without it. Tests that change the card run there only with KELVANO_TEST_WRITE=1 as well.
// KELVANO_TEST_CARD gives the card type in the box (needed for the read and write tests on a
// real box). Every exchange with a real box is recorded in the folder KELVANO_TEST_TRANSCRIPTS
// (default: kelvano-hardware-transcripts in the current folder).
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <memory>

#include "device/uDevices.h"
#include "link/LibusbBackend.h"
#include "link/LinkFixture.h"
#include "link/QtSerialPortImpl.h"
#include "link/RecordingSerialPort.h"
#include "link/RecordingUsbBackend.h"
#include "sim/SimBox.h"
#include "sim/SimUsbBackend.h"

// Timers and processes need a QCoreApplication for the whole run.
int qtArgc = 1;
char qtName[] = "test_hardware";
char* qtArgv[] = {qtName, nullptr};
QCoreApplication qtApp(qtArgc, qtArgv);

namespace kelvano::test {
namespace {

QString env(const char* name) { return QString::fromLocal8Bit(qgetenv(name)); }

// What the tests talk to: a port name (a terminal, a serial port or "USB") and, for the
// simulated box, the kelvano-boxsim process behind it.
class Target {
public:
    explicit Target(const std::string& which) : real_(which == "box") {
        if (real_) {
            port_ = env("KELVANO_TEST_PORT");
            card_ = env("KELVANO_TEST_CARD").toInt();
            const QString dir = env("KELVANO_TEST_TRANSCRIPTS");
            transcripts_ =
                dir.isEmpty() ? QDir::current().filePath("kelvano-hardware-transcripts") : dir;
            QDir().mkpath(transcripts_);
            return;
        }
        card_ = 22;
        transcripts_ = tmp_.path();
        sim_.start(QStringLiteral(KELVANO_BIN_DIR "/kelvano-boxsim"), {"--card", "22"});
        while (sim_.waitForStarted(5000) && !sim_.canReadLine() && sim_.waitForReadyRead(5000)) {
        }
        port_ = QString::fromLocal8Bit(sim_.readLine()).trimmed();
        // The same box as USB, in process: kelvano-boxsim has no USB face.
        usbBox_ = std::make_unique<SimBox>(SimBox::Model::Usb, 22);
    }
    ~Target() {
        if (sim_.state() != QProcess::NotRunning) sim_.terminate(), sim_.waitForFinished(3000);
    }

    bool real() const { return real_; }
    bool usb() const { return port_ == QLatin1String("USB"); }
    QString port() const { return port_; }
    int card() const { return card_; }
    QString transcript(const QString& name) const {
        return QDir(transcripts_).filePath(name + ".txt");
    }
    QString folder() const { return transcripts_; }
    std::unique_ptr<UsbBackend> usbBackend() {
        if (usbBox_) return std::make_unique<SimUsbBackend>(*usbBox_);
        return std::make_unique<LibusbBackend>();
    }

private:
    bool real_;
    QString port_, transcripts_;
    int card_ = 0;
    QTemporaryDir tmp_;
    QProcess sim_;
    std::unique_ptr<SimBox> usbBox_;
};

class Hardware : public ::testing::TestWithParam<std::string> {
protected:
    void SetUp() override {
        if (GetParam() == "box" && env("KELVANO_TEST_PORT").isEmpty())
            GTEST_SKIP() << "KELVANO_TEST_PORT names no box (/dev/ttyUSB0, USB, ...)";
        target = std::make_unique<Target>(GetParam());
        ASSERT_FALSE(target->port().isEmpty()) << "kelvano-boxsim did not start";
    }
    std::string testName() const {
        return ::testing::UnitTest::GetInstance()->current_test_info()->name();
    }
    // TCom on the target's port or USB, every exchange recorded.
    TCom& link() {
        options.ports = {target->port()};
        options.portIndex = 0;
        usbBackend = target->usbBackend();
        recordingUsb = std::make_unique<RecordingUsbBackend>(*usbBackend, recorder);
        usb.setBackend(recordingUsb.get());
        const QString name = QString::fromStdString(testName()).section('/', 0, 0);
        recorder.start(target->transcript(QString::fromStdString(GetParam()) + "-" + name),
                       {"test_hardware", target->card(), {}});
        com = std::make_unique<TCom>(
            host, clock, view, options, usb,
            RecordingSerialPort::wrap([](const QString&) { return makeSystemSerialPort(); },
                                      recorder),
            ImageStore(ImageStore::builtInData()));
        com->setProgressView(&view);
        return *com;
    }
    // kelvano-cli against the target, recorded to a transcript that the suite can replay. It
    // runs in the transcripts' folder: files it loads or saves are named relative to it, so
    // that the transcript replays beside them.
    int cli(const QString& name, const QStringList& args, QString* errors = nullptr) {
        QProcess p;
        p.setWorkingDirectory(target->folder());
        p.start(
            QStringLiteral(KELVANO_BIN_DIR "/kelvano-cli"),
            args + QStringList{"--port", target->port(), "--card", QString::number(target->card()),
                               "--no-wait", "--transcript", target->transcript(name)});
        if (!p.waitForFinished(600000)) return -1;
        if (errors) *errors = QString::fromLocal8Bit(p.readAllStandardError());
        return p.exitCode();
    }
    void TearDown() override {
        if (com) com->Disconnect();
        recorder.stop();
    }

    std::unique_ptr<Target> target;
    RealClock clock;
    TranscriptRecorder recorder{clock};
    RecordingHost host;
    RecordingView view;
    Options options;
    std::unique_ptr<UsbBackend> usbBackend;
    std::unique_ptr<RecordingUsbBackend> recordingUsb;
    TUsb usb;
    std::unique_ptr<TCom> com;
};

TEST_P(Hardware, SerialPortContract) {
    if (target->usb()) GTEST_SKIP() << "a USB box has no serial port";
    RecordingSerialPort p(makeSystemSerialPort(), recorder);
    recorder.start(target->transcript(QString::fromStdString(GetParam()) + "-port-contract"),
                   {"test_hardware", target->card(), {}});
    p.open(target->port(), 115200);
    ASSERT_TRUE(p.isOpen());
    p.purge();
    // The box answers the prompt sync with '>', the first byte as soon as it is there.
    bool prompt = false;
    QElapsedTimer t;
    for (int attempt = 0; attempt < 100 && !prompt; ++attempt) {
        p.write("QXAT\r");
        t.start();
        for (int b; !prompt && (b = p.readByte(15)) >= 0;) prompt = b == '>';
    }
    ASSERT_TRUE(prompt) << "no '>' in 100 attempts";
    EXPECT_LT(t.elapsed(), 500);
    p.write("QXAT!V#\r");
    QByteArray id;
    for (int b, lines = 0; lines < 3 && (b = p.readByte(150)) >= 0;) {
        if (b == '\r') ++lines;
        id += char(b);
    }
    EXPECT_EQ(id.count('\r'), 3) << id.constData();
    EXPECT_TRUE(id.startsWith("STRAVINEX") || id.contains("\nSTRAVINEX")) << id.constData();
    // Purge discards what has arrived; a read on a silent line gives up after its time-out.
    p.write("QXAT!V#\r");
    QThread::msleep(200);
    p.purge();
    EXPECT_EQ(p.readByte(30), -1);
    t.start();
    EXPECT_EQ(p.readByte(90), -1);
    EXPECT_GE(t.elapsed(), 85);
    EXPECT_LT(t.elapsed(), 600);
    EXPECT_NO_THROW(p.setRts(true));
    EXPECT_NO_THROW(p.setRts(false));
    p.close();
    EXPECT_THROW(p.write("x"), PortError);
    EXPECT_THROW(p.readByte(10), PortError);
}

TEST_P(Hardware, UsbContract) {
    if (!target->usb() && target->real()) GTEST_SKIP() << "a serial box has no USB face";
    std::unique_ptr<UsbBackend> inner = target->usbBackend();
    RecordingUsbBackend b(*inner, recorder);
    recorder.start(target->transcript(QString::fromStdString(GetParam()) + "-usb-contract"),
                   {"test_hardware", target->card(), {}});
    TUsb usb(&b);
    ASSERT_TRUE(usb.UsbOpen("ezusb")) << "no USB box attached (or no access to it)";
    ASSERT_TRUE(usb.GetPipeInfo());
    const int in = usb.FindPipe(0x82), out = usb.FindPipe(0x02);
    EXPECT_GE(in, 0);
    EXPECT_GE(out, 0);
    EXPECT_FALSE(usb.GetStringDescriptor(2).isEmpty());
    // The card-state packet is answered by exactly one byte; nothing else waits after it.
    ASSERT_TRUE(usb.BulkWrite(out, QByteArray(1, 5)));
    uint8_t reply[256];
    EXPECT_EQ(usb.BulkRead(in, reply, 256), 1);
    usb.UsbClose();
    EXPECT_FALSE(b.isOpen());
}

TEST_P(Hardware, ConnectAndIdentify) {
    TCom& c = link();
    c.Connect();
    ASSERT_TRUE(c.linkReady()) << qPrintable(host.errors.join("\n"));
    EXPECT_TRUE(host.errors.isEmpty()) << qPrintable(host.errors.join("\n"));
    if (target->real()) {
        EXPECT_FALSE(view.pane.isEmpty());
        if (!target->usb()) {
            EXPECT_EQ(view.pane, c.IdLine1 + " * " + c.IdLine2 + " *  Serial: " + c.IdLine3);
        }
    } else {
        EXPECT_EQ(view.pane, "STRAVINEX QXBASE * KELVANO BOX SIMULATOR *  Serial: SIM-000001");
        EXPECT_TRUE(c.IsQxBase);
    }
    c.Disconnect();
    EXPECT_FALSE(c.linkReady());
    EXPECT_EQ(view.pane, "");
}

TEST_P(Hardware, KeepAliveHoldsTheLink) {
    if (target->usb()) GTEST_SKIP() << "no keep-alive on a USB link";
    TCom& c = link();
    c.Connect();
    ASSERT_TRUE(c.linkReady());
    for (int tick = 0; tick < 3; ++tick) {
        QThread::msleep(1000);
        c.KeepAlive();
        EXPECT_EQ(c.MissCount, 0) << "tick " << tick;
    }
    EXPECT_TRUE(c.linkReady());
}

TEST_P(Hardware, CardDetection) {
    TCom& c = link();
    c.Connect();
    ASSERT_TRUE(c.linkReady());
    int state = -1;
    if (c.UsbConnected) {
        ASSERT_TRUE(c.usb().BulkWrite(c.PipeOut, QByteArray(1, 5)));
        uint8_t reply[256];
        ASSERT_EQ(c.usb().BulkRead(c.PipeIn, reply, 256), 1);
        state = reply[0];
    } else {
        QByteArray reply;
        const int n = c.Transact("K", reply, 0);
        ASSERT_GT(n, 0) << "no answer to \"K\"";
        bool ok = false;
        state = reply.toInt(&ok);
        ASSERT_TRUE(ok) << reply.constData();
    }
    const bool noCard = (state & 6) == 6;
    if (target->real()) {
        RecordProperty("card_state", state);
        if (target->card() > 0) {
            EXPECT_FALSE(noCard) << "KELVANO_TEST_CARD is set but the box sees no card";
        }
    } else {
        EXPECT_EQ(state, 0);
    }
}

// Program and data memory only: an external EEPROM behind a loader would cost the card its
// program.
TEST_P(Hardware, ReadTheInsertedCard) {
    if (target->card() <= 0) GTEST_SKIP() << "KELVANO_TEST_CARD names no card type";
    const QString name = QString::fromStdString(GetParam()) + "-read-card";
    const QString saved = QDir(target->folder()).filePath(name + ".bin");
    QString errors;
    const int status =
        cli(name, {"--memories", "prog,data", "read", "--save", "1=" + name + ".bin"}, &errors);
    EXPECT_EQ(status, 0) << qPrintable(errors);
    EXPECT_TRUE(errors.endsWith("READY\n")) << qPrintable(errors);
    QFile f(saved);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray bytes = f.readAll();
    const TDeviceEntry* card = findDevice(target->card());
    ASSERT_TRUE(card);
    EXPECT_EQ(bytes.size(), card->flashWords * 2);
    if (!target->real()) {
        EXPECT_EQ(bytes, QByteArray(bytes.size(), '\xFF'));  // a blank card
    }
}

TEST_P(Hardware, ProgramVerifyAndReadBack) {
    if (target->real() && env("KELVANO_TEST_WRITE") != QLatin1String("1"))
        GTEST_SKIP() << "changes the card: set KELVANO_TEST_WRITE=1 as well";
    if (target->card() <= 0) GTEST_SKIP() << "KELVANO_TEST_CARD names no card type";
    const TDeviceEntry* card = findDevice(target->card());
    ASSERT_TRUE(card);
    // Words of 14 bits (valid on PIC and AVR cards), every one different from its neighbours.
    QByteArray pattern;
    for (int w = 0; w < card->flashWords; ++w) {
        const int word = (w * 0x0123 + 0x0F) & 0x3FFF;
        pattern += char(word & 0xFF);
        pattern += char(word >> 8);
    }
    const QString name = QString::fromStdString(GetParam());
    const QString in = name + "-pattern.bin", back = name + "-read-back.bin";
    QFile f(QDir(target->folder()).filePath(in));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly) && f.write(pattern) == pattern.size());
    f.close();
    QString errors;
    EXPECT_EQ(cli(name + "-program-card",
                  {"--yes", "--memories", "prog", "--lock-bits", "none", "--load", "1=" + in,
                   "program", "--verify"},
                  &errors),
              0)
        << qPrintable(errors);
    EXPECT_EQ(
        cli(name + "-read-back", {"--memories", "prog", "read", "--save", "1=" + back}, &errors), 0)
        << qPrintable(errors);
    QFile r(QDir(target->folder()).filePath(back));
    ASSERT_TRUE(r.open(QIODevice::ReadOnly));
    EXPECT_EQ(r.readAll(), pattern);
}

INSTANTIATE_TEST_SUITE_P(Targets, Hardware, ::testing::Values("boxsim", "box"),
                         [](const auto& info) { return info.param; });

}  // namespace
}  // namespace kelvano::test
