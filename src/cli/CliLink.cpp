#include "cli/CliLink.h"

#include <QCoreApplication>
#include <cstdio>

#include "link/QtSerialPortImpl.h"
#include "link/RecordingSerialPort.h"
#include "sim/SimSerialPort.h"

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

CliLink::CliLink(Host& host, Clock& clock, MainView& view, Options& options, const CliArgs& args)
    : recorder_(clock), recordingUsb_(usbBackend_, recorder_), usb_(&recordingUsb_) {
    const QString& port = args.port;
    options.ports = {port};
    options.portIndex = 0;
    if (port == QLatin1String("SIM"))
        box_ = std::make_unique<SimBox>(SimBox::Model::QxBase, args.card);
    SerialPortFactory factory = [this, &clock](const QString&) -> std::unique_ptr<SerialPort> {
        if (box_) return std::make_unique<SimSerialPort>(*box_, clock);
        return makeSystemSerialPort();
    };
    const QString transcript = args.options.value(QStringLiteral("transcript"));
    if (!transcript.isEmpty() &&
        !recorder_.start(transcript, {QStringLiteral("kelvano-cli"), args.card, repeatableCommand()})) {
        std::fprintf(stderr, "kelvano-cli: cannot write the transcript %s: %s\n",
                     qPrintable(transcript), qPrintable(recorder_.errorString()));
        transcriptOk_ = false;
    }
    com_ = std::make_unique<TCom>(host, clock, view, options, usb_,
                                  RecordingSerialPort::wrap(factory, recorder_),
                                  ImageStore::programStore(QCoreApplication::applicationDirPath()));
}

int CliLink::finish(int status) {
    recorder_.stop(status);
    return status;
}

}  // namespace kelvano
