// Recorded transcripts replayed end to end: kelvano-boxsim --replay plays the box, kelvano-cli
// runs the recorded command against its terminal.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <optional>

#include "cli/CliRun.h"

namespace kelvano {
inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }
namespace {

const QString kFolder = QStringLiteral(KELVANO_TEST_DATA "/../transcripts");

QString headerValue(const QByteArray& transcript, const QString& key) {
    const QRegularExpression re("^# " + key + ": (.*)$", QRegularExpression::MultilineOption);
    return re.match(QString::fromUtf8(transcript)).captured(1).trimmed();
}

// How `p` ended within `ms`: its exit status (-1 when it had to be stopped) and standard error.
CliRun finish(QProcess& p, int ms) {
    if (!p.waitForFinished(ms)) p.terminate(), p.waitForFinished(3000);
    const bool ended = p.exitStatus() == QProcess::NormalExit && p.state() == QProcess::NotRunning;
    return {ended ? p.exitCode() : -1, {}, QString::fromLocal8Bit(p.readAllStandardError())};
}

bool isUsbTranscript(const QString& path) { return readAll(path).contains(" usb-"); }

// kelvano-cli running `command` in `workDir` against kelvano-boxsim replaying `transcript`
// (the simulated box in process when there is none; for a USB transcript kelvano-cli's own
// replay of the USB box), and how the two ended (the box: status 0 when none ran).
std::pair<CliRun, CliRun> replay(const QString& transcript, const QString& command,
                                 const QString& workDir, const QStringList& extra = {}) {
    const bool usb = !transcript.isEmpty() && isUsbTranscript(transcript);
    std::optional<Boxsim> box;
    if (!usb && !transcript.isEmpty()) box.emplace(QStringList{"--replay", transcript});
    const QStringList port = usb ? QStringList{"--port", "USB", "--replay", transcript}
                                 : QStringList{"--port", box ? box->pty : "SIM"};
    const CliRun c =
        runProgram("kelvano-cli", command.split(' ', Qt::SkipEmptyParts) + port + extra, {}, {},
                   workDir, 120000);
    // The box ends by itself a second after the last exchange or the departure.
    return {c, box ? finish(box->process, 10000) : CliRun{0, {}, {}}};
}

// Every transcript in sim/ (made with the simulated box) and real/ (sent in by users of real
// boxes), and one recorded now, replays byte for byte to the end and to its recorded exit status.
TEST(Transcripts, EveryTranscriptReplaysToAnIdenticalRun) {
    QTemporaryDir tmp;
    const QString fresh = tmp.filePath("fresh.txt");
    const QString command = "--card 22 --no-wait --memories data read";
    ASSERT_EQ(replay({}, command, tmp.path(), {"--transcript", fresh}).first.code, 0);
    const QByteArray header = readAll(fresh);
    EXPECT_EQ(headerValue(header, "command") + '|' + headerValue(header, "card") + '|' +
                  headerValue(header, "result"),
              command + "|22|0");
    EXPECT_GT(header.count("\n") - header.count("\n#"), 100);  // lines of exchanges

    QStringList all{fresh};
    for (const QString sub : {"sim", "real"}) {
        const QDir dir(kFolder + '/' + sub);
        for (const QString& name : dir.entryList({"*.txt"}, QDir::Files, QDir::Name))
            all << dir.filePath(name);
    }
    EXPECT_GE(all.size(), 4);
    for (const QString& path : all) {
        SCOPED_TRACE(path.toStdString());
        const QByteArray text = readAll(path);
        const QString command = headerValue(text, "command");
        ASSERT_FALSE(command.isEmpty()) << "no \"# command:\" line: record it with kelvano-cli";
        // In a folder of its own with the files beside the transcript (images it loads), so
        // that what it saves never lands in the source tree.
        QTemporaryDir work;
        const QDir dir = QFileInfo(path).dir();
        for (const QString& data : dir.entryList(QDir::Files))
            if (!data.endsWith(".txt") && !data.endsWith(".md"))
                QFile::copy(dir.filePath(data), work.filePath(data));
        const auto [cli, sim] = replay(path, command, work.path());
        if (isUsbTranscript(path)) {
            // kelvano-cli names the line where a USB replay departs or stops early.
            EXPECT_FALSE(cli.err.contains(path + " line ")) << qPrintable(cli.err);
        } else {
            EXPECT_EQ(sim.code, 0) << qPrintable(sim.err);
            EXPECT_TRUE(sim.err.endsWith("played to the end\n")) << qPrintable(sim.err);
        }
        EXPECT_EQ(QString::number(cli.code), headerValue(text, "result")) << qPrintable(cli.err);
    }
}

// The blank check of card 10 in sim/ with one answer changed: word 0x63 of program memory
// reads 3FFE instead of 3FFF (the 101st 3FFF; the first is the device ID read).
TEST(Transcripts, AChangedAnswerShowsWithTheLineOfTheTranscript) {
    QTemporaryDir tmp;
    const QByteArray from = "rx 04 33 46 46 46 | .3FFF";
    QList<QByteArray> lines = readAll(kFolder + "/sim/blank-check-card10.txt").split('\n');
    int seen = 0;
    for (QByteArray& line : lines)
        if (line.contains(from) && ++seen == 101) line.replace(from, "rx 04 33 46 46 45 | .3FFE");
    const QString path = writeFile(tmp, "edited.txt", lines.join('\n'));
    const auto [cli, sim] = replay(path, "--card 10 --no-wait --memories prog blank", tmp.path());
    EXPECT_EQ(cli.code, 1);
    EXPECT_TRUE(cli.err.contains("Device not blank at $0063")) << qPrintable(cli.err);
    // The check stops there, so the program's next frame is not the next read.
    EXPECT_EQ(sim.code, 1);
    EXPECT_TRUE(sim.err.contains(path + " line 681: the program sent \"@M\" (40 4D) where the "
                                        "transcript has \"@R04\" (40 52 30 34)"))
        << qPrintable(sim.err);
}

// A program that closes the terminal before the transcript's end, or never speaks, ends the
// replay with the place it was left and status 1, at once or after the --silence limit.
TEST(Transcripts, AReplayEndsWhenTheProgramClosesTheLineOrFallsSilent) {
    const QString read = kFolder + "/sim/read-card22.txt";
    Boxsim sim({"--replay", read}), idle({"--replay", read, "--silence", "1"});
    // info connects as the read did, then lets go of the line. Each replay ends by itself, well
    // before finish() would stop it (status -1).
    const CliRun info = cli({"--card", "22", "info", "--port", sim.pty});
    EXPECT_EQ(info.code, 0) << qPrintable(info.err);
    for (const auto& [box, place] :
         {std::pair{&sim,
                    " line 18: the program closed the line; the transcript has \"@M0\" (40 4D "
                    "30) next\n"},
          {&idle,
           " line 8: the program sent nothing for 1 s; the transcript has \"QXAT.\" (51 "
           "58 41 54 0D) next\n"}}) {
        const CliRun ended = finish(box->process, box == &sim ? 5000 : 10000);
        EXPECT_EQ(ended.code, 1);
        EXPECT_EQ(ended.err, "kelvano-boxsim: " + read + place);
    }
}

}  // namespace
}  // namespace kelvano
