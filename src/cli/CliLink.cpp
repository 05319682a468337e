#include "cli/CliLink.h"

#include <QCoreApplication>
#include <cstdio>

#include "link/RecordingSerialPort.h"

namespace kelvano {

namespace {
// The command line without the port and the transcript: what repeats the run on another port.
QString repeatableCommand() {
    QStringList args = QCoreApplication::arguments().mid(1);
    QStringList kept;
    for (int i = 0; i < args.size(); ++i) {
        const QString& a = args.at(i);
        if (a == QLatin1String("--port") || a == QLatin1String("--transcript")) {
            ++i;
            continue;
        }
        if (a.startsWith(QLatin1String("--port=")) || a.startsWith(QLatin1String("--transcript=")))
            continue;
        kept << a;
    }
    return kept.join(QLatin1Char(' '));
}
}  // namespace

CliLink::CliLink(Host& host, Clock& clock, MainView& view, Options& options, const CliArgs& args,
                 const QString& programDir)
    : session_(Session::Folders{programDir, {}}),
      ports_(session_, clock, args.card),
      simulated_(Session::isSimulatorPort(args.port)),
      usbBackend_(Session::isUsbPort(args.port) ? session_.makeUsbBackend() : nullptr),
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
    com_ = std::make_unique<TCom>(host, clock, view, options, usb_,
                                  RecordingSerialPort::wrap(ports_.factory(), recorder_),
                                  session_.store());
}

int CliLink::finish(int status) {
    recorder_.stop(status);
    return status;
}

}  // namespace kelvano
