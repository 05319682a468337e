// kelvano-boxsim as a separate program, reached through its pseudo-terminal with plain POSIX
// calls, as any serial program would.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// Writes `bytes`, then collects the answer until `count` bytes or `end` arrived or the time
// ran out.
std::string talk(int fd, const std::string& bytes, size_t count, char end = '\0', int timeoutMs = 2000) {
    if (!bytes.empty() && ::write(fd, bytes.data(), bytes.size()) != ssize_t(bytes.size())) return "<write>";
    std::string in;
    const auto until = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (in.size() < count && Clock::now() < until) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 20) <= 0) continue;
        char c;
        if (::read(fd, &c, 1) != 1) break;
        in += c;
        if (end && c == end) break;
    }
    return in;
}

// kelvano-boxsim as a child process with its output on a pipe.
class BoxSimProcess {
public:
    explicit BoxSimProcess(std::vector<std::string> args) {
        int fds[2];
        if (::pipe(fds) != 0) return;
        args.insert(args.begin(), KELVANO_BIN_DIR "/kelvano-boxsim");
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(fds[1], STDOUT_FILENO);
            std::vector<char*> argv;
            for (std::string& a : args) argv.push_back(a.data());
            argv.push_back(nullptr);
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
        ::close(fds[1]);
        out_ = fds[0];
    }
    ~BoxSimProcess() {
        if (pid_ > 0) ::kill(pid_, SIGKILL), ::waitpid(pid_, nullptr, 0);
        ::close(out_);
    }
    // The first line of its output, or "" when none came in time.
    std::string firstLine() {
        const std::string line = talk(out_, "", 4096, '\n', 5000);
        return line.empty() || line.back() != '\n' ? "" : line.substr(0, line.size() - 1);
    }
    // SIGTERM, then the exit status (-1 when it does not end within 3 s).
    int terminate() {
        ::kill(pid_, SIGTERM);
        for (int i = 0; i < 300; ++i, ::usleep(10000)) {
            int status = 0;
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
        }
        return -1;
    }

private:
    pid_t pid_ = -1;
    int out_ = -1;
};

TEST(BoxSimProgram, ServesTheBoxOnAPseudoTerminal) {
    QTemporaryDir dir;
    const std::string link = dir.filePath("stravinex").toStdString();
    const std::string trace = dir.filePath("trace.txt").toStdString();
    const QString flash = dir.filePath("flash.bin");
    QFile bin(flash);
    ASSERT_TRUE(bin.open(QIODevice::WriteOnly));
    bin.write(QByteArray::fromHex("0C942A00"));  // flash words 940C, 002A
    bin.close();
    BoxSimProcess sim({"--card", "22", "--load", "1=" + flash.toStdString(), "--link", link,
                       "--trace", trace, "--fault", "noanswer,on=D,times=0"});
    const std::string tty = sim.firstLine();
    ASSERT_FALSE(tty.empty()) << "no terminal path from kelvano-boxsim";

    int fd = ::open(link.c_str(), O_RDWR | O_NOCTTY);  // through the link to the terminal
    ASSERT_GE(fd, 0) << tty;
    termios tio{};
    ASSERT_EQ(::tcgetattr(fd, &tio), 0);
    ::cfmakeraw(&tio);
    ::cfsetispeed(&tio, B115200);
    ::cfsetospeed(&tio, B115200);
    ASSERT_EQ(::tcsetattr(fd, TCSANOW, &tio), 0);

    EXPECT_EQ(talk(fd, "QXAT\r", 1), ">");
    const std::string id = talk(fd, "QXAT!V#\r", 200, '>');
    EXPECT_NE(id.find("QXBASE"), std::string::npos) << id;
    EXPECT_EQ(std::count(id.begin(), id.end(), '\r'), 3);
    EXPECT_EQ(talk(fd, "QXAT%\r", 1, '\0', 200), "");  // command mode, nothing answered

    EXPECT_EQ(talk(fd, "@K", 2), std::string("\x01" "0", 2));
    EXPECT_EQ(talk(fd, "@M5", 1), std::string(1, '\0'));
    EXPECT_EQ(talk(fd, "@YAC530000", 5), "\x04" "5300");
    EXPECT_EQ(talk(fd, "@Y30000100", 5), "\x04" "0091");  // the AT90S2323 of card type 22
    EXPECT_EQ(talk(fd, "@Y28000000", 5), "\x04" "0094");  // the flash given with --load
    EXPECT_EQ(talk(fd, "@Y20000100", 5), "\x04" "002A");
    EXPECT_EQ(talk(fd, "@DTEST", 1, '\0', 200), "");       // the fault from the command line
    EXPECT_EQ(talk(fd, "@*", 1), "!");
    ::close(fd);

    EXPECT_EQ(sim.terminate(), 0);
    struct stat st {};
    EXPECT_NE(::lstat(link.c_str(), &st), 0) << "the link stays behind";
    QFile file(QString::fromStdString(trace));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray lines = file.readAll();
    EXPECT_TRUE(lines.contains("cmd    @K  ->  01 30")) << lines.constData();
    EXPECT_TRUE(lines.contains("cmd    @DTEST  ->  (none)  [noanswer]")) << lines.constData();
}

TEST(BoxSimProgram, RefusesBadOptions) {
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"--card", "99"}, {"--fault", "explode"}, {"--model"}}) {
        BoxSimProcess sim(args);
        EXPECT_EQ(sim.firstLine(), "");
        EXPECT_EQ(sim.terminate(), 2);
    }
}

}  // namespace
