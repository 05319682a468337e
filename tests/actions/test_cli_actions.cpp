// kelvano-cli actions and production runs end to end: the real binaries, the simulated box in
// process ("SIM") or as kelvano-boxsim on a pseudo-terminal.
#include <gtest/gtest.h>
#include <signal.h>

#include <QDeadlineTimer>
#include <QFileInfo>
#include <QRegularExpression>
#include <QThread>
#include <optional>

#include "cli/CliRun.h"

namespace {

// The commands of a kelvano-cli --trace file, in order ("cmd    @M0  ->  00" gives "M0").
QStringList traceCommands(const QString& path) {
    QStringList out;
    for (const QByteArray& line : readAll(path).split('\n'))
        if (line.startsWith("cmd    @"))
            out << QString::fromLatin1(line.mid(8, line.indexOf("  ->") - 8));
    return out;
}

}  // namespace

// A loader card's EEPROM takes the controller along.
TEST(CliActions, LoaderEepromReadsTheControllerToo) {
    QTemporaryDir dir;
    const QString trace = dir.filePath("read.trace");
    const CliRun read = cli({"--port", "SIM", "--card", "15", "--no-wait", "--yes", "--memories",
                             "eeprom", "--trace", trace, "read"});
    EXPECT_EQ(read.code, 0) << read.err.toStdString();
    const QStringList sent = traceCommands(trace);
    EXPECT_EQ(sent.filter("R05").size(), 64);
    EXPECT_GE(sent.filter("R04").size(), 1024);
}

// In the card wait (the display showing "INS.") and mid flash writes alike: the box left idle.
TEST(CliActions, InterruptEndsEveryBoxCommandAsAbortDoesAndExits130) {
    QTemporaryDir dir;
    QByteArray flash(8192, '\0');  // every word programmed: the real-time write pauses take long
    for (int i = 0; i < flash.size(); ++i) flash[i] = char(i * 13 ^ (i >> 8));
    const QStringList loaded{"--load", "1=" + writeFile(dir, "flash.bin", flash)};
    const struct {
        QStringList args;
        const char* sentBefore;  // the signal comes once the box has seen this
    } rows[] = {
        {{"read"}, "DINS."},  // erase, blank, verify and program wait in the same runner
        {{"compare"}, "DINS."},
        {{"identify"}, "DINS."},
        {loaded + QStringList{"--no-wait", "--memories", "prog", "program"}, "Y48"},
    };
    int n = 0;
    for (const auto& r : rows) {
        const int sig = ++n % 2 ? SIGINT : SIGTERM;
        SCOPED_TRACE(r.args.join(' ').toStdString());
        const QString trace = dir.filePath(QString("trace%1").arg(n));
        const bool wait = r.sentBefore == QLatin1String("DINS.");
        std::optional<Boxsim> box;
        if (wait) box.emplace(QStringList{"--card", "20", "--no-card", "--trace", trace});
        const QString port = wait ? box->pty : QStringLiteral("SIM");
        QProcess p;
        p.start(KELVANO_BIN_DIR "/kelvano-cli",
                QStringList{"--port", port, "--card", "20"} + r.args +
                    (wait ? QStringList{} : QStringList{"--trace", trace}));
        ASSERT_TRUE(p.waitForStarted());
        for (int i = 0; i < 200 && !traceCommands(trace).contains(r.sentBefore); ++i)
            QThread::msleep(25);
        kill(pid_t(p.processId()), sig);
        ASSERT_TRUE(p.waitForFinished(20000));
        EXPECT_EQ(p.exitCode(), 130);
        EXPECT_FALSE(p.readAllStandardError().contains("READY"));
        QThread::msleep(100);  // the box writes its trace as it answers
        const QStringList sent = traceCommands(trace);
        EXPECT_LT(sent.filter("Y48").size(), 4000);
        EXPECT_EQ(sent.mid(sent.size() - 2), (QStringList{"M0", "D----"}));  // QXBASE: no "d"
    }
}

// Where the results go, and the trace, are checked before the box is touched. "-" and a device
// are written as named; a target that fails after all has its data kept in a file named.
TEST(CliActions, SaveTargetsAreCheckedFirstAndWhatWasReadIsNeverLost) {
    QTemporaryDir dir;
    const QString trace = dir.filePath("t.trace");
    const QStringList read{"--port", "SIM", "--card", "10", "--no-wait", "--yes", "read"};
    const struct {
        QStringList args;
        QString err;
    } refused[] = {
        {{"--save", "1=/nonexistent/flash.hex", "--trace", trace},
         "kelvano-cli: slot 1 cannot be saved to /nonexistent/flash.hex: the folder /nonexistent "
         "does not exist\n"},
        {{"--save", "2=" + dir.filePath("e.txt"), "--trace", trace},
         "kelvano-cli: slot 2 cannot be saved to " + dir.filePath("e.txt") +
             ": Can't save file of this type: .txt\n"},
        {{"--trace", "/nonexistent/t.log"},
         "kelvano-cli: cannot write the trace /nonexistent/t.log: No such file or directory\n"},
    };
    for (const auto& r : refused) {
        const CliRun run = cli(read + r.args);
        EXPECT_EQ(run.code, 1);
        EXPECT_EQ(run.err, "Card type 10 (Brelmont PIC (PIC16F84 + 24C16)), from --card\n" + r.err);
        EXPECT_FALSE(QFile::exists(trace));  // the box never saw a command
    }
    const Boxsim box({});
    const CliRun real = cli({"--port", box.pty, "--trace", trace, "identify"});
    EXPECT_TRUE(real.code == 1 && real.err.contains("--trace is written by the simulated box"));

    const CliRun out = cli(read + QStringList{"--save", "2=-"});
    EXPECT_EQ(out.code, 0) << out.err.toStdString();
    EXPECT_TRUE(out.out.startsWith(":10000000FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF00\r\n"));
    EXPECT_TRUE(out.out.endsWith("\r\n:00000001FF\r\n"));
    const CliRun full = cli(read + QStringList{"--save", "2=/dev/full", "--save", "1=/dev/stdout"});
    EXPECT_EQ(full.code, 1);
    EXPECT_TRUE(full.out.startsWith(":10000000FF3FFF3F")) << full.out.toStdString();
    EXPECT_FALSE(QFile::exists("/dev/stdout.hex"));
    const QString kept = full.err.mid(full.err.indexOf("it is kept in ") + 14).trimmed();
    EXPECT_EQ(readAll(kept), out.out.toLatin1()) << full.err.toStdString();
    QFile::remove(kept);

    // A code-protected card: only the memory that could be read is saved.
    QByteArray image(0x4010, '\xFF');
    image[0x400E] = 0x0F, image[0x400F] = 0x00;  // configuration word 000F: code protected
    const Boxsim pic({"--card", "10", "--load", "1=" + writeFile(dir, "card.bin", image)});
    const CliRun part =
        cli({"--port", pic.pty, "--card", "10", "--no-wait", "--yes", "read", "--save",
             "1=" + dir.filePath("one.hex"), "--save", "2=" + dir.filePath("two.bin")});
    EXPECT_EQ(part.code, 3) << part.err.toStdString();
    EXPECT_TRUE(part.err.contains("slot 1 not saved")) << part.err.toStdString();
    EXPECT_FALSE(QFile::exists(dir.filePath("one.hex")));
    EXPECT_EQ(QFileInfo(dir.filePath("two.bin")).size(), 2048);
}

// A card with another controller than the --card type's: identify names it, and an action
// stops before touching the card unless --force is given.
TEST(CliActions, IdentifyNamesTheControllerAndActionsStopOnAnotherOne) {
    const CliRun own = cli({"--port", "SIM", "--card", "11", "--no-wait", "identify"});
    EXPECT_EQ(own.code, 0) << own.err.toStdString();
    EXPECT_TRUE(own.out.startsWith("Controller: PIC16F876\nRead: device ID 09E7"))
        << own.out.toStdString();
    EXPECT_TRUE(own.out.endsWith("Card type 11: this controller\n"));

    const Boxsim box({"--card", "22"});
    const CliRun other = cli({"--port", box.pty, "--card", "20", "--no-wait", "identify"});
    EXPECT_EQ(other.code, 1);
    EXPECT_TRUE(other.out.startsWith("Controller: AT90S2323\n")) << other.out.toStdString();
    EXPECT_TRUE(other.out.endsWith("Card type 20: another controller\n"));

    for (const char* command : {"program", "compare"}) {
        const CliRun stopped =
            cli({"--port", box.pty, "--card", "20", "--no-wait", "--yes", command});
        EXPECT_EQ(stopped.code, std::string(command) == "compare" ? 4 : 1);
        EXPECT_TRUE(stopped.err.contains("Wrong controller for this card type!\nRead: AT90S2323"))
            << stopped.err.toStdString();
    }

    const CliRun forced = cli({"--port", box.pty, "--card", "20", "--no-wait", "--yes",
                               "--memories", "prog", "--force", "program"});
    EXPECT_EQ(forced.code, 1);
    EXPECT_TRUE(forced.err.contains("Wrong AVR Device!\nRead: AT90S2323\nMust: AT90S8515"))
        << forced.err.toStdString();
    EXPECT_FALSE(forced.err.contains("Wrong controller"));

    // A well-formed device ID no card type has: named, and no card type listed.
    const Boxsim pic({"--card", "11", "--controller-id", "0E03"});
    const CliRun a = cli({"--port", pic.pty, "--no-wait", "identify"});
    EXPECT_EQ(a.code, 0) << a.err.toStdString();
    EXPECT_EQ(a.out,
              "Controller: PIC16F876A\nRead: device ID 0E03 (device 070, revision 3)\n"
              "No card type of the catalogue has this controller.\n");
}

// The AT90S lock bits and fuse, the ATmega163 bytes, the PIC code protection of the loaded word.
TEST(CliActions, ConfigurationOptionsReachTheCardBitForBit) {
    QTemporaryDir dir;
    const struct {
        int card;
        QStringList options;
        const char* picConfig;  // PIC: the HEX record of the configuration word (2007)
        QStringList sent;  // AVR: Programming Enable of the controller check, then the action's
    } rows[] = {
        // clang-format off
        {20, {"--lock-bits", "none"}, nullptr, {"YAC530000", "YAC530000", "YACFF0000"}},
        {20, {"--lock-bits", "1"}, nullptr, {"YAC530000", "YAC530000", "YACFD0000"}},
        {20, {"--lock-bits", "2"}, nullptr, {"YAC530000", "YAC530000", "YACFB0000"}},
        {20, {}, nullptr, {"YAC530000", "YAC530000", "YACF90000"}},  // both, by default
        {22, {"--lock-bits", "1", "--fuse", "on"}, nullptr, {"YAC530000", "YAC530000", "YACBE0000", "YACFD0000"}},
        {22, {"--lock-bits", "both", "--fuse", "off"}, nullptr, {"YAC530000", "YAC530000", "YACBF0000", "YACF90000"}},
        {31, {"--mega163", "F6:3A:FC"}, nullptr, {"YAC530000", "YAC530000", "YACE000F6", "YACA0003A", "YACA800FC"}},
        // 16F84: code protection clears bits 4 to 13; 16F876: the two CP fields.
        {10, {}, ":02400E000D00A3", {"L003F8F", "L003F8F", "L003F8F", "L003F8F", "L00000D"}},
        {10, {}, ":02400E00F93F78", {"L003F8F", "L003F8F", "L003F8F", "L003F8F", "L003FF9"}},
        {11, {}, ":02400E00191D7A", {"L003F8F", "L003F8F", "L003F8F", "L003F8F", "L001D19"}},
        // clang-format on
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(testing::Message()
                     << "card " << r.card << " " << r.options.join(' ').toStdString());
        const QString trace = dir.filePath(QString("config%1.trace").arg(&r - rows));
        QStringList args{"--port",    "SIM",        "--card", QString::number(r.card),
                         "--no-wait", "--memories", "config", "--trace",
                         trace};
        if (r.picConfig)
            args << "--load"
                 << "1=" + writeFile(dir, "cfg.hex", r.picConfig + QByteArray("\n:00000001FF\n"));
        const CliRun run = cli(args + r.options + QStringList{"program"});
        EXPECT_EQ(run.code, 0) << run.err.toStdString();
        EXPECT_EQ(traceCommands(trace).filter(QRegularExpression(r.picConfig ? "^L00" : "^YAC")),
                  r.sent);
    }
}

TEST(CliJob, InterruptedRunExits130AndCountsTheCardsDone) {
    // SIGINT once the first card is out of the box, SIGTERM while a card is programmed; without
    // a count the simulated box's cards keep coming until then.
    for (const auto& [signal, sendAt] :
         {std::pair{SIGINT, "remove the card"}, std::pair{SIGTERM, "programming"}}) {
        SCOPED_TRACE(signal);
        QTemporaryDir dir;
        const QString job =
            writeFile(dir, "job.ini",
                      "[Job]\nName=stopped\nCard=10\n[Serial]\nMemory=eeprom\nAddress=0\nSize=4\n"
                      "Form=dec\nStart=500\n");
        const QString log = dir.filePath("run.log.db");

        QProcess run;
        run.start(QStringLiteral(KELVANO_BIN_DIR "/kelvano-cli"),
                  {"job", "run", job, "--port", "SIM", "--log", log});
        const QRegularExpression due(QStringLiteral("pass    1[^\n]*") + sendAt);
        QString out;
        const QDeadlineTimer deadline(60000);
        while (!due.match(out).hasMatch() && run.waitForReadyRead(int(deadline.remainingTime())))
            out += QString::fromLocal8Bit(run.readAllStandardOutput());
        ASSERT_TRUE(due.match(out).hasMatch()) << out.toStdString();
        ::kill(pid_t(run.processId()), signal);
        ASSERT_TRUE(run.waitForFinished(30000));
        out += QString::fromLocal8Bit(run.readAllStandardOutput());
        EXPECT_EQ(run.exitCode(), 130) << out.toStdString();

        const QRegularExpression summary(
            "\nSummary: (\\d+) passed, 0 failed, (\\d+) aborted; interrupted, (\\d+) cards? "
            "done\n");
        const QRegularExpressionMatch m = summary.match(out);
        ASSERT_TRUE(m.hasMatch()) << out.toStdString();
        const int passed = m.captured(1).toInt(), aborted = m.captured(2).toInt();
        EXPECT_GE(passed, 1);
        EXPECT_EQ(m.captured(3).toInt(), passed);  // an aborted card is not done

        // The log holds the same cards.
        const CliRun report = cli({"log", "summary", "--log", log});
        EXPECT_TRUE(report.out.contains(
            QStringLiteral("Cards: %1 passed, 0 failed, %2 aborted").arg(passed).arg(aborted)))
            << report.out.toStdString() << out.toStdString();
    }
}
