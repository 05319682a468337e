// The link against the simulated box: USB in virtual time through SimUsbBackend (its transcripts
// replayed by kelvano-cli) and the real port on kelvano-boxsim's pseudo-terminal.
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
#include "sim/ReplayScript.h"
#include "sim/SimUsbBackend.h"

namespace kelvano::test {
namespace {

// The simulated USB box behind the USB driver, its traffic recorded.
class SimLink : public LinkFixture {
protected:
    void SetUp() override {
        LinkFixture::SetUp();
        store = ImageStore(ImageStore::builtInData());
        usb.setBackend(&recording);
        options.portIndex = 1;
    }
    SimBox sim{SimBox::Model::Usb, 22};
    SimUsbBackend simUsbBackend{sim};
    TranscriptRecorder recorder{clock};
    RecordingUsbBackend recording{simUsbBackend, recorder};
    QTemporaryDir dir;
    QString file = dir.filePath("usb-info.txt");

    // Connects to the simulated USB box (card 22) as "kelvano-cli --card 22 info" does,
    // every request written to `path`; returns what that command prints.
    QString record(const QString& path) {
        EXPECT_TRUE(recorder.start(path, {"kelvano-cli", 22, "--card 22 info"}));
        view.debug.clear();
        make().Connect();
        EXPECT_TRUE(com->linkReady()) << host.errors.join('\n').toStdString();
        QString printed = "Box: " + view.pane + '\n';
        for (const QString& line : view.debug) printed += "Debug: " + line + '\n';
        com->Disconnect();
        recorder.stop(0);
        return printed;
    }

    // The transcript with the first line that starts with `prefix` (after the time) replaced
    // by `replacement`; returns that line's number.
    int edit(const QString& prefix, const QString& replacement) {
        QList<QByteArray> lines = readAll(file).split('\n');
        for (int i = 0; i < lines.size(); ++i) {
            const QString event =
                QString::fromUtf8(lines.at(i)).section(' ', 1, -1, QString::SectionSkipEmpty);
            if (!event.startsWith(prefix)) continue;
            lines[i] = QStringLiteral("%1 %2").arg(0, 6).arg(replacement).toUtf8();
            writeFile(dir, "usb-info.txt", lines.join('\n'));
            return i + 1;
        }
        return 0;
    }
};

// The connect sends 02 E0 20 and 01 00 twice and reads two answers. A box that queues its
// answers must not leave the next one stale: after the connect the card-state poll (05) reads
// this poll's answer with either kind of box. The empty slot answers 06.
TEST_F(SimLink, UsbConnectsWithItsPacketsAndItsAnswersStayInStep) {
    sim.removeCard();
    const QString sn = "51 58 55 53 42 20 53 49 4D 2D 30 30 30 30 30 33 " +
                       QString("00 ").repeated(15) + "00";  // "QXUSB SIM-000003"
    for (bool queued : {false, true}) {
        SCOPED_TRACE(queued ? "queued" : "one buffer");
        simUsbBackend.setQueuedReplies(queued);
        view.debug.clear(), view.updates.clear();
        TCom& c = make();
        ASSERT_TRUE(recorder.start(dir.filePath("usb.txt"), {"kelvano", 26, {}}));
        c.Connect();
        ASSERT_TRUE(c.linkReady()) << host.errors.join("|").toStdString();
        EXPECT_EQ(view.pane, "STRAVINEX QXUSB");
        QStringList debug{"SNR: " + sn + ' '};
        if (queued) debug << "USB: 1 pending answer(s) dropped after the connect";
        EXPECT_EQ(view.debug, debug);
        EXPECT_FALSE(c.keepAliveTimer().isActive());  // no keep-alive over USB
        uint8_t answer[256];                          // the answers: in the transcript
        for (const QByteArray& poll : {QByteArray("\x05", 1), QByteArray("\x06\x03", 2)})
            ASSERT_TRUE(c.usb().BulkWrite(c.PipeOut, poll) &&
                        c.usb().BulkRead(c.PipeIn, answer, 256) > 0);
        c.Disconnect();
        EXPECT_EQ(view.updates, (QStringList{"connected", "disconnected"}));
        recorder.stop();
        QStringList lines = QString::fromLatin1(readAll(dir.filePath("usb.txt")))
                                .split('\n')
                                .filter(QRegularExpression("^ *\\d+ usb-(open|close|out|in)( |$)"));
        lines.replaceInStrings(QRegularExpression("^ *\\d+ | +$"), {});  // time, a last space
        QStringList expected{"usb-close",
                             "usb-open 0 ok",
                             "usb-out 1 ok 02 02 E0 20 | ...",
                             "usb-in 2 32 32 " + sn + " | QXUSB SIM-000003" + QString(16, '.'),
                             "usb-out 1 ok 01 00 | ..",
                             "usb-out 1 ok 01 00 | ..",
                             "usb-in 2 32 1 00 | .",
                             "usb-in 2 256 fail",
                             "usb-out 1 ok 05 | .",
                             "usb-in 2 256 1 06 | .",
                             "usb-out 1 ok 06 03 | ..",
                             "usb-in 2 256 2 06 03 | ..",
                             "usb-close"};
        if (queued) expected.insert(7, "usb-in 2 256 1 00 | .");  // the stale answer, drained
        EXPECT_EQ(lines, expected);
    }
}

// USB transcripts replayed: kelvano-cli --port USB --replay FILE answers as the USB box did in
// FILE, here a connect recorded on the simulated USB box as "kelvano-cli --card 22 info" makes it.
using UsbReplay = SimLink;

// A recording replays to the same run. Edited, one edit at a time: a changed answer changes the
// run as it demands; a request that departs, or a run that ends before the transcript does,
// fails naming the line of the transcript (the edited line plus `shift`); a malformed line is
// refused.
TEST_F(UsbReplay, ARecordedRunReplaysToTheSameRunAndAnEditedOneChangesOrFailsIt) {
    const QString printed = record(file);
    const QString again = dir.filePath("again.txt");
    const CliRun r =
        cli({"--card", "22", "info", "--port", "USB", "--replay", file, "--transcript", again});
    EXPECT_EQ(r.code, 0) << qPrintable(r.err);
    EXPECT_EQ(r.err, QString());
    EXPECT_EQ(r.out, printed + "Store: the image store built into the program\n");

    // The replayed run's own transcript holds the same requests and replies.
    const auto requests = [](const QString& path) {
        QStringList out;
        const ReplayScript script = ReplayScript::load(path, nullptr).value_or(ReplayScript{});
        for (const auto& item : script.usbItems)
            out << QString::number(int(item.kind)) + ' ' + item.bytes.toHex();
        return out;
    };
    EXPECT_GT(requests(file).size(), 6);
    EXPECT_EQ(requests(again), requests(file));

    // A serial transcript, or a USB one with --port SIM, is refused.
    const QString serial =
        writeFile(dir, "serial.txt", "# kelvano-transcript 1\n     0 tx 51 58 41 54 0D | QXAT.\n");
    for (const auto& [args, err] :
         {std::pair{QStringList{"info", "--port", "USB", "--replay", serial},
                    "is a serial transcript: replay it with kelvano-boxsim --replay"},
          {QStringList{"info", "--port", "SIM", "--replay", file}, "needs --port USB"}}) {
        const CliRun refused = cli(args);
        EXPECT_EQ(refused.code, 1);
        EXPECT_TRUE(refused.err.contains(QLatin1String(err))) << qPrintable(refused.err);
    }

    const struct {
        QList<QPair<QString, QString>> edits;  // the first line starting so, replaced
        int status, shift;
        QString out, err;  // the start of standard output; a part of standard error
    } cases[] = {
        // clang-format off
        // The box's name, string descriptor 2, is 14 bytes long and reads "QXTEST".
        {{{"usb-string 2 1 ", "usb-string 2 1 ok 0E"},
          {"usb-string 2 32 ", "usb-string 2 14 ok 0E 03 51 00 58 00 54 00 45 00 53 00 54 00"}},
         0, 0, "Box: QXTEST", ""},
        // The name's length alone changed: the program asks for another length.
        {{{"usb-string 2 1 ", "usb-string 2 1 ok 0E"}}, 1, 1, "",
         "line %1: the program made the request usb-string 2 14 where the transcript has usb-string 2 32"},
        // A box that does not open: the rest of the transcript is left over.
        {{{"usb-open 0 ok", "usb-open 0 fail"}}, 1, 0, "",
         "the program made the request usb-open 1 where the transcript has usb-pipes"},
        {{{"usb-out 1 ok 02 02 E0 20", "usb-out 1 ok 02 02 E0 21"}}, 1, 0, "",
         "usb-info.txt line %1: the program sent 02 02 E0 20 on pipe 1 where the transcript has 02 02 E0 21"},
        // The recorded box was asked once more before it was closed; this run does not ask.
        {{{"usb-in 2 256 fail", "usb-in 2 256 fail\n     0 usb-in 2 256 fail"}}, 1, 1, "Box: ",
         "line %1: the program made the request usb-close where the transcript has usb-in 2 256"},
        {{{"usb-in ", "usb-in 2 32 3 01 02"}}, 1, 0, "", "line %1: malformed usb-in line"},
        // clang-format on
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.edits.first().second.toStdString());
        record(file);
        QList<int> edited;  // the lines
        for (const auto& [prefix, replacement] : c.edits) edited << edit(prefix, replacement);
        ASSERT_FALSE(edited.contains(0));
        const CliRun r = cli({"--card", "22", "info", "--port", "USB", "--replay", file});
        EXPECT_EQ(r.code, c.status) << qPrintable(r.err);
        EXPECT_TRUE(c.out.isEmpty() || r.out.startsWith(c.out)) << qPrintable(r.out);
        EXPECT_TRUE(
            r.err.contains(QString(c.err).replace("%1", QString::number(edited[0] + c.shift))))
            << qPrintable(r.err);
    }
}

// The real port on a paced kelvano-boxsim: what it tells the DEBUG memo, how few reads a reply
// costs, and a wait that starts when the command has crossed the line.
TEST(RealSerialPort, LowLatencyRemarkChunkedReadsAndWaitsAfterTheLineTime) {
    const Boxsim sim({"--baud", "1200"});
    QtSerialPortImpl port;
    port.open(sim.pty, 1200);
    // A pseudo-terminal has no such setting: noted, not an error.
    EXPECT_EQ(port.openRemark(), "Serial port " + sim.pty.mid(5) +
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
}

// --latency delays every answer, a terminate ends the box cleanly, and bad options are refused by
// name. (Its --card and --fault: the silent-box table of CliLink in tests/cli.)
TEST(BoxSimProgram, ServesTheBoxAsItsOptionsSayAndRefusesBadOnes) {
    Boxsim sim({"--latency", "60"});
    QtSerialPortImpl port;
    port.open(sim.pty, 115200);
    EXPECT_EQ(prompt(port, "QXAT\r"), ">");
    port.write("QXAT%\r");
    EXPECT_EQ(port.readByte(200), -1);  // command mode, nothing answered
    QElapsedTimer asked;
    asked.start();
    EXPECT_EQ(ask(port, "K", 500), "0");
    EXPECT_GE(asked.elapsed(), 60);
    port.close();
    sim.process.terminate();
    ASSERT_TRUE(sim.process.waitForFinished(3000));
    EXPECT_TRUE(sim.process.exitStatus() == QProcess::NormalExit && sim.process.exitCode() == 0);

    for (const auto& [args, message] :
         {std::pair{QStringList{"--latency", "1001"}, "kelvano-boxsim: bad latency 1001\n"},
          {QStringList{"--card", "16"}, "kelvano-boxsim: unknown card type 16\n"},
          {QStringList{"--fault", "late"}, "kelvano-boxsim: late needs a delay in ms: late=MS\n"},
          {QStringList{"--card", "10", "--load", "3=" KELVANO_TEST_DATA "/avr8515_flash.bin"},
           "kelvano-boxsim: card type 10 has no slot 3\n"}}) {
        const CliRun r = runProgram("kelvano-boxsim", args);
        EXPECT_EQ(r.code, 2) << message;
        EXPECT_EQ(r.err, message);
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
