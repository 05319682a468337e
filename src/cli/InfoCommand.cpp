// kelvano-cli info: connects to the box as the window does, prints its identity and the state
// of its firmware, and disconnects.
#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonObject>
#include <cstdio>
#include <memory>

#include "cli/CliLink.h"
#include "cli/CliParser.h"
#include "cli/Commands.h"
#include "cli/TerminalHost.h"
#include "link/LibusbBackend.h"
#include "link/QtSerialPortImpl.h"
#include "link/uCom.h"
#include "sim/SimBox.h"
#include "sim/SimSerialPort.h"

namespace kelvano {

namespace {

// The main window as far as a connect reaches it: the status pane and the DEBUG memo.
class InfoView final : public NullMainView {
public:
    void setQxPane(const QString& text) override { pane = text; }
    void appendDebug(const QString& line) override { debug << line; }
    QString pane;
    QStringList debug;
};

}  // namespace

int runInfo(const CliArgs& args) {
    if (args.port.isEmpty()) {
        std::fputs("kelvano-cli: info needs --port NAME\n(see kelvano-cli --help)\n", stderr);
        return 2;
    }
    TerminalHost host(args.options.contains(QStringLiteral("yes")));
    RealClock clock;
    InfoView view;
    Options options;
    CliLink link(host, clock, view, options, args);
    if (!link.transcriptOk()) return 1;
    TCom& com = link.com();

    const bool ready = link.connect();
    // The disconnect empties the pane and clears the USB state.
    const QString pane = view.pane;
    const QString firmware =
        !ready || com.UsbConnected ? QString() : TCom::firmwareText(com.firmware());
    com.Disconnect();
    if (!ready) {
        if (!link.interrupted() && host.errorCount() == 0)
            std::fputs("kelvano-cli: the box identified itself but did not answer afterwards\n",
                       stderr);
        return link.finish(printResult(ExitFailed, {}, {{"box", QJsonValue()}}));
    }
    const ImageStore& image = link.session().store();
    const QString store = image.problem().isEmpty() ? image.description() : image.problem();
    QString human = QStringLiteral("Box: %1\n").arg(pane);
    if (!firmware.isEmpty()) human += QStringLiteral("Firmware: %1\n").arg(firmware);
    for (const QString& line : view.debug) human += QStringLiteral("Debug: %1\n").arg(line);
    human += QStringLiteral("Store: %1\n").arg(store);
    const QJsonObject json{{"box", pane},
                           {"firmware", firmware.isEmpty() ? QJsonValue() : QJsonValue(firmware)},
                           {"store", store},
                           {"debug", QJsonArray::fromStringList(view.debug)}};
    return link.finish(printResult(ExitDone, human, json));
}

}  // namespace kelvano
