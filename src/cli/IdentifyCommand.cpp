// kelvano-cli identify: the controller on the card in the box, and the card types that carry it.
#include <cstdio>

#include "actions/uActions.h"
#include "cli/CliLink.h"
#include "cli/Commands.h"
#include "cli/TerminalHost.h"
#include "device/Identity.h"
#include "device/Models.h"

namespace kelvano {

namespace {

// The identity on standard output; with --card, whether it is that card type's.
int printIdentity(const CliArgs& args, const ControllerIdentity& identity) {
    for (const QString& line : identityReport(identity)) std::printf("%s\n", qPrintable(line));
    int status = 0;
    if (args.cardGiven) {
        const bool fits = identityFits(identity, args.card);
        std::printf("Card type %d: %s\n", args.card,
                    fits ? "this controller" : "another controller");
        status = fits ? 0 : 1;
    }
    std::fflush(stdout);
    return status;
}

}  // namespace

int runIdentify(const CliArgs& args) {
    if (args.port.isEmpty()) {
        std::fputs("kelvano-cli: identify needs --port NAME\n(see kelvano-cli --help)\n", stderr);
        return 2;
    }
    TerminalHost host(args.options.contains(QStringLiteral("yes")));
    RealClock clock;
    NullMainView mainView;
    Options options;
    options.smartAuto = !args.options.contains(QStringLiteral("no-wait"));
    TDevices devices;
    devices.DeviceId = args.card;
    devices.ApplyBuffers(nullptr, false);
    EnableBoxes enable;
    FuseModel fuses;

    CliLink link(host, clock, mainView, options, args);
    if (!link.transcriptOk()) return 1;
    TCom& com = link.com();
    TActions runner(host, clock, devices, com, options, enable, fuses, mainView);
    StatusLineView view(false);
    runner.setView(&view);
    link.attach(runner);
    if (!link.connect()) {
        link.notUp(host);
        return link.finish(1);
    }
    runUntilFormCloses(view.onClose, [&] { runner.start(ActionCode::Identify); });
    runner.FormClose();
    com.Disconnect();
    const bool identified = runner.result().ready && runner.identity().read();
    return link.finish(identified ? printIdentity(args, runner.identity()) : 1);
}

QString identifyCommandHelp() {
    return QStringLiteral(
        "\n"
        "The controller on the card:\n"
        "  kelvano-cli --port NAME [--card CODE] [--no-wait] identify\n"
        "                       wait for a card, read its controller's identity (an AVR's\n"
        "                       signature bytes, a PIC's device ID word at 2006; an AVR is\n"
        "                       asked first) and list the card types with that controller.\n"
        "                       The external EEPROM's size cannot be told from the controller.\n"
        "                       With --port SIM the simulated card is of the --card type.\n"
        "                       Exit status: 0 identified; 1 no controller answered, or --card\n"
        "                       was given and the controller is not that card type's.\n"
        "                       The actions (read ... program) make the same check first and\n"
        "                       stop before anything on the card changes when the controller\n"
        "                       is not the --card type's; --force lets them go on.\n");
}

}  // namespace kelvano
