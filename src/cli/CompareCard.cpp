// kelvano-cli compare --port: the card side of the comparison, driven like an action.
#include <cstdio>

#include "actions/Compare.h"
#include "cli/CliLink.h"
#include "cli/CliParser.h"
#include "cli/Commands.h"
#include "cli/TerminalHost.h"
#include "device/Models.h"

namespace kelvano {

int runCardCompare(const CliArgs& args, TDevices& buffers, FuseModel& fuses, TerminalHost& host,
                   std::optional<CompareReport>& report, bool& readFailed) {
    if (!isPicCode(args.card) && !isAvrAction(args.card)) {
        std::fprintf(stderr, "kelvano-cli: no action handles card type %d (see 'cards')\n",
                     args.card);
        return 2;
    }
    EnableBoxes enable;
    QString error;
    if (args.options.contains(QStringLiteral("memories")) &&
        !parseMemories(args.options.value(QStringLiteral("memories")), enable, error)) {
        std::fprintf(stderr, "kelvano-cli: %s\n", qPrintable(error));
        return 2;
    }
    cbEepMemClick(args.card, enable);
    if (isPicCode(args.card)) ReadPicPage(buffers, fuses);

    Options options;
    options.warnEnable = !args.options.contains(QStringLiteral("no-warnings"));
    options.smartAuto = !args.options.contains(QStringLiteral("no-wait"));
    RealClock clock;
    NullMainView mainView;
    CliLink link(host, clock, mainView, options, args);
    if (!link.transcriptOk()) return 1;
    TCom& com = link.com();
    CardCompare compare(host, clock, buffers, com, options, enable, mainView);
    StatusLineView view;
    compare.runner().setView(&view);
    compare.runner().setControllerCheck(!args.options.contains(QStringLiteral("force")));
    link.attach(compare.runner());
    if (!link.connect()) {
        link.notUp(host);
        return link.finish(ExitUnreadable);
    }
    compare.prepare();
    runUntilFormCloses(view.onClose,
                       [&] { compare.runner().start(ActionCode::Read, compare.memories()); });
    compare.runner().FormClose();
    com.Disconnect();
    report = compare.report();
    readFailed = compare.failed();
    return link.finish(0);
}

}  // namespace kelvano
