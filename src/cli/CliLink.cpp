#include "cli/CliLink.h"

#include <fcntl.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QSocketNotifier>
#include <csignal>
#include <cstdio>

#include "actions/uActions.h"
#include "cli/TerminalHost.h"
#include "link/RecordingSerialPort.h"
#include "sim/ReplayScript.h"

namespace kelvano {

// Ctrl-C and SIGTERM: the handler only writes a byte into a pipe, and the event loop (which
// the runner keeps turning, also inside an action) reads it and presses Abort, so that the
// action stops at its next step and the window's closing exchanges leave the box idle. A
// second signal ends the program at once.
class InterruptGuard {
public:
    explicit InterruptGuard(std::function<void()> onInterrupt)
        : onInterrupt_(std::move(onInterrupt)) {
        if (pipe(fds_) != 0) return;
        for (int fd : fds_) fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
        writeFd_ = fds_[1];
        signalled_ = 0;
        notifier_ = std::make_unique<QSocketNotifier>(fds_[0], QSocketNotifier::Read);
        QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] {
            char c;
            while (read(fds_[0], &c, 1) > 0) {
            }
            if (!interrupted_) {
                interrupted_ = true;
                if (onInterrupt_) onInterrupt_();
            }
        });
        struct sigaction sa {};
        sa.sa_handler = &InterruptGuard::onSignal;
        sa.sa_flags = SA_RESETHAND;
        sigemptyset(&sa.sa_mask);
        sigaction(SIGINT, &sa, &oldInt_);
        sigaction(SIGTERM, &sa, &oldTerm_);
    }
    ~InterruptGuard() {
        sigaction(SIGINT, &oldInt_, nullptr);
        sigaction(SIGTERM, &oldTerm_, nullptr);
        writeFd_ = -1;
        notifier_.reset();
        for (int fd : fds_)
            if (fd >= 0) close(fd);
    }
    InterruptGuard(const InterruptGuard&) = delete;
    InterruptGuard& operator=(const InterruptGuard&) = delete;

    // A signal came (also one whose byte the event loop has not read yet).
    bool interrupted() const { return interrupted_ || signalled_ != 0; }

private:
    static void onSignal(int) {
        signalled_ = 1;
        const char c = 1;
        if (writeFd_ < 0) return;
        const ssize_t written = write(writeFd_, &c, 1);
        (void)written;  // a full pipe already holds a byte: nothing is lost
    }

    static inline volatile sig_atomic_t signalled_ = 0;
    static inline volatile int writeFd_ = -1;
    std::function<void()> onInterrupt_;
    int fds_[2] = {-1, -1};
    std::unique_ptr<QSocketNotifier> notifier_;
    struct sigaction oldInt_ {
    }, oldTerm_{};
    bool interrupted_ = false;
};

namespace {
// The command line without the port and the transcripts: what repeats the run on another port.
QString repeatableCommand() {
    QStringList args = QCoreApplication::arguments().mid(1);
    QStringList kept;
    for (int i = 0; i < args.size(); ++i) {
        const QString& a = args.at(i);
        if (a == QLatin1String("--port") || a == QLatin1String("--transcript") ||
            a == QLatin1String("--replay")) {
            ++i;
            continue;
        }
        if (a.startsWith(QLatin1String("--port=")) ||
            a.startsWith(QLatin1String("--transcript=")) ||
            a.startsWith(QLatin1String("--replay=")))
            continue;
        kept << a;
    }
    return kept.join(QLatin1Char(' '));
}
// The USB box of --replay FILE, or nullptr (with the reason on standard error) when FILE is
// not a USB transcript or the port is not USB.
std::unique_ptr<ReplayUsbBackend> replayBackend(const QString& path, const QString& port) {
    if (!Session::isUsbPort(port)) {
        std::fprintf(stderr,
                     "kelvano-cli: --replay plays the USB box of a transcript and needs --port "
                     "USB (serial transcripts: kelvano-boxsim --replay)\n");
        return nullptr;
    }
    QString error;
    std::optional<ReplayScript> script = ReplayScript::load(path, &error);
    if (!script) {
        std::fprintf(stderr, "kelvano-cli: %s: %s\n", qPrintable(path), qPrintable(error));
        return nullptr;
    }
    if (!script->usb) {
        std::fprintf(stderr,
                     "kelvano-cli: %s is a serial transcript: replay it with kelvano-boxsim "
                     "--replay\n",
                     qPrintable(path));
        return nullptr;
    }
    return std::make_unique<ReplayUsbBackend>(std::move(*script));
}

std::unique_ptr<UsbBackend> usbBackendFor(Session& session, const CliArgs& args,
                                          ReplayUsbBackend*& replay, bool& ok) {
    const QString path = args.options.value(QStringLiteral("replay"));
    if (path.isEmpty()) return Session::isUsbPort(args.port) ? session.makeUsbBackend() : nullptr;
    std::unique_ptr<ReplayUsbBackend> backend = replayBackend(path, args.port);
    ok = backend != nullptr;
    replay = backend.get();
    return backend;
}

}  // namespace

CliLink::CliLink(Host& host, Clock& clock, MainView& view, Options& options, const CliArgs& args,
                 const QString& programDir)
    : session_(Session::Folders{programDir, {}}),
      ports_(session_, clock, args.card),
      simulated_(Session::isSimulatorPort(args.port)),
      usbBackend_(usbBackendFor(session_, args, replay_, transcriptOk_)),
      replayPath_(args.options.value(QStringLiteral("replay"))),
      recorder_(clock),
      recordingUsb_(usbBackend_ ? std::make_unique<RecordingUsbBackend>(*usbBackend_, recorder_)
                                : nullptr),
      usb_(recordingUsb_.get()) {
    options.ports = {args.port};
    portName_ = args.port;
    options.portIndex = 0;
    options.waitFactor = args.waitFactor;
    const QString transcript = args.options.value(QStringLiteral("transcript"));
    if (!transcript.isEmpty() && !recorder_.start(transcript, {QStringLiteral("kelvano-cli"),
                                                               args.card, repeatableCommand()})) {
        std::fprintf(stderr, "kelvano-cli: cannot write the transcript %s: %s\n",
                     qPrintable(transcript), qPrintable(recorder_.errorString()));
        transcriptOk_ = false;
    }
    // --trace FILE: the simulated box writes every exchange to FILE.
    if (args.options.contains(QStringLiteral("trace")) && !traceFile(args)) transcriptOk_ = false;
    com_ = std::make_unique<TCom>(host, clock, view, options, usb_,
                                  RecordingSerialPort::wrap(ports_.factory(), recorder_),
                                  session_.store());
    if (outputMode().verbose)
        com_->setExchangeObserver([this](const TCom::ExchangeTiming& exchange) {
            for (const QString& line : waits_.add(exchange)) detail(line);
        });
}

CliLink::~CliLink() = default;

bool CliLink::traceFile(const CliArgs& args) {
    const QString path = args.options.value(QStringLiteral("trace"));
    if (!simulated_) {
        std::fprintf(stderr,
                     "kelvano-cli: --trace is written by the simulated box: it needs --port SIM "
                     "(--transcript records the exchanges with any box)\n");
        return false;
    }
    QFile file(path);
    if (!file.open(QIODevice::Append)) {
        std::fprintf(stderr, "kelvano-cli: cannot write the trace %s: %s\n", qPrintable(path),
                     qPrintable(file.errorString()));
        return false;
    }
    ports_.simBox().setTraceFile(path);
    return true;
}

void CliLink::attach(TActions& runner, std::function<void()> onInterrupt) {
    runner_ = &runner;
    onInterrupt_ = std::move(onInterrupt);
    com_->setProgressView(&runner);
}

bool CliLink::connect() {
    guard_ = std::make_unique<InterruptGuard>([this] {
        if (onInterrupt_) onInterrupt_();
        std::fputs(runner_ ? "kelvano-cli: interrupted, ending the action\n"
                           : "kelvano-cli: interrupted\n",
                   stderr);
        if (runner_) runner_->ButCancelClick();
    });
    detail(QStringLiteral("Connecting to %1").arg(portName_));
    QElapsedTimer took;
    took.start();
    com_->Connect();
    const bool ready = com_->linkReady() && !interrupted();
    if (ready)
        detail(QStringLiteral("Connected in %1 ms; firmware %2")
                   .arg(took.elapsed())
                   .arg(TCom::firmwareText(com_->firmware())));
    return ready;
}

void CliLink::notUp(const TerminalHost& host) {
    if (!interrupted() && host.errorCount() == 0)
        std::fputs("kelvano-cli: the box did not come up\n", stderr);
    com_->Disconnect();
}

bool CliLink::interrupted() const { return guard_ && guard_->interrupted(); }

int CliLink::finish(int status) {
    if (interrupted()) status = 130;
    guard_.reset();
    // A replay that departed, or that the command left before its end, is no pass.
    const QString report = replay_ ? replay_->report() : QString();
    if (!report.isEmpty()) {
        std::fprintf(stderr, "kelvano-cli: %s %s\n", qPrintable(replayPath_), qPrintable(report));
        if (status == 0) status = 1;
    }
    for (const QString& line : waits_.summary()) detail(line);
    recorder_.stop(status);
    return status;
}

}  // namespace kelvano
