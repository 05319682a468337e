// kelvano-cli identify: the controller on the card in the box, and the card types that carry it.
#include <QJsonArray>
#include <QJsonObject>
#include <cstdio>

#include "actions/uActions.h"
#include "cli/CliLink.h"
#include "cli/CliParser.h"
#include "cli/Commands.h"
#include "cli/TerminalHost.h"
#include "device/Identity.h"
#include "device/Models.h"

namespace kelvano {

namespace {

// The identity on standard output; with --card, whether it is that card type's.
int printIdentity(const CliArgs& args, const ControllerIdentity& identity) {
    const QStringList lines = identityReport(identity);
    QString human = lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
    QJsonArray cards;
    for (int code : identity.cardTypes) cards.append(code);
    QJsonObject json{{"controller", identity.name},
                     {"known", identity.known},
                     {"read", identity.rawText()},
                     {"cardTypes", cards},
                     {"report", QJsonArray::fromStringList(lines)}};
    int status = 0;
    if (args.cardGiven) {
        const bool fits = identityFits(identity, args.card);
        human += QStringLiteral("Card type %1: %2\n")
                     .arg(args.card)
                     .arg(fits ? QStringLiteral("this controller")
                               : QStringLiteral("another controller"));
        json.insert(QStringLiteral("card"), args.card);
        json.insert(QStringLiteral("fits"), fits);
        status = fits ? 0 : 1;
    }
    return printResult(status, human, json);
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

}  // namespace kelvano
