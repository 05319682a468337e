#include "cli/CliLink.h"

#include <QCoreApplication>
#include <cstdio>

#include "link/RecordingSerialPort.h"
#include "sim/ReplayScript.h"

namespace kelvano {

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
    options.portIndex = 0;
    const QString transcript = args.options.value(QStringLiteral("transcript"));
    if (!transcript.isEmpty() && !recorder_.start(transcript, {QStringLiteral("kelvano-cli"),
                                                               args.card, repeatableCommand()})) {
        std::fprintf(stderr, "kelvano-cli: cannot write the transcript %s: %s\n",
                     qPrintable(transcript), qPrintable(recorder_.errorString()));
        transcriptOk_ = false;
    }
    // --trace FILE: the simulated box writes every exchange to FILE.
    if (simulated_ && args.options.contains(QStringLiteral("trace")))
        ports_.simBox().setTraceFile(args.options.value(QStringLiteral("trace")));
    com_ = std::make_unique<TCom>(host, clock, view, options, usb_,
                                  RecordingSerialPort::wrap(ports_.factory(), recorder_),
                                  session_.store());
}

int CliLink::finish(int status) {
    // A replay that departed, or that the command left before its end, is no pass.
    const QString report = replay_ ? replay_->report() : QString();
    if (!report.isEmpty()) {
        std::fprintf(stderr, "kelvano-cli: %s %s\n", qPrintable(replayPath_), qPrintable(report));
        if (status == 0) status = 1;
    }
    recorder_.stop(status);
    return status;
}

}  // namespace kelvano
