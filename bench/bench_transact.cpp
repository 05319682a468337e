// The cost of one command exchange: Transact through the real serial code against
// kelvano-boxsim on a pseudo-terminal, beside a minimal POSIX client (write the frame, poll,
// read the reply) doing the same exchanges with the same simulator in the same run.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <QCoreApplication>
#include <chrono>
#include <cstdio>
#include <string>

#include "BoxsimProcess.h"
#include "base/QuietHost.h"
#include "link/QtSerialPortImpl.h"
#include "link/uCom.h"

namespace {

using namespace kelvano;

constexpr int kExchanges = 10000;

// kelvano-boxsim as a child process; its first output line is the terminal's path.

BoxsimProcess* g_sim = nullptr;

// Reads until the whole length-prefixed answer is there.
bool readAnswer(int fd, unsigned char* buf, int& have) {
    have = 0;
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 60) <= 0) return false;
        const ssize_t n = ::read(fd, buf + have, size_t(256 - have));
        if (n <= 0) return false;
        have += int(n);
        if (buf[0] == 0 || buf[0] == 255 || have >= 1 + buf[0]) return true;
    }
}

// The minimal client's terminal, raw, with the box switched to command frames.
int openPosixClient() {
    const int fd = ::open(g_sim->path().c_str(), O_RDWR | O_NOCTTY);
    if (fd < 0) return -1;
    termios t{};
    ::tcgetattr(fd, &t);
    ::cfmakeraw(&t);
    ::cfsetspeed(&t, B115200);
    ::tcsetattr(fd, TCSANOW, &t);
    if (::write(fd, "QXAT\r", 5) != 5) return fd;
    ::usleep(50000);
    if (::write(fd, "QXAT%\r", 6) != 6) return fd;
    ::usleep(200000);
    ::tcflush(fd, TCIOFLUSH);
    return fd;
}

bool posixExchange(int fd) {
    unsigned char buf[256];
    int have = 0;
    return ::write(fd, "@K", 2) == 2 && readAnswer(fd, buf, have) && have == 2;
}

void BM_MinimalPosixClient(benchmark::State& state) {
    const int fd = openPosixClient();
    if (fd < 0) {
        state.SkipWithError("cannot open the simulator's terminal");
        return;
    }
    for (auto _ : state) {
        if (!posixExchange(fd)) {
            state.SkipWithError("exchange failed");
            break;
        }
    }
    ::close(fd);
}

// The program's link to the simulator's terminal through the real serial port class.
struct BenchLink {
    BenchLink() {
        options.ports = {QString::fromStdString(g_sim->path())};
        options.portIndex = 0;
        com.Connect();
    }
    RealClock clock;
    QuietHost host{true};
    NullMainView view;
    Options options;
    TUsb usb;
    TCom com{host,        clock, view,
             options,     usb,   [](const QString&) { return makeSystemSerialPort(); },
             ImageStore()};
};

void BM_Transact(benchmark::State& state) {
    BenchLink link;
    TCom& com = link.com;
    if (!com.linkReady()) {
        state.SkipWithError("connect failed");
        return;
    }
    QByteArray reply;
    for (auto _ : state) {
        if (com.Transact("K", reply, 0) != 1) {
            state.SkipWithError("exchange failed");
            break;
        }
    }
    com.Disconnect();
}

// Both clients in turns, exchange by exchange, so that both see the same load on the machine:
// the fairest ratio on a busy computer. Counters: microseconds per exchange of each.
void BM_Interleaved(benchmark::State& state) {
    const int fd = openPosixClient();  // before the real port locks the terminal
    if (fd < 0) {
        state.SkipWithError("cannot open the simulator's terminal");
        return;
    }
    BenchLink link;
    TCom& com = link.com;
    if (!com.linkReady()) {
        state.SkipWithError("connect failed");
        ::close(fd);
        return;
    }
    using Steady = std::chrono::steady_clock;
    Steady::duration inTransact{}, inPosix{};
    QByteArray reply;
    for (auto _ : state) {
        const auto t0 = Steady::now();
        const bool a = com.Transact("K", reply, 0) == 1;
        const auto t1 = Steady::now();
        const bool b = posixExchange(fd);
        const auto t2 = Steady::now();
        if (!a || !b) {
            state.SkipWithError("exchange failed");
            break;
        }
        inTransact += t1 - t0;
        inPosix += t2 - t1;
    }
    const double n = double(state.iterations());
    const double tUs = std::chrono::duration<double, std::micro>(inTransact).count() / n;
    const double pUs = std::chrono::duration<double, std::micro>(inPosix).count() / n;
    state.counters["transact_us"] = tUs;
    state.counters["posix_us"] = pUs;
    state.counters["ratio"] = tUs / pUs;
    com.Disconnect();
    ::close(fd);
}

BENCHMARK(BM_MinimalPosixClient)
    ->Iterations(kExchanges)
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime();
BENCHMARK(BM_Transact)->Iterations(kExchanges)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_Interleaved)->Iterations(kExchanges)->Unit(benchmark::kMicrosecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);  // Transact restarts the keep-alive timer
    BoxsimProcess sim({"--model", "serial"});
    if (sim.path().empty()) {
        std::fprintf(stderr, "kelvano-boxsim did not start\n");
        return 1;
    }
    g_sim = &sim;
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
