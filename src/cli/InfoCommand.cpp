// kelvano-cli info: connects to the box as the window does, prints its identity and the state
// of its firmware, and disconnects.
#include <QCoreApplication>
#include <cstdio>
#include <memory>

#include "cli/CliLink.h"
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
    if (ready) {
        std::printf("Box: %s\n", qPrintable(view.pane));
        if (!com.UsbConnected)
            std::printf("Firmware: %s\n", qPrintable(TCom::firmwareText(com.firmware())));
        for (const QString& line : view.debug) std::printf("Debug: %s\n", qPrintable(line));
        std::fflush(stdout);
    } else if (host.errorCount() == 0) {
        std::fputs("kelvano-cli: the box identified itself but did not answer afterwards\n",
                   stderr);
    }
    com.Disconnect();
    return link.finish(ready ? 0 : 1);
}

QString infoCommandHelp() {
    return QStringLiteral(
        "\n"
        "The box:\n"
        "  kelvano-cli --port NAME [--transcript FILE] info\n"
        "                       connect, print the box's identity (as the status bar shows it)\n"
        "                       and the state of its firmware, then disconnect. NAME is a serial\n"
        "                       port, USB, or SIM (the simulated box)\n");
}

}  // namespace kelvano
