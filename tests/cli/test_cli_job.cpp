// A production run stopped from the terminal: Ctrl-C or SIGTERM ends it with status 130 and a
// summary that says so and counts the cards done, as the log records them.
#include <gtest/gtest.h>
#include <signal.h>

#include <QDeadlineTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include "CliRun.h"

namespace {

TEST(CliJob, InterruptedRunExits130AndCountsTheCardsDone) {
    // SIGINT once the first card is out of the box, SIGTERM while a card is programmed.
    const struct {
        int signal;
        const char* sendAt;
    } cases[] = {{SIGINT, "remove the card"}, {SIGTERM, "programming"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.signal);
        QTemporaryDir dir;
        const QString job = dir.filePath("job.ini");
        QFile ini(job);
        ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
        ini.write(
            "[Job]\nName=stopped\nCard=10\n[Serial]\nMemory=eeprom\nAddress=0\nSize=4\n"
            "Form=dec\nStart=500\n");
        ini.close();
        const QString log = dir.filePath("run.log.db");

        QProcess run;
        run.start(QStringLiteral(KELVANO_BIN_DIR "/kelvano-cli"),
                  {"job", "run", job, "--port", "SIM", "--log", log});
        ASSERT_TRUE(run.waitForStarted());
        // Without a count the simulated box's cards keep coming until the signal.
        QString out;
        const QDeadlineTimer deadline(60000);
        bool sent = false;
        while (!sent && !deadline.hasExpired() && run.state() == QProcess::Running) {
            run.waitForReadyRead(100);
            out += QString::fromLocal8Bit(run.readAllStandardOutput());
            for (const QString& line : out.split('\n'))
                if (line.contains("pass    1") && line.contains(c.sendAt)) sent = true;
        }
        ASSERT_TRUE(sent) << out.toStdString();
        ::kill(pid_t(run.processId()), c.signal);
        ASSERT_TRUE(run.waitForFinished(30000));
        out += QString::fromLocal8Bit(run.readAllStandardOutput());
        EXPECT_EQ(run.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(run.exitCode(), 130) << out.toStdString();

        const QRegularExpression summary(
            "\nSummary: (\\d+) passed, (\\d+) failed, (\\d+) aborted; interrupted, (\\d+) cards? "
            "done\n");
        const QRegularExpressionMatch m = summary.match(out);
        ASSERT_TRUE(m.hasMatch()) << out.toStdString();
        const int passed = m.captured(1).toInt(), failed = m.captured(2).toInt();
        const int aborted = m.captured(3).toInt(), done = m.captured(4).toInt();
        EXPECT_GE(passed, 1);
        EXPECT_EQ(failed, 0);
        EXPECT_EQ(done, passed + failed);  // an aborted card is not done

        // The log holds the same cards.
        const CliRun report = cli({"log", "summary", "--log", log});
        EXPECT_TRUE(report.out.contains(
            QStringLiteral("Cards: %1 passed, 0 failed, %2 aborted").arg(passed).arg(aborted)))
            << report.out.toStdString() << out.toStdString();
    }
}

}  // namespace
