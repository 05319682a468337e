// Program and verify a full card against kelvano-boxsim answering at 115200 baud over a
// pseudo-terminal, through the program's real serial port, and set the time beside its floor:
// the line time of every byte that went over the line (counted at the port) plus the pauses
// the sequences ask for (counted by the clock).
#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QProcess>
#include <chrono>
#include <random>

#include "ForwardingPort.h"
#include "actions/uActions.h"
#include "base/QuietHost.h"
#include "link/QtSerialPortImpl.h"
#include "link/uCom.h"

using namespace kelvano;

namespace {

// Real time, with the sum of the pauses asked for.
class CountingClock final : public Clock {
public:
    qint64 nowMs() const override { return real_.nowMs(); }
    void sleepMs(int ms) override {
        if (ms > 0) pausedMs += ms;
        real_.sleepMs(ms);
    }
    qint64 pausedMs = 0;

private:
    RealClock real_;
};

// The real port, counting the bytes that went over the line in both directions.
class CountingPort final : public ForwardingPort {
public:
    CountingPort(std::unique_ptr<SerialPort> port, qint64& bytes)
        : ForwardingPort(std::move(port)), bytes_(bytes) {}
    void write(const QByteArray& bytes) override {
        bytes_ += bytes.size();
        ForwardingPort::write(bytes);
    }
    int readByte(int timeoutMs) override {
        const int b = ForwardingPort::readByte(timeoutMs);
        if (b >= 0) ++bytes_;
        return b;
    }

private:
    qint64& bytes_;
};

// baud 0: the box answers at once, so the time over the pauses is the program's own cost
// (and the pseudo-terminal's).
void programAndVerify(benchmark::State& state, int card, int baud) {
    QProcess box;
    box.setProgram(QStringLiteral(KELVANO_BIN_DIR "/kelvano-boxsim"));
    QStringList boxArgs{"--card", QString::number(card)};
    if (baud > 0) boxArgs << "--baud" << QString::number(baud);
    box.setArguments(boxArgs);
    box.start();
    if (!box.waitForReadyRead(10000)) {
        state.SkipWithError("kelvano-boxsim did not start");
        return;
    }
    const QString pty = QString::fromLocal8Bit(box.readLine()).trimmed();

    QuietHost host;
    CountingClock clock;
    NullMainView mainView;
    NullActionView view;
    Options options;
    options.ports = {pty};
    options.portIndex = 0;
    options.verify = true;
    TUsb usb;
    qint64 bytes = 0;
    TCom com(
        host, clock, mainView, options, usb,
        [&bytes](const QString&) -> std::unique_ptr<SerialPort> {
            return std::make_unique<CountingPort>(makeSystemSerialPort(), bytes);
        },
        ImageStore());
    TDevices devices;
    devices.DeviceId = card;
    devices.ApplyBuffers();
    EnableBoxes enable;
    // The AVR loaders are not in the built-in store: the AVR card is done without its EEPROM.
    enable.eep = isPicDirect(card);
    FuseModel fuses;
    fuses.avr.lockBit1 = fuses.avr.lockBit2 = false;
    RefreshPicPage(devices, fuses);
    TActions actions(host, clock, devices, com, options, enable, fuses, mainView);
    actions.setView(&view);
    com.Connect();
    if (!com.linkReady()) {
        state.SkipWithError("no link to kelvano-boxsim");
        return;
    }

    std::mt19937 rng(42);
    const unsigned mask = isPicCode(card) ? 0x3FFF : 0xFFFF;
    for (int i = 0; i < devices.ProgBuf.length(); ++i) devices.ProgBuf[i] = uint16_t(rng() & mask);
    for (int i = 0; i < devices.DataBuf.length(); ++i) devices.DataBuf[i] = uint16_t(rng() & 0xFF);
    for (int i = 0; i < devices.EepBuf.length(); ++i) devices.EepBuf[i] = uint16_t(rng() & 0xFF);

    double floorSeconds = 0;
    double seconds = 0;
    for (auto _ : state) {
        bytes = 0;
        clock.pausedMs = 0;
        const auto start = std::chrono::steady_clock::now();
        // The whole action in one tick of the runner, as the window runs it; the closing
        // exchanges after the time is taken.
        actions.start(ActionCode::Program);
        actions.Startup();
        const auto end = std::chrono::steady_clock::now();
        actions.FormClose();
        if (!actions.result().ready) {
            state.SkipWithError(qPrintable(host.errors.join(QStringLiteral("; "))));
            break;
        }
        // The runner shows "READY" for 500 ms before it closes: not part of programming.
        clock.pausedMs -= 500;
        seconds = std::chrono::duration<double>(end - start).count() - 0.5;
        state.SetIterationTime(seconds);
        floorSeconds = (baud > 0 ? bytes * 10.0 / baud : 0.0) + clock.pausedMs / 1000.0;
        state.counters["line_bytes"] = double(bytes);
        state.counters["pauses_s"] = clock.pausedMs / 1000.0;
    }
    state.counters["floor_s"] = floorSeconds;
    state.counters["measured_s"] = seconds;
    state.counters["over_floor_pct"] =
        floorSeconds > 0 ? (seconds / floorSeconds - 1.0) * 100.0 : 0;
    com.Disconnect();
    box.terminate();
    box.waitForFinished(5000);
}

void BM_ProgramVerifyPic16F84(benchmark::State& state) {
    programAndVerify(state, 10, int(state.range(0)));
}
void BM_ProgramVerifyAvrFun2(benchmark::State& state) {
    programAndVerify(state, 20, int(state.range(0)));
}

BENCHMARK(BM_ProgramVerifyPic16F84)
    ->Arg(115200)
    ->Arg(0)
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kSecond);
BENCHMARK(BM_ProgramVerifyAvrFun2)
    ->Arg(115200)
    ->Arg(0)
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kSecond);

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
