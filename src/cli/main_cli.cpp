#include <QCoreApplication>
#include <cstdio>

#include "cli/CliParser.h"
#include "cli/Commands.h"

using kelvano::CliArgs;

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("kelvano-cli"));
    QStringList arguments = QCoreApplication::arguments();
    arguments.removeFirst();

    CliArgs args;
    QString error;
    if (!kelvano::parseCliArgs(arguments, args, error)) {
        std::fprintf(stderr, "kelvano-cli: %s\n(see kelvano-cli --help)\n", qPrintable(error));
        return 2;
    }
    if (args.options.contains(QStringLiteral("help")) || args.command == QLatin1String("help")) {
        const QString help = kelvano::cliUsage() + kelvano::fileCommandsHelp() +
                             kelvano::infoCommandHelp() + kelvano::actionCommandsHelp() +
                             kelvano::storeCommandHelp();
        std::fputs(qPrintable(help), stdout);
        return 0;
    }
    const QString& c = args.command;
    if (c == QLatin1String("cards")) return kelvano::runCards(args);
    if (c == QLatin1String("dump")) return kelvano::runDump(args);
    if (c == QLatin1String("convert")) return kelvano::runConvert(args);
    if (c == QLatin1String("info")) return kelvano::runInfo(args);
    if (c == QLatin1String("store")) return kelvano::runStore(args);
    static const char* const actions[] = {"read", "erase", "blank", "verify", "program"};
    for (int i = 0; i < 5; ++i)
        if (c == QLatin1String(actions[i])) return kelvano::runAction(args, i + 1);
    std::fprintf(stderr, "kelvano-cli: %s\n(see kelvano-cli --help)\n",
                 c.isEmpty() ? "no command given" : qPrintable("unknown command " + c));
    return 2;
}
