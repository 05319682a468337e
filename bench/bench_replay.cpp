// Program + verify of a whole card against kelvano-boxsim at 115200 baud (with added latency
// per exchange), beside a minimal client that replays the program's own exchanges (the same
// bytes, the same pauses) through the same box and terminal. Runs alternate, program first.
//
//   bench_replay [--cards 10,22,26] [--latency 0,4] [--rounds 2] [--no-client]
//
// Prints one line per run and one summary line per card and latency. Not a Google Benchmark:
// a run takes seconds to minutes and the interleaving is the point.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QStringList>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "BoxsimProcess.h"
#include "ForwardingPort.h"
#include "actions/uActions.h"
#include "base/QuietHost.h"
#include "link/QtSerialPortImpl.h"
#include "link/uCom.h"

using namespace kelvano;

namespace {

using Steady = std::chrono::steady_clock;

double secondsSince(Steady::time_point start) {
    return std::chrono::duration<double>(Steady::now() - start).count();
}

// One exchange as the program made it: the pause before it, the bytes written, the bytes it
// then read, and the time it spent waiting in reads that timed out.
struct Step {
    int pauseUs = 0;
    QByteArray out;
    int in = 0;
    int timeoutMs = 0;
};

// Real time; every pause is noted for the transcript.
class NotingClock final : public Clock {
public:
    qint64 nowMs() const override { return real_.nowMs(); }
    void sleepMs(int ms) override {
        if (ms > 0) pendingUs += ms * 1000;
        real_.sleepMs(ms);
    }
    int pendingUs = 0;

private:
    RealClock real_;
};

// The program's real port, writing down the exchanges while `steps` is set.
class NotingPort final : public ForwardingPort {
public:
    NotingPort(NotingClock& clock, std::vector<Step>*& steps)
        : ForwardingPort(makeSystemSerialPort()), clock_(clock), steps_(steps) {}
    void write(const QByteArray& bytes) override {
        if (steps_) {
            steps_->push_back(Step{clock_.pendingUs, bytes, 0, 0});
            clock_.pendingUs = 0;
        }
        ForwardingPort::write(bytes);
    }
    int readByte(int timeoutMs) override {
        const int b = ForwardingPort::readByte(timeoutMs);
        if (steps_ && !steps_->empty()) {
            if (b >= 0)
                ++steps_->back().in;
            else
                steps_->back().timeoutMs += timeoutMs;
        }
        return b;
    }

private:
    NotingClock& clock_;
    std::vector<Step>*& steps_;
};

// The minimal client: write, poll, read what arrived, until the step's bytes are in.
bool replay(const std::string& tty, const std::vector<Step>& steps) {
    const int fd = ::open(tty.c_str(), O_RDWR | O_NOCTTY);
    if (fd < 0) return false;
    termios t{};
    ::tcgetattr(fd, &t);
    ::cfmakeraw(&t);
    ::cfsetspeed(&t, B115200);
    ::tcsetattr(fd, TCSANOW, &t);
    bool ok = true;
    unsigned char buf[512];
    for (const Step& s : steps) {
        if (s.pauseUs > 0) std::this_thread::sleep_for(std::chrono::microseconds(s.pauseUs));
        if (!s.out.isEmpty() &&
            ::write(fd, s.out.constData(), size_t(s.out.size())) != s.out.size())
            ok = false;
        for (int have = 0; ok && have < s.in;) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 2000) <= 0) ok = false;
            const ssize_t n = ok ? ::read(fd, buf, sizeof buf) : -1;
            if (n <= 0) ok = false;
            have += int(n);
        }
        if (s.timeoutMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(s.timeoutMs));
        if (!ok) break;
    }
    ::close(fd);
    return ok;
}

QList<int> intList(const QString& text) {
    QList<int> out;
    for (const QString& part : text.split(',', Qt::SkipEmptyParts)) out << part.toInt();
    return out;
}

struct Figures {
    std::vector<double> program, client;
};

double mean(const std::vector<double>& v) {
    double sum = 0;
    for (double x : v) sum += x;
    return v.empty() ? 0 : sum / double(v.size());
}

bool benchCard(int card, int latencyMs, int rounds, bool withClient) {
    BoxsimProcess box({"--card", std::to_string(card), "--baud", "115200", "--latency",
                       std::to_string(latencyMs)});
    if (box.path().empty()) return false;
    QuietHost host{true};
    NotingClock clock;
    NullMainView mainView;
    NullActionView view;
    Options options;
    options.ports = {QString::fromStdString(box.path())};
    options.portIndex = 0;
    options.verify = true;
    TUsb usb;
    std::vector<Step>* noting = nullptr;
    TCom com(
        host, clock, mainView, options, usb,
        [&](const QString&) -> std::unique_ptr<SerialPort> {
            return std::make_unique<NotingPort>(clock, noting);
        },
        ImageStore(ImageStore::builtInData()));
    TDevices devices;
    devices.DeviceId = card;
    devices.ApplyBuffers();
    EnableBoxes enable;
    enable.prog = enable.data = enable.eep = true;
    FuseModel fuses;
    fuses.avr.lockBit1 = fuses.avr.lockBit2 = false;
    RefreshPicPage(devices, fuses);
    TActions actions(host, clock, devices, com, options, enable, fuses, mainView);
    actions.setView(&view);
    com.Connect();
    if (!com.linkReady()) return false;

    std::mt19937 rng(42);
    const unsigned mask = isPicCode(card) ? 0x3FFF : 0xFFFF;
    for (int i = 0; i < devices.ProgBuf.length(); ++i) devices.ProgBuf[i] = uint16_t(rng() & mask);
    for (int i = 0; i < devices.DataBuf.length(); ++i) devices.DataBuf[i] = uint16_t(rng() & 0xFF);
    for (int i = 0; i < devices.EepBuf.length(); ++i) devices.EepBuf[i] = uint16_t(rng() & 0xFF);

    std::vector<Step> steps;
    Figures f;
    for (int round = 0; round < rounds; ++round) {
        std::vector<Step> run;
        noting = &run;
        clock.pendingUs = 0;
        const auto start = Steady::now();
        // The whole action in one tick of the runner, as the window runs it (with its "READY"
        // pause, which the client replays too); the closing exchanges after the time is taken.
        actions.start(ActionCode::Program);
        actions.Startup();
        const double seconds = secondsSince(start);
        noting = nullptr;
        // A pause after the last exchange (the "READY" hold) belongs to the timed run too:
        // the client replays it as a step that sends nothing.
        if (clock.pendingUs > 0) run.push_back(Step{clock.pendingUs, {}, 0, 0});
        clock.pendingUs = 0;
        actions.FormClose();
        if (!actions.result().ready) return false;
        f.program.push_back(seconds);
        if (steps.empty()) steps = std::move(run);
        std::printf("card %d latency %d ms round %d: program %.3f s (%zu exchanges)\n", card,
                    latencyMs, round, seconds,
                    size_t(std::count_if(steps.begin(), steps.end(),
                                         [](const Step& s) { return !s.out.isEmpty(); })));
        std::fflush(stdout);
        if (!withClient) continue;
        const auto cstart = Steady::now();
        if (!replay(box.path(), steps)) {
            std::printf("card %d latency %d ms round %d: the client's replay failed\n", card,
                        latencyMs, round);
            return false;
        }
        f.client.push_back(secondsSince(cstart));
        std::printf("card %d latency %d ms round %d: client  %.3f s\n", card, latencyMs, round,
                    f.client.back());
        std::fflush(stdout);
    }
    com.Disconnect();
    if (withClient)
        std::printf(
            "SUMMARY card %d latency %d ms: program %.3f s, client %.3f s, program/client %+.2f "
            "%%\n",
            card, latencyMs, mean(f.program), mean(f.client),
            (mean(f.program) / mean(f.client) - 1) * 100);
    else
        std::printf("SUMMARY card %d latency %d ms: program %.3f s\n", card, latencyMs,
                    mean(f.program));
    std::fflush(stdout);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QList<int> cards{10, 22, 26}, latencies{0, 4};
    int rounds = 2;
    bool withClient = true;
    const QStringList args = app.arguments();
    for (int i = 1; i < args.size(); ++i) {
        const QString value = i + 1 < args.size() ? args.at(i + 1) : QString();
        if (args.at(i) == "--cards")
            cards = intList(value), ++i;
        else if (args.at(i) == "--latency")
            latencies = intList(value), ++i;
        else if (args.at(i) == "--rounds")
            rounds = value.toInt(), ++i;
        else if (args.at(i) == "--no-client")
            withClient = false;
        else {
            std::fprintf(stderr,
                         "usage: bench_replay [--cards 10,22,26] [--latency 0,4] [--rounds 2] "
                         "[--no-client]\n");
            return 2;
        }
    }
    int failures = 0;
    for (int latency : latencies)
        for (int card : cards)
            if (!benchCard(card, latency, rounds, withClient)) {
                std::printf(
                    "card %d latency %d ms: FAILED (no link, an aborted action or a failed "
                    "replay)\n",
                    card, latency);
                ++failures;
            }
    return failures == 0 ? 0 : 1;
}
