#include "cli/CliParser.h"

namespace kelvano {

const QStringList& cliValueOptions() {
    static const QStringList names{"port", "card", "load", "save", "type", "memories",
                                   "lock-bits", "fuse", "mega163", "trace",
                                   "transcript", "store"};
    return names;
}

namespace {
bool parseSlotFile(const QString& value, QPair<int, QString>& out) {
    const int eq = value.indexOf(QLatin1Char('='));
    if (eq <= 0) return false;
    bool ok = false;
    const int slot = value.left(eq).toInt(&ok);
    if (!ok || slot < 1 || slot > 3 || eq + 1 >= value.size()) return false;
    out = {slot, value.mid(eq + 1)};
    return true;
}
}  // namespace

bool parseCliArgs(const QStringList& arguments, CliArgs& args, QString& error) {
    for (int i = 0; i < arguments.size(); ++i) {
        const QString& a = arguments.at(i);
        if (!a.startsWith(QLatin1String("--")) || a == QLatin1String("--")) {
            if (args.command.isEmpty()) args.command = a;
            else args.positional.append(a);
            continue;
        }
        QString name = a.mid(2);
        QString value;
        bool hasValue = false;
        const int eq = name.indexOf(QLatin1Char('='));
        if (eq >= 0) {
            value = name.mid(eq + 1);
            name = name.left(eq);
            hasValue = true;
        }
        if (cliValueOptions().contains(name)) {
            if (!hasValue) {
                if (i + 1 >= arguments.size()) {
                    error = QStringLiteral("option --%1 needs a value").arg(name);
                    return false;
                }
                value = arguments.at(++i);
            }
            if (name == QLatin1String("port")) {
                args.port = value;
            } else if (name == QLatin1String("card")) {
                bool ok = false;
                args.card = value.toInt(&ok);
                if (!ok) {
                    error = QStringLiteral("--card takes a card type code, not \"%1\"").arg(value);
                    return false;
                }
                args.cardGiven = true;
            } else if (name == QLatin1String("load") || name == QLatin1String("save")) {
                QPair<int, QString> slotFile;
                if (!parseSlotFile(value, slotFile)) {
                    error = QStringLiteral("--%1 takes SLOT=FILE with SLOT 1, 2 or 3, not \"%2\"")
                                .arg(name, value);
                    return false;
                }
                (name == QLatin1String("load") ? args.loads : args.saves).append(slotFile);
            } else {
                args.options.insert(name, value);
            }
        } else {
            args.options.insert(name, hasValue ? value : QStringLiteral("1"));
        }
    }
    return true;
}

QString cliUsage() {
    return QStringLiteral(
        "Usage: kelvano-cli [options] COMMAND [options]\n"
        "\n"
        "Drives the STRAVINEX programmer box and converts memory image files from a terminal.\n"
        "Exit status: 0 success, 1 failure (the error text goes to standard error), 2 usage error.\n"
        "\n"
        "Common options:\n"
        "  --card CODE          card type code (see 'cards'; default 10)\n"
        "  --port NAME          serial port of the box, \"USB\" or \"SIM\" (the simulated box)\n"
        "  --load SLOT=FILE     load FILE into slot SLOT (repeatable, loaded in the order given)\n"
        "  --save SLOT=FILE     save slot SLOT to FILE (repeatable)\n"
        "  --help               this text\n");
}

}  // namespace kelvano
