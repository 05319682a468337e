// The front end of kelvano-cli: the card type an action runs as, its first lines, the
// command's run and the standard output's last word on the exit status.
#include <QCoreApplication>
#include <QFileInfo>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "actions/ActionTypes.h"
#include "cli/CliParser.h"
#include "cli/TerminalHost.h"
#include "device/Models.h"
#include "device/uDevices.h"
#include "session/Settings.h"
#include "session/SettingsLocation.h"

namespace kelvano {

namespace {
int outputError = 0;  // errno of the first failed write to the standard output
}  // namespace

bool writeOut(const QByteArray& text) {
    errno = 0;
    const size_t size = static_cast<size_t>(text.size());
    if (std::fwrite(text.constData(), 1, size, stdout) == size && std::fflush(stdout) == 0)
        return true;
    if (outputError == 0) outputError = errno;
    return false;
}

int finishOutput(int status) {
    errno = 0;
    const bool flushed = std::fflush(stdout) == 0 && std::ferror(stdout) == 0;
    if (!flushed && outputError == 0) outputError = errno;
    errno = 0;
    if (std::fclose(stdout) != 0 && outputError == 0) outputError = errno ? errno : EIO;
    if (flushed && outputError == 0) return status;
    // A reader that stops early (a pager, "| head") has what it wanted; unless the broken
    // pipe's signal is ignored, it has ended the program before this point.
    if (outputError == EPIPE) return status;
    std::fprintf(stderr, "kelvano-cli: the standard output could not be written%s%s\n",
                 outputError ? ": " : "", outputError ? std::strerror(outputError) : "");
    return status == ExitDone || status == ExitPartial ? ExitFailed : status;
}

namespace {

bool isAction(const QString& command) {
    static const QStringList actions{"read", "erase", "blank", "verify", "program"};
    return actions.contains(command);
}

// Without --card, the card type of the settings file the window uses. False with `error` when
// an action has no card type to take: there is no settings file on this machine yet.
bool cardFromSettings(CliArgs& args, const CliCommand& command, QString& error) {
    if (args.cardGiven || !takes(command, "card")) return true;
    const QString file = SettingsLocation::choose(QCoreApplication::applicationDirPath()).file();
    if (!QFileInfo(file).isFile()) {
        if (!isAction(args.command)) return true;
        error = QStringLiteral(
                    "%1 needs --card CODE: there is no settings file (%2) to take the card type "
                    "from (see 'cards')")
                    .arg(args.command, file);
        return false;
    }
    SettingsStore settings(file);
    settings.setSection(QStringLiteral("Config"));
    const int card = settings.readInt(QStringLiteral("Device"), args.card);
    if (!findDevice(card)) {
        error = QStringLiteral(
                    "the settings file %1 names no card type of 'cards' (%2): give "
                    "--card CODE")
                    .arg(file)
                    .arg(card);
        return false;
    }
    args.card = card;
    args.cardSource = file;
    return slotsOffered(args, error);
}

// The first lines of an action: the card type it runs as and where that came from, and for
// program the memories it will write.
void announceAction(const CliArgs& args) {
    const TDeviceEntry* row = findDevice(args.card);
    if (!row || !row->actions || !isAction(args.command)) return;
    note(QStringLiteral("Card type %1 (%2), %3")
             .arg(args.card)
             .arg(cardName(*row))
             .arg(args.cardSource.isEmpty()
                      ? QStringLiteral("from --card")
                      : QStringLiteral("from the settings file %1").arg(args.cardSource)));
    if (args.command != QLatin1String("program")) return;
    EnableBoxes enable;
    QString error;
    if (args.options.contains(QStringLiteral("memories")) &&
        !parseMemories(args.options.value(QStringLiteral("memories")), enable, error))
        return;  // the action reports the malformed list
    QStringList written;
    for (const QString& m : cardMemories(*row, enable, args.loads)) written << m;
    note(QStringLiteral("Writes %1 (--memories narrows this)")
             .arg(written.join(QStringLiteral(", "))));
}

}  // namespace

int runCli(const QStringList& arguments) {
    CliArgs args;
    CliParse parsed = parseCommandLine(arguments, args);
    QString error;
    if (parsed.outcome == CliParse::Run && !cardFromSettings(args, *parsed.command, error))
        parsed = {CliParse::UsageError, error, nullptr};
    switch (parsed.outcome) {
        case CliParse::Help:
            std::fputs(qPrintable(parsed.text), stdout);
            return finishOutput(ExitDone);
        case CliParse::UsageError:
            std::fprintf(stderr, "kelvano-cli: %s\n(see kelvano-cli --help)\n",
                         qPrintable(parsed.text));
            return ExitUsage;
        case CliParse::Run:
            break;
    }
    setOutputMode({args.options.contains(QStringLiteral("json")),
                   args.options.contains(QStringLiteral("quiet")),
                   args.options.contains(QStringLiteral("verbose"))});
    announceAction(args);
    return finishOutput(parsed.command->run(args));
}

}  // namespace kelvano
