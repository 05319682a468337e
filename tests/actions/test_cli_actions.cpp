// kelvano-cli actions end to end: the real binaries, the simulated box in process ("SIM") and
// on a pseudo-terminal (kelvano-boxsim), which keeps its card between two runs.
#include <gtest/gtest.h>

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

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
    Result avr = cli({"--port", "SIM", "--card", "20", "--no-wait", "--memories", "prog,data,config",
                      "--lock-bits", "none", "program"});
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

    Result prog = cli({"--port", pty, "--card", "10", "--no-wait", "--memories", "eeprom",
                       "--load", "2=" + in.fileName(), "program"});
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
