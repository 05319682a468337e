// kelvano-cli actions end to end: the real binaries, the simulated box in process ("SIM") and
// on a pseudo-terminal (kelvano-boxsim), which keeps its card between two runs.
#include <gtest/gtest.h>
#include <signal.h>

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

namespace {

const QString kBin = QStringLiteral(KELVANO_BIN_DIR);

struct Result {
    int code = -1;
    QString err;
};

Result cli(const QStringList& args) {
    QProcess p;
    p.setProgram(kBin + "/kelvano-cli");
    p.setArguments(args);
    p.start();
    p.closeWriteChannel();  // no terminal: warnings are answered Abort unless --yes
    p.waitForFinished(60000);
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
            QString::fromLocal8Bit(p.readAllStandardError())};
}

QByteArray pattern(int size, int seed) {
    QByteArray b(size, '\0');
    for (int i = 0; i < size; ++i) b[i] = char((i * 13 + seed) ^ (i >> 8));
    return b;
}

}  // namespace

TEST(CliActions, ExitStatusTellsReadyFromFailureAndUsage) {
    Result ok = cli({"--port", "SIM", "--card", "13", "--no-wait", "--verify", "program"});
    EXPECT_EQ(ok.code, 0) << ok.err.toStdString();
    EXPECT_TRUE(ok.err.contains("READY"));

    // The built-in store's demo loader reaches the AVR card's EEPROM on the simulated box.
    Result demo = cli({"--port", "SIM", "--card", "20", "--no-wait", "--yes", "program"});
    EXPECT_EQ(demo.code, 0) << demo.err.toStdString();
    EXPECT_TRUE(demo.err.contains("INSTALLING LOADER") && demo.err.contains("EEPROM MEMORY"));

    // The same card without its EEPROM programs fine.
    Result avr = cli({"--port", "SIM", "--card", "20", "--no-wait", "--memories",
                      "prog,data,config", "--lock-bits", "none", "program"});
    EXPECT_EQ(avr.code, 0) << avr.err.toStdString();

    // A warning with nobody to answer it is answered Abort.
    Result warned = cli({"--port", "SIM", "--card", "11", "--no-wait", "read"});
    EXPECT_EQ(warned.code, 1);
    EXPECT_TRUE(warned.err.contains("Contents of controller will be lost"));

    EXPECT_EQ(cli({"--port", "SIM", "--card", "10", "--memories", "prog,flash", "read"}).code, 2);
    EXPECT_EQ(cli({"--port", "SIM", "--card", "30", "read"}).code, 2);
    EXPECT_EQ(cli({"--card", "10", "read"}).code, 2);
    EXPECT_EQ(cli({"--port", "SIM", "--card", "22", "--lock-bits", "3", "program"}).code, 2);
}

TEST(CliActions, ProgramThenReadBackThroughBoxOnPseudoTerminal) {
    QTemporaryDir dir;
    QProcess box;
    box.setProgram(kBin + "/kelvano-boxsim");
    box.setArguments({"--card", "10"});
    box.start();
    ASSERT_TRUE(box.waitForReadyRead(10000));
    const QString pty = QString::fromLocal8Bit(box.readLine()).trimmed();
    ASSERT_TRUE(pty.startsWith("/dev/")) << pty.toStdString();

    const QByteArray eeprom = pattern(2048, 5);
    QFile in(dir.filePath("in.bin"));
    ASSERT_TRUE(in.open(QIODevice::WriteOnly));
    in.write(eeprom);
    in.close();

    Result prog = cli({"--port", pty, "--card", "10", "--no-wait", "--memories", "eeprom", "--load",
                       "2=" + in.fileName(), "program"});
    EXPECT_EQ(prog.code, 0) << prog.err.toStdString();

    Result read = cli({"--port", pty, "--card", "10", "--memories", "eeprom", "read", "--save",
                       "2=" + dir.filePath("out.bin")});
    EXPECT_EQ(read.code, 0) << read.err.toStdString();
    QFile out(dir.filePath("out.bin"));
    ASSERT_TRUE(out.open(QIODevice::ReadOnly));
    EXPECT_TRUE(out.readAll() == eeprom);

    box.terminate();
    box.waitForFinished(5000);
}

namespace {

// The commands of a kelvano-cli --trace file, in order ("cmd    @M0  ->  00" gives "M0").
QStringList traceCommands(const QString& path) {
    QFile f(path);
    QStringList out;
    if (!f.open(QIODevice::ReadOnly)) return out;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith("cmd    @"))
            out << QString::fromLatin1(line.mid(8, line.indexOf("  ->") - 8));
    return out;
}

}  // namespace

TEST(CliActions, InterruptEndsTheActionAsAbortDoesAndExits130) {
    QTemporaryDir dir;
    QFile in(dir.filePath("flash.bin"));
    ASSERT_TRUE(in.open(QIODevice::WriteOnly));
    in.write(pattern(8192, 9));  // every word programmed: the real-time write pauses take long
    in.close();
    for (int sig : {SIGINT, SIGTERM}) {
        const QString trace = dir.filePath(QString("trace%1").arg(sig));
        QProcess p;
        p.setProgram(kBin + "/kelvano-cli");
        p.setArguments({"--port", "SIM", "--card", "20", "--no-wait", "--memories", "prog",
                        "--load", "1=" + in.fileName(), "--trace", trace, "program"});
        p.start();
        ASSERT_TRUE(p.waitForStarted());
        // Once the flash writes are under way.
        for (int i = 0; i < 200 && !traceCommands(trace).join(' ').contains("Y48"); ++i)
            QThread::msleep(25);
        kill(pid_t(p.processId()), sig);
        ASSERT_TRUE(p.waitForFinished(20000));
        EXPECT_EQ(p.exitCode(), 130) << sig;
        const QString err = QString::fromLocal8Bit(p.readAllStandardError());
        EXPECT_FALSE(err.contains("READY")) << err.toStdString();
        const QStringList sent = traceCommands(trace);
        EXPECT_LT(sent.filter("Y48").size(), 4000);
        EXPECT_EQ(sent.mid(sent.size() - 2), (QStringList{"M0", "D----"}))
            << sig;  // QXBASE: no "d"
    }
}

TEST(CliActions, ReadOfAProtectedCardSavesOnlyWhatWasRead) {
    QTemporaryDir dir;
    QByteArray image(0x4010, '\xFF');
    image[0x400E] = 0x0F, image[0x400F] = 0x00;  // configuration word 000F: code protected
    QFile card(dir.filePath("card.bin"));
    ASSERT_TRUE(card.open(QIODevice::WriteOnly));
    card.write(image);
    card.close();
    QProcess box;
    box.setProgram(kBin + "/kelvano-boxsim");
    box.setArguments({"--card", "10", "--load", "1=" + card.fileName()});
    box.start();
    ASSERT_TRUE(box.waitForReadyRead(10000));
    const QString pty = QString::fromLocal8Bit(box.readLine()).trimmed();

    Result read = cli({"--port", pty, "--card", "10", "--no-wait", "--yes", "read", "--save",
                       "1=" + dir.filePath("one.hex"), "--save", "2=" + dir.filePath("two.bin")});
    EXPECT_EQ(read.code, 3) << read.err.toStdString();
    EXPECT_TRUE(read.err.contains("slot 1 not saved")) << read.err.toStdString();
    EXPECT_FALSE(QFile::exists(dir.filePath("one.hex")));
    EXPECT_EQ(QFileInfo(dir.filePath("two.bin")).size(), 2048);
    box.terminate();
    box.waitForFinished(5000);
}

TEST(CliActions, LoaderCardEepromTakesTheControllerAlongAndIsNotVerified) {
    QTemporaryDir dir;
    // EEPROM alone on a loader card also reads the controller's memories first.
    const QString trace = dir.filePath("read.trace");
    cli({"--port", "SIM", "--card", "15", "--no-wait", "--yes", "--memories", "eeprom", "--trace",
         trace, "read"});
    const QStringList sent = traceCommands(trace);
    EXPECT_EQ(sent.filter("R05").size(), 64);
    EXPECT_GE(sent.filter("R04").size(), 1024);

    Result verify = cli({"--port", "SIM", "--card", "20", "--no-wait", "verify"});
    EXPECT_EQ(verify.code, 3) << verify.err.toStdString();
    EXPECT_TRUE(verify.err.contains("EEPROM Memory not verified")) << verify.err.toStdString();
}
