// USB transcripts replayed: kelvano-cli --port USB --replay FILE answers as the USB box did in
// FILE. The transcript is recorded here against the simulated USB box with the classes
// kelvano-cli uses, for the command "--card 22 info"; kelvano-cli then runs that command on it.
#include <gtest/gtest.h>

#include <QProcess>
#include <QTemporaryDir>

#include "cli/CliRun.h"
#include "link/LinkFixture.h"
#include "link/RecordingUsbBackend.h"
#include "sim/ReplayScript.h"
#include "sim/SimBox.h"
#include "sim/SimUsbBackend.h"

namespace kelvano {
namespace {

class UsbReplay : public test::LinkFixture {
protected:
    // Connects to the simulated USB box (card 22) as "kelvano-cli --card 22 info" does,
    // every request written to `path`; returns what that command prints.
    QString record(const QString& path) {
        SimBox simBox(SimBox::Model::Usb, 22);
        SimUsbBackend sim(simBox);
        TranscriptRecorder recorder(clock);
        EXPECT_TRUE(recorder.start(path, {"kelvano-cli", 22, "--card 22 info"}));
        RecordingUsbBackend recording(sim, recorder);
        usb.setBackend(&recording);
        options.portIndex = 1, view.debug.clear();
        store = ImageStore(ImageStore::builtInData());
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

    QTemporaryDir dir;
    QString file = dir.filePath("usb-info.txt");
};

TEST_F(UsbReplay, ARecordedRunReplaysToTheSameRunAndItsEnd) {
    const QString printed = record(file);
    ASSERT_TRUE(printed.contains(QStringLiteral("Debug: SNR: 51 58 55 53 42")))
        << qPrintable(printed);
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
}

// One recording edited at a time: a changed answer changes the run as it demands; a request
// that departs, or a run that ends before the transcript does, fails naming the line of the
// transcript (the edited line plus `shift`); a malformed line is refused.
TEST_F(UsbReplay, AnEditedTranscriptChangesOrFailsTheRun) {
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
        int line = 0;
        for (const auto& [prefix, replacement] : c.edits) {
            const int edited = edit(prefix, replacement);
            ASSERT_GT(edited, 0);
            if (!line) line = edited;
        }
        const CliRun r = cli({"--card", "22", "info", "--port", "USB", "--replay", file});
        EXPECT_EQ(r.code, c.status) << qPrintable(r.err);
        EXPECT_TRUE(c.out.isEmpty() || r.out.startsWith(c.out)) << qPrintable(r.out);
        EXPECT_TRUE(c.err.isEmpty() ? r.code == 0
                                    : r.err.contains(QString(c.err).replace(
                                          "%1", QString::number(line + c.shift))))
            << qPrintable(r.err);
    }
}

// A serial transcript, or a USB one with --port SIM.
TEST_F(UsbReplay, WhatCannotBeReplayedIsRefused) {
    record(file);
    const QString serial =
        writeFile(dir, "serial.txt", "# kelvano-transcript 1\n     0 tx 51 58 41 54 0D | QXAT.\n");
    for (const auto& [args, err] :
         {std::pair{QStringList{"info", "--port", "USB", "--replay", serial},
                    "is a serial transcript: replay it with kelvano-boxsim --replay"},
          {QStringList{"info", "--port", "SIM", "--replay", file}, "needs --port USB"}}) {
        const CliRun r = cli(args);
        EXPECT_EQ(r.code, 1);
        EXPECT_TRUE(r.err.contains(QLatin1String(err))) << qPrintable(r.err);
    }
}

}  // namespace
}  // namespace kelvano
