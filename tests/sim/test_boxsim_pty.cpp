// kelvano-boxsim as a separate program, reached through its pseudo-terminal with plain POSIX
// calls, as any serial program would.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <string>

namespace {

using Clock = std::chrono::steady_clock;

// Writes `bytes`, then collects the answer until `count` bytes or `end` arrived or the time
// ran out.
std::string talk(int fd, const std::string& bytes, size_t count, char end = '\0',
                 int timeoutMs = 2000) {
    if (!bytes.empty() && ::write(fd, bytes.data(), bytes.size()) != ssize_t(bytes.size()))
        return "<write>";
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
    BoxSimProcess() {
        int fds[2];
        if (::pipe(fds) != 0) return;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(fds[1], STDOUT_FILENO);
            const char* path = KELVANO_BIN_DIR "/kelvano-boxsim";
            ::execl(path, path, "--card", "22", "--fault", "noanswer,on=D,times=0", "--latency",
                    "60", nullptr);
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
    BoxSimProcess sim;  // card type 22, no answer to any "D" frame, 60 ms added latency
    const std::string tty = sim.firstLine();
    ASSERT_FALSE(tty.empty()) << "no terminal path from kelvano-boxsim";
    const int fd = ::open(tty.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0) << tty;
    termios tio{};
    ASSERT_EQ(::tcgetattr(fd, &tio), 0);
    ::cfmakeraw(&tio);
    ::cfsetspeed(&tio, B115200);
    ASSERT_EQ(::tcsetattr(fd, TCSANOW, &tio), 0);

    EXPECT_EQ(talk(fd, "QXAT\r", 1), ">");
    const std::string id = talk(fd, "QXAT!V#\r", 200, '>');
    EXPECT_NE(id.find("QXBASE"), std::string::npos) << id;
    EXPECT_EQ(talk(fd, "QXAT%\r", 1, '\0', 200), "");  // command mode, nothing answered
    const auto asked = Clock::now();
    EXPECT_EQ(talk(fd, "@K", 2), std::string("\x01"
                                             "0",
                                             2));
    EXPECT_GE(Clock::now() - asked, std::chrono::milliseconds(60));  // --latency 60
    EXPECT_EQ(talk(fd, "@DTEST", 1, '\0', 200), "");  // the fault from the command line
    ::close(fd);
    EXPECT_EQ(sim.terminate(), 0);
}

}  // namespace
