// Recorded transcripts replayed end to end: kelvano-boxsim --replay plays the box, kelvano-cli
// runs the recorded command against its terminal. Every transcript in sim/ (made with the
// simulated box) and real/ (sent in by users of real boxes) must replay to its recorded
// result; a changed answer or a changed command must show.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

namespace kelvano {
inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }
namespace {

const QString kFolder = QStringLiteral(KELVANO_TEST_DATA "/../transcripts");

struct Replayed {
    int cliStatus = -1, simStatus = -1;
    QString cliErrors, simErrors;
};

QString headerValue(const QByteArray& transcript, const QString& key) {
    const QRegularExpression re(QStringLiteral("^# %1: (.*)$").arg(key),
                                QRegularExpression::MultilineOption);
    return re.match(QString::fromUtf8(transcript)).captured(1).trimmed();
}

// Replays `transcript` (a file) to kelvano-cli running `command` in `workDir`; with `record`
// the new run is recorded there.
Replayed replay(const QString& transcript, const QString& command, const QString& workDir,
                const QString& record = {}) {
    Replayed r;
    QProcess sim;
    sim.start(QStringLiteral(KELVANO_BIN_DIR "/kelvano-boxsim"), {"--replay", transcript});
    while (sim.waitForStarted(5000) && !sim.canReadLine() && sim.waitForReadyRead(5000)) {
    }
    const QString pty = QString::fromLocal8Bit(sim.readLine()).trimmed();
    if (pty.isEmpty()) {
        r.simErrors = QString::fromLocal8Bit(sim.readAllStandardError());
        return r;
    }
    QStringList args = command.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    args << "--port" << pty;
    if (!record.isEmpty()) args << "--transcript" << record;
    QProcess cli;
    cli.setWorkingDirectory(workDir);
    cli.start(QStringLiteral(KELVANO_BIN_DIR "/kelvano-cli"), args);
    if (cli.waitForFinished(120000)) r.cliStatus = cli.exitCode();
    r.cliErrors = QString::fromLocal8Bit(cli.readAllStandardError());
    // The box ends by itself a second after the last exchange or the departure.
    if (!sim.waitForFinished(10000)) sim.terminate(), sim.waitForFinished(3000);
    r.simStatus = sim.exitStatus() == QProcess::NormalExit ? sim.exitCode() : -1;
    r.simErrors = QString::fromLocal8Bit(sim.readAllStandardError());
    return r;
}

QByteArray readFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// The events of a transcript without their times and without the port's name: what two runs
// of the same command must share.
QStringList exchanges(const QByteArray& transcript) {
    QStringList out;
    for (const QByteArray& raw : transcript.split('\n')) {
        const QString line = QString::fromUtf8(raw).trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#'))) continue;
        QString event = line.section(QLatin1Char(' '), 1, -1, QString::SectionSkipEmpty);
        if (event.startsWith(QLatin1String("open "))) event = QStringLiteral("open");
        out << event;
    }
    return out;
}

TEST(Transcripts, EveryCarriedTranscriptReplaysToItsRecordedResult) {
    int replayed = 0;
    for (const char* sub : {"sim", "real"}) {
        QDir dir(kFolder + QLatin1Char('/') + QLatin1String(sub));
        for (const QString& name : dir.entryList({"*.txt"}, QDir::Files, QDir::Name)) {
            SCOPED_TRACE((QLatin1String(sub) + QLatin1Char('/') + name).toStdString());
            const QByteArray text = readFile(dir.filePath(name));
            const QString command = headerValue(text, QStringLiteral("command"));
            ASSERT_FALSE(command.isEmpty()) << "no \"# command:\" line: record it with kelvano-cli";
            // In a folder of its own with the files beside the transcript (images it loads),
            // so that what it saves never lands in the source tree.
            QTemporaryDir work;
            for (const QString& data : dir.entryList(QDir::Files))
                if (!data.endsWith(QLatin1String(".txt")) && !data.endsWith(QLatin1String(".md")))
                    QFile::copy(dir.filePath(data), work.filePath(data));
            const Replayed r = replay(dir.filePath(name), command, work.path());
            EXPECT_EQ(r.simStatus, 0) << qPrintable(r.simErrors);
            EXPECT_TRUE(r.simErrors.endsWith(QLatin1String("played to the end\n")))
                << qPrintable(r.simErrors);
            EXPECT_EQ(QString::number(r.cliStatus), headerValue(text, QStringLiteral("result")))
                << qPrintable(r.cliErrors);
            ++replayed;
        }
    }
    EXPECT_GE(replayed, 3);
}

TEST(Transcripts, ARunRecordedOnTheSimulatedBoxReplaysIdentically) {
    QTemporaryDir tmp;
    const QString first = tmp.filePath("first.txt"), second = tmp.filePath("second.txt");
    const QString command = QStringLiteral("--card 22 --no-wait --memories data read");
    QProcess cli;
    cli.start(QStringLiteral(KELVANO_BIN_DIR "/kelvano-cli"),
              command.split(' ') + QStringList{"--port", "SIM", "--transcript", first});
    ASSERT_TRUE(cli.waitForFinished(60000));
    ASSERT_EQ(cli.exitCode(), 0) << cli.readAllStandardError().constData();

    const Replayed r = replay(first, command, tmp.path(), second);
    EXPECT_EQ(r.cliStatus, 0) << qPrintable(r.cliErrors);
    EXPECT_EQ(r.simStatus, 0) << qPrintable(r.simErrors);
    const QByteArray a = readFile(first), b = readFile(second);
    EXPECT_EQ(headerValue(b, "command"), command);
    EXPECT_EQ(headerValue(b, "card"), "22");
    EXPECT_EQ(headerValue(b, "result"), "0");
    const QStringList ea = exchanges(a), eb = exchanges(b);
    EXPECT_GT(ea.size(), 100);
    EXPECT_EQ(ea, eb);
}

// The blank check of card 10 in sim/, with one line of it replaced.
QString edited(const QTemporaryDir& tmp, const QString& from, const QString& to, int occurrence) {
    QList<QByteArray> lines = readFile(kFolder + "/sim/blank-check-card10.txt").split('\n');
    int seen = 0;
    for (QByteArray& line : lines)
        if (line.contains(from.toLatin1()) && ++seen == occurrence)
            line.replace(from.toLatin1(), to.toLatin1());
    const QString path = tmp.filePath("edited.txt");
    QFile f(path);
    if (f.open(QIODevice::WriteOnly)) f.write(lines.join('\n'));
    return path;
}

TEST(Transcripts, AChangedAnswerFailsTheProgramAsThatAnswerDemands) {
    QTemporaryDir tmp;
    // Word 0x63 of program memory reads 3FFE instead of 3FFF.
    const QString path = edited(tmp, "rx 04 33 46 46 46 | .3FFF", "rx 04 33 46 46 45 | .3FFE", 100);
    const Replayed r = replay(path, "--card 10 --no-wait --memories prog blank", tmp.path());
    EXPECT_EQ(r.cliStatus, 1);
    EXPECT_TRUE(r.cliErrors.contains("Device not blank at $0063")) << qPrintable(r.cliErrors);
    // The check stops there, so the program's next frame is not the next read.
    EXPECT_EQ(r.simStatus, 1);
    EXPECT_TRUE(r.simErrors.contains(path + " line 642: the program sent \"@M\" (40 4D) where the "
                                            "transcript has \"@R04\" (40 52 30 34)"))
        << qPrintable(r.simErrors);
}

TEST(Transcripts, AProgramThatSendsSomethingElseIsReportedWithTheLine) {
    QTemporaryDir tmp;
    const QString path = edited(tmp, "tx 40 52 30 34 | @R04", "tx 40 52 30 35 | @R05", 50);
    const Replayed r = replay(path, "--card 10 --no-wait --memories prog blank", tmp.path());
    EXPECT_EQ(r.simStatus, 1);
    EXPECT_TRUE(r.simErrors.contains(path + " line 327: the program sent \"@R04\" (40 52 30 34) "
                                            "where the transcript has \"@R05\" (40 52 30 35)"))
        << qPrintable(r.simErrors);
    EXPECT_NE(r.cliStatus, 0);
}

}  // namespace
}  // namespace kelvano
