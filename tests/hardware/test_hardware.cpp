// The hardware suite: the port and USB contracts, connect and identify, the card in the box.
// "boxsim..." runs against a kelvano-boxsim terminal, "box" against the real box named by
// KELVANO_TEST_PORT (skipped without it); README.md tells how to run it on a real box.
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <memory>
#include <optional>

#include "cli/CliRun.h"
#include "device/uDevices.h"
#include "link/BoxInterface.h"
#include "link/LibusbBackend.h"
#include "link/LinkFixture.h"
#include "link/QtSerialPortImpl.h"
#include "link/RecordingSerialPort.h"
#include "link/RecordingUsbBackend.h"
#include "sim/BoxWire.h"
#include "sim/BoxsimWaits.h"
#include "sim/SimBox.h"
#include "sim/SimUsbBackend.h"

namespace kelvano::test {
namespace {

QString env(const char* name) { return QString::fromLocal8Bit(qgetenv(name)); }

class Hardware : public ::testing::TestWithParam<std::string> {
protected:
    void SetUp() override {
        if (real) {
            port = env("KELVANO_TEST_PORT"), card = env("KELVANO_TEST_CARD").toInt();
            if (port.isEmpty())
                GTEST_SKIP() << "KELVANO_TEST_PORT names no box (/dev/ttyUSB0, USB)";
            folder = env("KELVANO_TEST_TRANSCRIPTS");
            if (folder.isEmpty()) folder = QDir::current().filePath("kelvano-hardware-transcripts");
            QDir().mkpath(folder);
            return;
        }
        const QString param = QString::fromStdString(GetParam());
        card = param == "boxsim" ? 22 : param.mid(6).toInt(), folder = tmp.path();
        port = sim.emplace(QStringList{"--card", QString::number(card)}).pty;
        ASSERT_FALSE(port.isEmpty()) << "kelvano-boxsim did not start";
        usbBox = std::make_unique<SimBox>(SimBox::Model::Usb, card);  // kelvano-boxsim has no USB
    }
    void TearDown() override {
        if (com) com->Disconnect();
        recorder.stop();
    }
    bool isUsb() const { return port == QLatin1String("USB"); }
    QString own(const QString& name) const {
        return QString::fromStdString(GetParam()) + "-" + name;
    }
    QString file(const QString& name) const { return QDir(folder).filePath(own(name)); }
    QString transcript(const QString& name) const { return file(name + ".txt"); }
    // Every exchange of the USB backend recorded to the transcript `name`.
    UsbBackend& recordedUsb(const QString& name) {
        usbBackend = usbBox ? std::unique_ptr<UsbBackend>(new SimUsbBackend(*usbBox))
                            : std::make_unique<LibusbBackend>();
        recordingUsb = std::make_unique<RecordingUsbBackend>(*usbBackend, recorder);
        recorder.start(transcript(name), {"test_hardware", card, {}});
        return *recordingUsb;
    }
    // kelvano-cli against the target, recorded to a transcript that the suite can replay. It
    // runs in the transcripts' folder, so that the transcript replays beside the files it names.
    int cli(const QString& name, const QStringList& args) {
        const CliRun r = runProgram(
            "kelvano-cli",
            args + QStringList{"--port", port, "--card", QString::number(card), "--no-wait",
                               "--transcript", transcript(name), "--wait-factor",
                               QString::number(real ? 1 : kBoxsimWaitFactor)},
            {}, {}, folder, 600000);
        cliErrors = r.err;
        return r.code;
    }

    const bool real = GetParam() == "box";
    QString port, folder, cliErrors;
    int card = 0;
    QTemporaryDir tmp;
    std::optional<Boxsim> sim;
    std::unique_ptr<SimBox> usbBox;
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
    if (isUsb()) GTEST_SKIP() << "a USB box has no serial port";
    RecordingSerialPort p(makeSystemSerialPort(), recorder);
    recorder.start(transcript("port-contract"), {"test_hardware", card, {}});
    p.open(port, 115200);
    p.purge();
    // The box answers the prompt sync with '>', the first byte as soon as it is there.
    bool prompted = false;
    QElapsedTimer t;
    for (int attempt = 0; attempt < 100 && !prompted; ++attempt) {
        p.write("QXAT\r"), t.start();
        prompted = readUntil(p, '>', 15).endsWith('>');
    }
    ASSERT_TRUE(prompted) << "no '>' in 100 attempts";
    EXPECT_LT(t.elapsed(), 500);
    p.write("QXAT!V#\r");
    QByteArray id;
    for (int b; id.count('\r') < 3 && (b = p.readByte(150)) >= 0;) id += char(b);
    // Prompts of sync attempts that were answered late may come first; then the model.
    const QRegularExpression identity("^[>\r\n]*(STRAVINEX|QX)");
    EXPECT_TRUE(id.count('\r') == 3 && identity.match(QString::fromLatin1(id)).hasMatch())
        << id.constData();
    // Purge discards what has arrived; a read on a silent line gives up after its time-out.
    p.write("QXAT!V#\r");
    QThread::msleep(200);
    p.purge();
    t.start();
    EXPECT_EQ(p.readByte(90), -1);
    EXPECT_TRUE(t.elapsed() >= 85 && t.elapsed() < 600) << t.elapsed();
    EXPECT_NO_THROW(p.setRts(true));  // a terminal without modem lines is no fault
    p.close();
    EXPECT_THROW(p.write("x"), PortError);
    EXPECT_THROW(p.readByte(10), PortError);
}

TEST_P(Hardware, UsbContract) {
    if (!isUsb() && real) GTEST_SKIP() << "a serial box has no USB face";
    UsbBackend& b = recordedUsb("usb-contract");
    TUsb usb(&b);
    ASSERT_TRUE(usb.UsbOpen("ezusb")) << "no USB box attached (or no access to it)";
    ASSERT_TRUE(usb.GetPipeInfo());
    const int in = usb.FindPipe(0x82), out = usb.FindPipe(0x02);
    EXPECT_TRUE(in >= 0 && out >= 0);
    EXPECT_FALSE(usb.GetStringDescriptor(2).isEmpty());
    // The card-state packet is answered by exactly one byte; nothing else waits after it.
    ASSERT_TRUE(usb.BulkWrite(out, QByteArray(1, 5)));
    uint8_t reply[256];
    EXPECT_EQ(usb.BulkRead(in, reply, 256), 1);
    EXPECT_EQ(usb.DrainIn(in, 50), 0);
    usb.UsbClose();
    EXPECT_FALSE(b.isOpen());
}

// Over a serial link the keep-alive then holds the link for three ticks (none on USB).
TEST_P(Hardware, ConnectIdentifyCardStateAndKeepAlive) {
    options.ports = {port}, options.portIndex = 0;
    options.waitFactor = real ? 1 : kBoxsimWaitFactor;  // the real box: its own times
    usb.setBackend(&recordedUsb("connect"));
    com = std::make_unique<TCom>(
        host, clock, view, options, usb,
        RecordingSerialPort::wrap([](const QString&) { return makeSystemSerialPort(); }, recorder),
        ImageStore(ImageStore::builtInData()));
    TCom& c = *com;
    c.Connect();
    ASSERT_TRUE(c.linkReady() && host.errors.isEmpty()) << qPrintable(host.errors.join('\n'));
    const QString id = c.IdLine1 + " * " + c.IdLine2 + " *  Serial: " + c.IdLine3;
    EXPECT_EQ(view.pane, real ? (isUsb() ? view.pane : id)
                              : "STRAVINEX QXBASE * KELVANO BOX SIMULATOR *  Serial: SIM-000001");
    EXPECT_FALSE(view.pane.isEmpty());

    const CardPoll poll = makeBox(c)->pollCard();
    ASSERT_TRUE(poll.answered) << "no answer to the card-state poll";
    RecordProperty("card_state", poll.state);
    EXPECT_FALSE(card > 0 && (poll.state < 0 || (poll.state & 6) == 6))
        << "a card type is named but the box sees no card";
    EXPECT_TRUE(real || poll.state == 0) << poll.state;
    for (int tick = 0; tick < 3 && !isUsb(); ++tick) {
        QThread::msleep(1000);
        c.KeepAlive();
        EXPECT_TRUE(c.MissCount == 0 && c.linkReady()) << "tick " << tick;
    }
    c.Disconnect();
    EXPECT_TRUE(!c.linkReady() && view.pane.isEmpty());
}

using HardwareCard = Hardware;

// Program memory written with a pattern (on a real box only with KELVANO_TEST_WRITE=1), then
// program and data memory read back (not an external EEPROM: its loader would cost the program).
// A card type that no action handles (the ATmega161 card) is refused before the box is asked.
TEST_P(HardwareCard, ProgramVerifyAndReadBack) {
    if (card <= 0) GTEST_SKIP() << "KELVANO_TEST_CARD names no card type";
    const TDeviceEntry* entry = findDevice(card);
    ASSERT_TRUE(entry) << "no card type " << card;
    const bool write = !real || env("KELVANO_TEST_WRITE") == QLatin1String("1");
    // Words of 14 bits (valid on PIC and AVR cards), every one different from its neighbours.
    QByteArray pattern;
    for (int w = 0; w < entry->flashWords; ++w) {
        const int word = (w * 0x0123 + 0x0F) & 0x3FFF;
        pattern += char(word & 0xFF), pattern += char(word >> 8);
    }
    QFile f(file("pattern.bin"));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly) && f.write(pattern) == pattern.size() && f.flush());
    if (write && entry->actions) {
        EXPECT_EQ(cli("program-card", {"--yes", "--memories", "prog", "--lock-bits", "none",
                                       "--load", "1=" + own("pattern.bin"), "program", "--verify"}),
                  0)
            << qPrintable(cliErrors);
    }
    const int status = cli(
        "read-back", {"--memories", "prog,data", "read", "--save", "1=" + own("read-back.bin")});
    if (!entry->actions) {
        EXPECT_EQ(status, 2);
        EXPECT_TRUE(
            cliErrors.startsWith(QString("kelvano-cli: no action handles card type %1").arg(card)))
            << qPrintable(cliErrors);
        return;
    }
    EXPECT_EQ(status, 0) << qPrintable(cliErrors);
    EXPECT_TRUE(cliErrors.endsWith("READY\n")) << qPrintable(cliErrors);
    // A PIC file goes on after the program words: ID words at 0x4000, the configuration word
    // at 0x400E, the data EEPROM at 0x4200 (one byte a word), at least to 0x4280.
    const QByteArray back = readAll(file("read-back.bin"));
    EXPECT_EQ(back.size(), entry->pic() ? 0x4200 + 2 * std::max(64, entry->internalEepromBytes)
                                        : entry->flashWords * 2);
    if (write) {
        EXPECT_EQ(back.left(pattern.size()), pattern);
    }
    if (real || !entry->pic()) return;
    // The simulated card's data EEPROM is blank.
    EXPECT_EQ(back.mid(0x4200, 2 * qsizetype(entry->internalEepromBytes)),
              QByteArray::fromHex("FF00").repeated(entry->internalEepromBytes));
}

// The system port on a pseudo-terminal, a line far faster than its nominal speed: a purge
// right after a write keeps the command, and writes do not push the wait for a reply later.
TEST(SystemPort, APurgeSendsWhatWasWrittenAndAFastLineKeepsNoLead) {
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_TRUE(master >= 0 && ::grantpt(master) == 0 && ::unlockpt(master) == 0);
    const QString slave = QString::fromLocal8Bit(::ptsname(master));
    QByteArray got;
    const auto take = [&](int ms) {
        char buffer[4096];
        for (pollfd p{master, POLLIN, 0}; ::poll(&p, 1, ms) > 0;) {
            const ssize_t n = ::read(master, buffer, sizeof buffer);
            if (n <= 0) break;
            got.append(buffer, n);
        }
    };
    const auto port = makeSystemSerialPort();
    port->open(slave, 9600);  // 1.04 ms a byte
    for (int i = 0; i < 200; ++i) {
        port->write("@Y48013721");
        port->purge();
        take(0);
    }
    take(100);
    EXPECT_EQ(got.count("@Y48013721"), 200);
    // 2000 more bytes, 2 s at 9600 baud, taken at once by the other side.
    for (int i = 0; i < 200; ++i) port->write("@R04@R04@*"), take(0);
    QElapsedTimer t;
    t.start();
    EXPECT_EQ(port->readByte(30), -1);
    EXPECT_TRUE(t.elapsed() >= 29 && t.elapsed() < 200) << t.elapsed();
    port->close();
    ::close(master);
}

INSTANTIATE_TEST_SUITE_P(Targets, Hardware, ::testing::Values("boxsim", "box"),
                         [](const auto& info) { return info.param; });
INSTANTIATE_TEST_SUITE_P(Targets, HardwareCard,
                         ::testing::Values("boxsim10", "boxsim11", "boxsim12", "boxsim13",
                                           "boxsim14", "boxsim15", "boxsim20", "boxsim21",
                                           "boxsim22", "boxsim23", "boxsim24", "boxsim25",
                                           "boxsim26", "boxsim30", "boxsim31", "box"),
                         [](const auto& info) { return info.param; });

}  // namespace
}  // namespace kelvano::test
