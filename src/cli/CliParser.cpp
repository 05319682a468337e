// The command line of kelvano-cli: one subcommand per command, its help generated from the
// tables below, options before or after the command ("--port SIM read" and "read --port SIM"
// are one command line).
//
// Adding a command:
//   1. Write `int runX(const CliArgs&)` and `QString xHelp()` in a file of their own and
//      declare them in Commands.h. runX reads args.port, args.card, args.loads, args.saves,
//      args.options ("name" -> value, "1" for a flag) and args.positional, and returns an
//      exit status (CliExit).
//   2. Add each option that no command has yet to the option table in cliOptions(): name,
//      value name (nullptr for a flag), one line of help, group. An option of every command
//      that talks to a box also goes into kBoxOptions, which those commands' rows share.
//   3. Add one row to cliCommands(): name, one line for the command list, the options it
//      reads, runX, xHelp, and the words it takes after the command when it takes any
//      (they arrive in args.positional, for instance "run FILE" of a command "job").
// A command accepts exactly the options of its row; every other one is a usage error.
#include "cli/CliParser.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>

#include "device/uDevices.h"

namespace kelvano {

namespace {

const char* const kCommon = "Options of the box and the card";
const char* const kFiles = "Files";
const char* const kAction = "Actions";
const char* const kStore = "Image store";
const char* const kJob = "Production";

std::vector<const char*> operator+(std::vector<const char*> a, const std::vector<const char*>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// The options of the commands that talk to a box, and those of the actions on a card.
const std::vector<const char*> kBoxOptions{"port", "card", "yes", "transcript", "replay"};
const std::vector<const char*> kActionOptions =
    kBoxOptions + std::vector<const char*>{"load",         "save",        "memories", "verify",
                                           "always-erase", "no-warnings", "no-wait",  "lock-bits",
                                           "fuse",         "mega163",     "trace",    "force",
                                           "type"};

int runRead(const CliArgs& a) { return runAction(a, 1); }
int runErase(const CliArgs& a) { return runAction(a, 2); }
int runBlank(const CliArgs& a) { return runAction(a, 3); }
int runVerify(const CliArgs& a) { return runAction(a, 4); }
int runProgram(const CliArgs& a) { return runAction(a, 5); }

}  // namespace

const std::vector<CliOption>& cliOptions() {
    static const std::vector<CliOption> table{
        {"port", "NAME", "serial port of the box, USB, or SIM (a simulated box)", kCommon},
        {"card", "CODE", "card type code (see 'cards'; default 10)", kCommon},
        {"yes", nullptr, "answer every warning with OK", kCommon},
        {"load", "SLOT=FILE", "load FILE into slot SLOT, in the order given", kFiles},
        {"save", "SLOT=FILE", "save slot SLOT to FILE", kFiles},
        {"type", "hex|bin", "file type for --save names without extension (default hex)", kFiles},
        {"memories", "LIST", "comma list of prog, data, config, eeprom (default all)", kAction},
        {"verify", nullptr, "verify after programming", kAction},
        {"always-erase", nullptr, "erase the controller before programming", kAction},
        {"no-warnings", nullptr, "no warning before the controller's contents are lost", kAction},
        {"no-wait", nullptr, "start at once instead of waiting for a card", kAction},
        {"lock-bits", "none|1|2|both", "AT90S cards: lock bits to program (default both)", kAction},
        {"fuse", "on|off", "AT90S2323/2343/8535: program the fuse (default on)", kAction},
        {"mega163", "LOCK:FUSELOW:FUSEHIGH", "ATmega163: lock and fuse bytes in hex", kAction},
        {"trace", "FILE", "with --port SIM: write every exchange of the box to FILE", kAction},
        {"force", nullptr, "go on when the card's controller is not the card type's", kAction},
        {"transcript", "FILE", "record every exchange with the box to FILE", kCommon},
        {"replay", "FILE", "with --port USB: the box answers as in the USB transcript FILE",
         kCommon},
        {"store", "PATH",
         "the image store file (default: kelvano.store beside the program, else in the data "
         "folders)",
         kStore},
        {"diff-format", nullptr, "compare: one line per run of differences", kAction},
        {"log", "LOG", "job, log: the production log (an SQLite file or postgresql://...)", kJob},
        {"count", "N", "job run: stop after N cards have passed", kJob},
        {"csv", "FILE", "log export: write the cards to FILE as CSV", kJob},
        {"json", "FILE", "log export: write the cards to FILE, one JSON object a line", kJob},
    };
    return table;
}

const std::vector<CliCommand>& cliCommands() {
    static const std::vector<CliCommand> table{
        {"cards", "list the card types", {}, runCards, fileCommandsHelp},
        {"dump",
         "print the memories of the card type after loading files",
         {"card", "load", "yes"},
         runDump,
         fileCommandsHelp},
        {"convert",
         "load files and save slots in another format",
         {"card", "load", "save", "type", "yes"},
         runConvert,
         fileCommandsHelp},
        {"info", "print the box's identity and firmware", kBoxOptions, runInfo, infoCommandHelp},
        {"identify", "name the card's controller and its card types",
         kBoxOptions + std::vector<const char*>{"no-wait", "trace"}, runIdentify,
         identifyCommandHelp},
        {"checksum",
         "print the CRC-32 and sum of each memory after loading files",
         {"card", "load", "yes"},
         runChecksum,
         checksumCommandHelp},
        {"read", "read the card into the slots", kActionOptions, runRead, actionCommandsHelp},
        {"erase", "erase the card", kActionOptions, runErase, actionCommandsHelp},
        {"blank", "check that the card is blank", kActionOptions, runBlank, actionCommandsHelp},
        {"verify", "compare the card with the slots", kActionOptions, runVerify,
         actionCommandsHelp},
        {"program", "write the slots to the card", kActionOptions, runProgram, actionCommandsHelp},
        {"store",
         "list, add, remove or extract the images of a store",
         {"store"},
         runStore,
         storeCommandHelp,
         "list|add NAME FILE|remove NAME|extract NAME FILE"},
        {"compare", "list every difference between the slots and the card or a file",
         kBoxOptions + std::vector<const char*>{"load", "memories", "no-warnings", "no-wait",
                                                "trace", "diff-format", "force"},
         runCompare, compareCommandHelp, "[SLOT=FILE]"},
        {"job",
         "run a production job on one or more boxes, or check a job file",
         {"port", "log", "count"},
         runJob,
         jobCommandsHelp,
         "run JOB|check JOB"},
        {"log",
         "report from a production log",
         {"log", "csv", "json"},
         runLog,
         logCommandsHelp,
         "summary|export [JOB]|settle SERIAL spent|void|return [JOB]"},
    };
    return table;
}

namespace {

QString exitStatusText() {
    return QStringLiteral(
        "Exit status:\n"
        "  0    done\n"
        "  1    failed (the error text goes to standard error)\n"
        "  2    usage error\n"
        "  3    partial: some memories could not be read\n"
        "  130  interrupted (Ctrl-C or SIGTERM)\n");
}

QString versionText() {
    return QStringLiteral(
        "kelvano-cli " KELVANO_FILE_VERSION
        "\nFree software under the GNU General Public License, version 3 or later "
        "(GPL-3.0-or-later), with no warranty.\n");
}

std::string text(const QString& s) { return s.toStdString(); }
QString text(const std::string& s) { return QString::fromStdString(s); }

CLI::Option* addOption(CLI::App& app, const CliOption& o) {
    const std::string name = std::string("--") + o.name;
    if (!o.value) return app.add_flag(name, o.help)->group(o.group);
    // Every use is kept: --load and --save collect theirs, the others take the last.
    return app.add_option(name, o.help)
        ->type_name(o.value)
        ->group(o.group)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
}

const CliOption* findOption(const std::vector<CliOption>& options, const std::string& name) {
    for (const CliOption& o : options)
        if (name == o.name) return &o;
    return nullptr;
}

bool parseSlotFile(const QString& value, QPair<int, QString>& out) {
    const int eq = value.indexOf(QLatin1Char('='));
    if (eq <= 0) return false;
    bool ok = false;
    const int slot = value.left(eq).toInt(&ok);
    if (!ok || slot < 1 || slot > 3 || eq + 1 >= value.size()) return false;
    out = {slot, value.mid(eq + 1)};
    return true;
}

// One option's values into CliArgs, with the checks every command shares.
bool store(const CliOption& o, const std::vector<std::string>& values, CliArgs& args,
           QString& error) {
    const QString name = QString::fromLatin1(o.name);
    if (!o.value) {
        args.options.insert(name, QStringLiteral("1"));
        return true;
    }
    for (const std::string& raw : values) {
        const QString value = text(raw);
        if (name == QLatin1String("port")) {
            args.port = value;
            args.ports.append(value);
        } else if (name == QLatin1String("card")) {
            bool ok = false;
            args.card = value.toInt(&ok);
            if (!ok || !findDevice(args.card)) {
                error = QStringLiteral("--card takes a card type code of 'cards', not \"%1\"")
                            .arg(value);
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
    }
    return true;
}

// The option given to an app: its values (for a flag, one empty value per use).
std::vector<std::string> given(const CLI::Option* opt) {
    if (!opt || opt->count() == 0) return {};
    if (opt->get_type_size() == 0) return std::vector<std::string>(opt->count());
    return opt->results();
}

// Every --load and --save names a slot that the card type has.
bool slotsOffered(const CliArgs& args, QString& error) {
    for (const auto* list : {&args.loads, &args.saves})
        for (const auto& [slot, file] : *list)
            if (!cardHasSlot(args.card, slot)) {
                error =
                    QStringLiteral("--%1 %2=%3: card type %4 has no slot %2")
                        .arg(list == &args.loads ? QStringLiteral("load") : QStringLiteral("save"))
                        .arg(slot)
                        .arg(file)
                        .arg(args.card);
                return false;
            }
    return true;
}

QString helpSection(const std::vector<CliCommand>& commands) {
    QString out;
    QList<QString (*)()> shown;
    for (const CliCommand& c : commands) {
        if (!c.help || shown.contains(c.help)) continue;
        shown.append(c.help);
        out += c.help();
    }
    return out;
}

// The CLI11 application built from the tables: every option on the program itself (so that it
// may stand before the command), each command's own options on its subcommand.
class CommandLine {
public:
    CommandLine(const std::vector<CliOption>& options, const std::vector<CliCommand>& commands)
        : app_(
              "Drives the STRAVINEX programmer box and converts memory image files from a "
              "terminal.",
              "kelvano-cli"),
          options_(options),
          commands_(commands) {
        describeProgram();
        for (const CliOption& o : options) top_[o.name] = addOption(app_, o);
        for (const CliCommand& c : commands) addCommand(c);
        help_ = app_.add_subcommand("help", "print this help, or a command's");
        help_->group("Commands");
        helpTopic_ = help_->add_option("COMMAND", "");
    }

    CliParse parse(const QStringList& arguments, CliArgs& args) {
        std::vector<std::string> argv;  // CLI11 takes them last first
        for (auto it = arguments.crbegin(); it != arguments.crend(); ++it)
            argv.push_back(text(*it));
        try {
            app_.parse(argv);
        } catch (const CLI::CallForAllHelp&) {
            return helpText(text(app_.help()) + QLatin1Char('\n') + helpSection(commands_));
        } catch (const CLI::CallForVersion&) {
            return helpText(versionText());
        } catch (const CLI::CallForHelp&) {
            return helpText(text(app_.help()));
        } catch (const CLI::ParseError& e) {
            return usageError(QString::fromLocal8Bit(e.what()));
        }
        if (help_->parsed()) return helpCommand();
        const auto chosen =
            std::find_if(subs_.begin(), subs_.end(), [](const Sub& s) { return s.app->parsed(); });
        if (chosen == subs_.end()) return usageError(QStringLiteral("no command given"));
        return collect(*chosen, args);
    }

private:
    struct Sub {
        const CliCommand* command;
        CLI::App* app;
        std::map<std::string, CLI::Option*> options;
        std::shared_ptr<std::vector<std::string>> words;
    };

    static CliParse helpText(const QString& text) { return {CliParse::Help, text, nullptr}; }
    static CliParse usageError(const QString& text) {
        return {CliParse::UsageError, text, nullptr};
    }

    void describeProgram() {
        app_.set_help_flag("-h,--help", "print this help, or with a command that command's");
        app_.set_help_all_flag("--help-all", "print this help and every command's");
        app_.set_version_flag("-V,--version", text(versionText()),
                              "print the program's version and licence");
        app_.get_formatter()->column_width(36);
        app_.get_formatter()->label("SUBCOMMAND", "COMMAND");
        app_.get_formatter()->label("SUBCOMMANDS", "COMMANDS");
        app_.footer(text(QStringLiteral("\nOptions may stand before or after the command. ") +
                         QStringLiteral("'kelvano-cli COMMAND --help' explains a command.\n\n") +
                         exitStatusText()));
        app_.require_subcommand(0, 1);
    }

    void addCommand(const CliCommand& c) {
        Sub sub{&c,
                app_.add_subcommand(c.name, c.summary),
                {},
                std::make_shared<std::vector<std::string>>()};
        sub.app->fallthrough();  // the program's options after the command: checked in collect()
        sub.app->group("Commands");
        sub.app->set_help_flag("-h,--help", "print this help");
        sub.app->set_help_all_flag();
        if (c.help)
            sub.app->footer(text(c.help().trimmed() + QStringLiteral("\n\n") + exitStatusText()));
        for (const char* name : c.options)
            if (const CliOption* o = findOption(options_, name))
                sub.options[name] = addOption(*sub.app, *o);
        if (c.arguments)
            sub.app->add_option("words", *sub.words, "words after the command")
                ->type_name(c.arguments);
        subs_.push_back(std::move(sub));
    }

    // "kelvano-cli help [COMMAND]".
    CliParse helpCommand() {
        if (helpTopic_->count() == 0)
            return helpText(text(app_.get_formatter()->make_help(&app_, app_.get_name(),
                                                                 CLI::AppFormatMode::Normal)));
        const std::string topic = helpTopic_->as<std::string>();
        for (const Sub& s : subs_)
            if (topic == s.command->name) return helpText(text(s.app->help(app_.get_name())));
        return usageError(QStringLiteral("no command %1").arg(text(topic)));
    }

    // The values of each option, those before the command first, into CliArgs.
    CliParse collect(const Sub& chosen, CliArgs& args) {
        args.command = QString::fromLatin1(chosen.command->name);
        QString error;
        for (const CliOption& o : options_) {
            std::vector<std::string> values = given(top_[o.name]);
            const auto own = chosen.options.find(o.name);
            if (own == chosen.options.end()) {
                if (values.empty()) continue;
                return usageError(QStringLiteral("--%1 is not an option of %2")
                                      .arg(QLatin1String(o.name), args.command));
            }
            const std::vector<std::string> after = given(own->second);
            values.insert(values.end(), after.begin(), after.end());
            if (!values.empty() && !store(o, values, args, error)) return usageError(error);
        }
        if (!slotsOffered(args, error)) return usageError(error);
        for (const std::string& word : *chosen.words) args.positional.append(text(word));
        return {CliParse::Run, QString(), chosen.command};
    }

    CLI::App app_;
    const std::vector<CliOption>& options_;
    const std::vector<CliCommand>& commands_;
    std::map<std::string, CLI::Option*> top_;
    std::vector<Sub> subs_;
    CLI::App* help_ = nullptr;
    CLI::Option* helpTopic_ = nullptr;
};

}  // namespace

CliParse parseCommandLine(const QStringList& arguments, CliArgs& args,
                          const std::vector<CliOption>& options,
                          const std::vector<CliCommand>& commands) {
    CommandLine line(options, commands);
    return line.parse(arguments, args);
}

bool cardHasSlot(int card, int slot) { return !openHint(card, slot).isEmpty(); }

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

int runCli(const QStringList& arguments) {
    CliArgs args;
    const CliParse parsed = parseCommandLine(arguments, args);
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
    return finishOutput(parsed.command->run(args));
}

}  // namespace kelvano
