// kelvano-cli info, run as the user runs it.
#include <gtest/gtest.h>

#include <QFileInfo>
#include <QProcess>

#include "BoxSimProcess.h"

namespace kelvano::test {
namespace {

struct CliRun {
    int status = -1;
    QString out, err;
};

CliRun runCli(const QString& program, const QStringList& args) {
    QProcess p;
    p.start(program, args);
    CliRun r;
    if (!p.waitForFinished(20000)) {
        p.kill();
        p.waitForFinished();
        return r;
    }
    r.status = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = QString::fromLocal8Bit(p.readAllStandardOutput());
    r.err = QString::fromLocal8Bit(p.readAllStandardError());
    return r;
}

const QString kCli = QStringLiteral(KELVANO_BIN_DIR "/kelvano-cli");

TEST(InfoCommand, PrintsTheIdentityOrTheErrorBoxText) {
    if (!QFileInfo::exists(kCli)) GTEST_SKIP() << "kelvano-cli is not built";

    CliRun r = runCli(kCli, {"--port", "SIM", "info"});
    EXPECT_EQ(r.status, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.startsWith("Box: STRAVINEX QXBASE * KELVANO BOX SIMULATOR *  Serial: SIM-000001\n"))
        << r.out.toStdString();
    EXPECT_TRUE(r.out.contains("Firmware: not checked (no QXBASE firmware in the image store)"));

    r = runCli(kCli, {"--port", "/dev/kelvano-no-such-port", "info"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.out.isEmpty());
    EXPECT_TRUE(r.err.startsWith("Can't connect to Programmer\nErrorcode: Unable to open com port "
                                 "(win error code: 2)\n"))
        << r.err.toStdString();

    r = runCli(kCli, {"info"});
    EXPECT_EQ(r.status, 2);

    // The box on a pseudo-terminal, reached through the real serial code.
    BoxSimProcess sim({"--model", "serial"});
    ASSERT_FALSE(sim.path().isEmpty());
    r = runCli(kCli, {"--port", sim.path(), "info"});
    EXPECT_EQ(r.status, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.startsWith("Box: STRAVINEX QX200 * ")) << r.out.toStdString();
    EXPECT_TRUE(r.out.contains("Firmware: not checked (not a QXBASE box)"));
}

}  // namespace
}  // namespace kelvano::test
