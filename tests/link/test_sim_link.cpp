// The link against the simulated box: USB in virtual time through SimUsbBackend, the real port
// on kelvano-boxsim's pseudo-terminal (and kelvano-boxsim's options as its answers show them),
// and a damaged store named by kelvano-cli.
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <cstring>

#include "LinkFixture.h"
#include "cli/CliRun.h"
#include "link/QtSerialPortImpl.h"
#include "link/RecordingUsbBackend.h"
#include "sim/BoxWire.h"
#include "sim/SimUsbBackend.h"

namespace kelvano::test {
namespace {

// The connect sends 02 E0 20 and 01 00 twice and reads two answers. A box that queues its
// answers must not leave the next one stale: after the connect the card-state poll (05) reads
// this poll's answer with either kind of box. The empty slot answers 06.
using SimLink = LinkFixture;

TEST_F(SimLink, UsbConnectsWithItsPacketsAndItsAnswersStayInStep) {
    // The simulated box behind the USB driver, its traffic recorded.
    SimBox sim{SimBox::Model::Usb};
    SimUsbBackend simUsbBackend{sim};
    TranscriptRecorder recorder{clock};
    RecordingUsbBackend recordingUsb{simUsbBackend, recorder};
    store = ImageStore(ImageStore::builtInData());
    usb.setBackend(&recordingUsb);
    sim.removeCard();
    options.portIndex = 1;
    QTemporaryDir dir;
    for (bool queued : {false, true}) {
        SCOPED_TRACE(queued ? "queued" : "one buffer");
        simUsbBackend.setQueuedReplies(queued);
        view.debug.clear(), view.updates.clear();
        TCom& c = make();
        ASSERT_TRUE(recorder.start(dir.filePath("usb.txt"), {"kelvano", 26, {}}));
        c.Connect();
        ASSERT_TRUE(c.linkReady()) << host.errors.join("|").toStdString();
        EXPECT_EQ(view.pane, "STRAVINEX QXUSB");
        const QString sn = "51 58 55 53 42 20 53 49 4D 2D 30 30 30 30 30 33 " +
                           QString("00 ").repeated(15) + "00";  // "QXUSB SIM-000003"
        EXPECT_EQ(view.debug.value(0), "SNR: " + sn + ' ');
        EXPECT_EQ(view.debug.value(1),
                  queued ? "USB: 1 pending answer(s) dropped after the connect" : "");
        EXPECT_FALSE(c.keepAliveTimer().isActive());  // no keep-alive over USB
        for (const QByteArray& poll : {QByteArray("\x05", 1), QByteArray("\x06\x03", 2)}) {
            uint8_t answer[256] = {};
            ASSERT_TRUE(c.usb().BulkWrite(c.PipeOut, poll));
            const int n = c.usb().BulkRead(c.PipeIn, answer, 256);
            EXPECT_EQ(QByteArray(reinterpret_cast<const char*>(answer), n),
                      poll.size() == 1 ? QByteArray("\x06", 1) : QByteArray("\x06\x03", 2));
        }
        c.Disconnect();
        EXPECT_FALSE(simUsbBackend.isOpen());
        EXPECT_EQ(view.updates, (QStringList{"connected", "disconnected"}));
        recorder.stop();
        // The transcript has every packet and reply, in the documented lines.
        QStringList lines;
        for (const QString& line :
             QString::fromLatin1(readAll(dir.filePath("usb.txt"))).split('\n'))
            if (line.contains(QRegularExpression("^ *\\d+ usb-(open|close|out|in)( |$)")))
                lines << line.section(' ', 1, -1, QString::SectionSkipEmpty);
        const QString snText = "QXUSB SIM-000003" + QString(16, '.');
        const QStringList drain = queued ? QStringList{"usb-in 2 256 1 00 | .", "usb-in 2 256 fail"}
                                         : QStringList{"usb-in 2 256 fail"};
        const QStringList expected =
            QStringList{"usb-close",
                        "usb-open 0 ok",
                        "usb-out 1 ok 02 02 E0 20 | ...",
                        "usb-in 2 32 32 " + sn + " | " + snText,
                        "usb-out 1 ok 01 00 | ..",
                        "usb-out 1 ok 01 00 | ..",
                        "usb-in 2 32 1 00 | ."} +
            drain +
            QStringList{"usb-out 1 ok 05 | .", "usb-in 2 256 1 06 | .", "usb-out 1 ok 06 03 | ..",
                        "usb-in 2 256 2 06 03 | ..", "usb-close"};
        EXPECT_EQ(lines, expected);
    }
}

// Starts kelvano-boxsim with `args`; the pseudo-terminal it serves.
QString startBoxsim(QProcess& sim, const QStringList& args) {
    sim.start(QStringLiteral(KELVANO_BIN_DIR "/kelvano-boxsim"), args);
    while (sim.waitForStarted(5000) && !sim.canReadLine() && sim.waitForReadyRead(5000)) {
    }
    return QString::fromLocal8Bit(sim.readLine()).trimmed();
}

// The real port on a paced kelvano-boxsim: what it tells the DEBUG memo, how few reads a reply
// costs, and a wait that starts when the command has crossed the line.
TEST(RealSerialPort, LowLatencyRemarkChunkedReadsAndWaitsAfterTheLineTime) {
    QProcess sim;
    const QString tty = startBoxsim(sim, {"--baud", "1200"});
    QtSerialPortImpl port;
    port.open(tty, 1200);
    // A pseudo-terminal has no such setting: noted, not an error.
    EXPECT_EQ(port.openRemark(), "Serial port " + tty.mid(5) +
                                     ": no low latency from the driver (" +
                                     QString::fromLocal8Bit(std::strerror(ENOTTY)) + ")");

    // At 1200 baud the 8 bytes of the command take 67 ms to cross, the first answer byte 8 ms
    // more: a 40 ms wait that started at the write would be over before it came.
    port.write("QXAT!V#\r");
    EXPECT_EQ(port.readByte(40), 'S');
    // The answer came in one piece, as from a USB-serial adapter: the first read took all of
    // it, and the bytes after the first cost no read and no wait.
    const qint64 callsBefore = port.readCalls();
    QByteArray rest;
    QElapsedTimer t;
    t.start();
    for (int b; (b = port.readByte(150)) >= 0 && b != '>';) rest += char(b);
    EXPECT_TRUE(rest.startsWith("TRAVINEX QXBASE\rKELVANO BOX SIMULATOR\rSIM-000001"))
        << rest.constData();
    EXPECT_EQ(port.readCalls() - callsBefore, 0);
    EXPECT_LT(t.elapsed(), 100);
    // ... and the box answers the next command only once the line is free: the answer's 50
    // bytes take 417 ms at 1200 baud, after the 5 bytes of the command.
    port.write("QXAT\r");
    t.start();
    EXPECT_EQ(port.readByte(40), -1);
    EXPECT_EQ(port.readByte(600), '>');
    EXPECT_GE(t.elapsed(), 250);
    port.close();
    sim.terminate(), sim.waitForFinished(3000);
}

TEST(BoxSimProgram, ServesTheBoxOnAPseudoTerminalAsItsOptionsSay) {
    QProcess sim;
    QtSerialPortImpl port;
    port.open(
        startBoxsim(sim, {"--card", "22", "--fault", "noanswer,on=D,times=0", "--latency", "60"}),
        115200);
    EXPECT_EQ(prompt(port, "QXAT\r"), ">");
    EXPECT_TRUE(prompt(port, "QXAT!V#\r").startsWith("STRAVINEX QXBASE\r"));
    port.write("QXAT%\r");
    EXPECT_EQ(port.readByte(200), -1);  // command mode, nothing answered
    QElapsedTimer asked;
    asked.start();
    EXPECT_EQ(ask(port, "K", 500), "0");
    EXPECT_GE(asked.elapsed(), 60);              // --latency 60
    EXPECT_EQ(ask(port, "DTEST", 200), "none");  // --fault
    // --card 22: an AT90S2323, signature 1E 91 02.
    for (const auto& [frame, answer] :
         {std::pair{"M5", "ok"}, {"YAC530000", "5300"}, {"Y30000100", "0091"}})
        EXPECT_EQ(ask(port, frame, 500), answer) << frame;
    port.close();
    sim.terminate();
    ASSERT_TRUE(sim.waitForFinished(3000));
    EXPECT_TRUE(sim.exitStatus() == QProcess::NormalExit && sim.exitCode() == 0);
}

TEST(BoxSimProgram, RefusesBadOptionsNamingThem) {
    for (const auto& [args, message] :
         {std::pair{QStringList{"--latency", "1001"}, "kelvano-boxsim: bad latency 1001\n"},
          {QStringList{"--card", "16"}, "kelvano-boxsim: unknown card type 16\n"},
          {QStringList{"--fault", "late"}, "kelvano-boxsim: late needs a delay in ms: late=MS\n"},
          {QStringList{"--card", "10", "--load", "3=" KELVANO_TEST_DATA "/avr8515_flash.bin"},
           "kelvano-boxsim: card type 10 has no slot 3\n"}}) {
        QProcess sim;
        sim.start(QStringLiteral(KELVANO_BIN_DIR "/kelvano-boxsim"), args);
        ASSERT_TRUE(sim.waitForFinished(5000));
        EXPECT_EQ(sim.exitCode(), 2) << message;
        EXPECT_EQ(sim.readAllStandardError(), message);
    }
}

// A damaged store in the user's data folder is named by info and by an action that needs a
// loader, rather than taken for a store without those images.
TEST(InfoCommand, ADamagedStoreInTheDataFolderIsNamed) {
    QTemporaryDir home;
    QDir().mkpath(home.filePath("kelvano"));
    const QByteArray store = ImageStore::pack({{"AVRLOAD", QByteArray(64, 1)}, {"QXUSB", "u"}});
    const QString path = writeFile(home, "kelvano/kelvano.store", store.left(60));
    const QString problem = "The image store " + path +
                            " is damaged: the bytes of entry 1 (\"AVRLOAD\") lie beyond "
                            "the end of the file";
    const QByteArray oldHome = qgetenv("XDG_DATA_HOME");
    qputenv("XDG_DATA_HOME", home.path().toLocal8Bit());
    const CliRun info = cli({"--port", "SIM", "info"});
    const CliRun read = cli(
        {"--port", "SIM", "--card", "22", "--memories", "eeprom", "--no-wait", "--yes", "read"});
    qputenv("XDG_DATA_HOME", oldHome);
    EXPECT_EQ(info.code, 0);
    EXPECT_TRUE(
        info.out.contains("Firmware: not checked (the image store is damaged or unreadable)\n"
                          "Debug: " +
                          problem + ": firmware check skipped\n"))
        << info.out.toStdString();
    EXPECT_EQ(read.code, 1);
    EXPECT_TRUE(
        read.err.contains("The EEPROM loader \"AVRLOAD\" cannot be taken from the image "
                          "store. " +
                          problem + ". Nothing on the card was changed."))
        << read.err.toStdString();
}

}  // namespace
}  // namespace kelvano::test
