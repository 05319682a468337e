// kelvano-boxsim as a separate program, reached through its pseudo-terminal with plain POSIX
// calls, as any serial program would.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QProcess>

namespace {

const QString kBoxSim = QStringLiteral(KELVANO_BIN_DIR "/kelvano-boxsim");

// Writes `bytes`, then collects the answer until `count` bytes or `end` arrived or
// `timeoutMs` ran out.
QByteArray talk(int fd, const QByteArray& bytes, int count, char end = '\0', int timeoutMs = 2000) {
    if (::write(fd, bytes.constData(), size_t(bytes.size())) != ssize_t(bytes.size()))
        return "<write>";
    QByteArray in;
    QElapsedTimer clock;
    clock.start();
    char c = 0;
    for (pollfd p{fd, POLLIN, 0}; in.size() < count && !clock.hasExpired(timeoutMs);) {
        if (::poll(&p, 1, 20) <= 0) continue;
        if (::read(fd, &c, 1) != 1) break;
        in += c;
        if (end && c == end) break;
    }
    return in;
}

TEST(BoxSimProgram, ServesTheBoxOnAPseudoTerminalAsItsOptionsSay) {
    QProcess sim;
    sim.start(kBoxSim, {"--card", "22", "--fault", "noanswer,on=D,times=0", "--latency", "60"});
    ASSERT_TRUE(sim.waitForStarted(5000));
    while (!sim.canReadLine() && sim.waitForReadyRead(5000)) {
    }
    const QByteArray tty = sim.readLine().trimmed();
    const int fd = ::open(tty.constData(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0) << "no terminal from kelvano-boxsim: " << tty.constData();
    termios tio{};
    ASSERT_EQ(::tcgetattr(fd, &tio), 0);
    ::cfmakeraw(&tio);
    ::cfsetspeed(&tio, B115200);
    ASSERT_EQ(::tcsetattr(fd, TCSANOW, &tio), 0);

    EXPECT_EQ(talk(fd, "QXAT\r", 1), ">");
    EXPECT_TRUE(talk(fd, "QXAT!V#\r", 200, '>').startsWith("STRAVINEX QXBASE\r"));
    EXPECT_EQ(talk(fd, "QXAT%\r", 1, '\0', 200), "");  // command mode, nothing answered
    QElapsedTimer asked;
    asked.start();
    EXPECT_EQ(talk(fd, "@K", 2),
              "\x01"
              "0");
    EXPECT_GE(asked.elapsed(), 60);                   // --latency 60
    EXPECT_EQ(talk(fd, "@DTEST", 1, '\0', 200), "");  // --fault
    // --card 22: an AT90S2323, signature 1E 91 02.
    EXPECT_EQ(talk(fd, "@M5@YAC530000@Y30000100", 11),
              QByteArray::fromHex("0004353330300430303931"));
    ::close(fd);
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
        sim.start(kBoxSim, args);
        ASSERT_TRUE(sim.waitForFinished(5000));
        EXPECT_EQ(sim.exitCode(), 2) << message;
        EXPECT_EQ(sim.readAllStandardError(), message);
    }
}

}  // namespace
