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
#include <QFileInfo>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>

#include "actions/ActionTypes.h"
#include "cli/TerminalHost.h"
#include "device/Models.h"
#include "device/uDevices.h"
#include "session/Settings.h"
#include "session/SettingsLocation.h"

namespace kelvano {

namespace {

const char* const kCommon = "Options of the box and the card";
const char* const kFiles = "Files";
const char* const kAction = "Actions";
const char* const kStore = "Image store";
const char* const kJob = "Production";
const char* const kOutput = "Output";

std::vector<const char*> operator+(std::vector<const char*> a, const std::vector<const char*>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// The options of every command that talks to a box, and of the actions on a card.
const std::vector<const char*> kBoxOptions{"port",  "card",    "transcript", "replay",
                                           "quiet", "verbose", "json"};
const std::vector<const char*> kCardOptions =
    kBoxOptions + std::vector<const char*>{"yes", "memories", "no-wait", "trace", "force"};
const std::vector<const char*> kConfigOptions{"lock-bits", "fuse", "mega163"};

int runRead(const CliArgs& a) { return runAction(a, 1); }
int runErase(const CliArgs& a) { return runAction(a, 2); }
int runBlank(const CliArgs& a) { return runAction(a, 3); }
int runVerify(const CliArgs& a) { return runAction(a, 4); }
int runProgram(const CliArgs& a) { return runAction(a, 5); }

const char* const kSlots =
    "Slots: PIC cards 1 = flash, ID words, configuration word and data EEPROM together, 2 = "
    "external EEPROM; AVR cards 1 = flash, 2 = internal EEPROM, 3 = external EEPROM. Files load "
    "and save by extension: .hex .h8 .eep Intel HEX, .bin binary, .obj AVR object, .crd card "
    "dump, .s19 .s28 .s37 .srec .mot S-records, .txt TI-TXT, .elf avr-gcc ELF; ELF, S-record, "
    "TI-TXT, Tektronix extended and MOS Technology files are also known by their content.";
const char* const kCardDefault =
    "Without --card the card type of the settings file is used and named on the first line; "
    "where there is no settings file, --card must be given.";

}  // namespace

const std::vector<CliOption>& cliOptions() {
    static const std::vector<CliOption> table{
        {"port", "NAME", "serial port of the box, USB, or SIM (a simulated box)", kCommon},
        {"card", "CODE", "card type code (see 'cards'; default: the settings file's)", kCommon},
        {"yes", nullptr, "answer every question with OK (needed without a terminal)", kCommon},
        {"load", "SLOT=FILE", "load FILE into slot SLOT, in the order given", kFiles},
        {"save", "SLOT=FILE", "save slot SLOT to FILE", kFiles},
        {"type", "hex|bin|srec", "file type for --save names without extension (default hex)",
         kFiles},
        {"memories", "LIST",
         "comma list of prog, data, config, eeprom (default all); on loader cards eeprom takes "
         "the others with it",
         kAction},
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
        {"diff-format", nullptr, "one line per run of differences", kAction},
        {"log", "LOG", "the production log (an SQLite file or postgresql://...)", kJob},
        {"count", "N", "stop after N cards have passed", kJob},
        {"csv", "FILE", "log export: write the cards to FILE as CSV", kJob},
        {"json", nullptr, "the result as one JSON document on standard output", kOutput},
        {"quiet", nullptr, "no progress and no notes; errors still on standard error", kOutput,
         "q"},
        {"verbose", nullptr, "each step, the box's identity and the waits on standard error",
         kOutput, "v"},
        {"json", "FILE", "log export: write the cards to FILE, one JSON object a line", kJob,
         nullptr, "json-file"},
    };
    return table;
}

const std::vector<CliCommand>& cliCommands() {
    static const std::vector<CliCommand> table{
        {"cards",
         "list the card types",
         {"json"},
         runCards,
         "One line per card type: code, name, flash words, internal and external EEPROM bytes, "
         "separated by TABs; a sixth field \"no action handles this type\" marks the types that "
         "only the file commands take."},
        {"dump", "print the memories of the card type after loading files",
         std::vector<const char*>{"card", "load", "yes"}, runDump,
         "Loads the files in the order given and prints the [FLASH], [DATA] and [EEPROM] dumps "
         "(address TAB hex TAB characters per row), then for PIC cards [CONFIG] with "
         "CfgWord=XXXX and Id=X X X X, for card 31 [CONFIG] with FuseLow=XX, FuseHigh=XX and "
         "LockByte=XX."},
        {"convert", "load files and save slots in another format",
         std::vector<const char*>{"card", "load", "save", "type", "yes"}, runConvert,
         "Loads the files, then saves each --save slot. The format follows the extension; a name "
         "without extension gets .hex, or .bin or .s19 with --type bin or srec."},
        {"info", "print the box's identity and firmware", kBoxOptions, runInfo,
         "Connects, prints the box's identity (as the status bar shows it), the state of its "
         "firmware and the image store used, then disconnects."},
        {"identify", "name the card's controller and its card types",
         kBoxOptions + std::vector<const char*>{"no-wait", "trace"}, runIdentify,
         "Waits for a card, reads its controller's identity (an AVR's signature bytes, a PIC's "
         "device ID word) and lists the card types with that controller. With --card, exit "
         "status 1 when the controller is not that card type's. With --port SIM the simulated "
         "card is of the --card type."},
        {"checksum", "print the CRC-32 and sum of each memory after loading files",
         std::vector<const char*>{"card", "load", "yes", "json"}, runChecksum,
         "One line per memory after loading the files: its size in bytes, its CRC-32 (that of "
         "zlib and gzip) and the sum of its bytes modulo 65536, taken over the bytes a binary "
         "file of the memory holds (flash words low byte first)."},
        {"read", "read the card into the slots",
         kCardOptions + std::vector<const char*>{"no-warnings", "save", "type"}, runRead,
         "Reads the ticked memories; each --save slot is then written, unless part of it was "
         "not read. The guide's examples give --yes: without a terminal a question is answered "
         "Abort."},
        {"erase", "erase the card", kCardOptions + std::vector<const char*>{"no-warnings"},
         runErase, "Erases the controller and the ticked memories."},
        {"blank", "check that the card is blank", kCardOptions, runBlank,
         "Checks that the ticked memories are blank."},
        {"verify", "compare the card with the slots",
         kCardOptions + std::vector<const char*>{"load"}, runVerify,
         "Compares the ticked memories of the card with the slots filled by --load."},
        {"program", "write the slots to the card",
         kCardOptions +
             std::vector<const char*>{"load", "save", "type", "verify", "always-erase",
                                      "no-warnings"} +
             kConfigOptions,
         runProgram,
         "Writes the slots to the ticked memories; before the question the memories to be "
         "written are named. Blank slots are written too (FF): --memories narrows what is "
         "written, for instance --memories prog,data,config to leave the external EEPROM."},
        {"store",
         "list, add, remove or extract the images of a store",
         {"store"},
         runStore,
         "Lists the entries, adds (or replaces) one from an Intel HEX or binary image, removes "
         "one, or writes one out as a binary file. PATH defaults to the kelvano.store the "
         "program uses; a --store PATH that does not exist is an error, except for add, which "
         "starts it with the entries built into the program. Names have 1 to 8 characters.",
         "list|add NAME FILE|remove NAME|extract NAME FILE"},
        {"compare", "list every difference between the slots and the card or a file",
         kBoxOptions + std::vector<const char*>{"yes", "load", "memories", "no-warnings", "no-wait",
                                                "trace", "diff-format", "force"},
         runCompare,
         "With a file (SLOT=FILE, read as an open would read it into SLOT) or with the card "
         "(--port): the slots filled by --load against it. --diff-format prints one line per "
         "run of adjacent differing addresses: MEMORY FIRST-LAST COUNT EXPECTED FOUND.",
         "[SLOT=FILE]"},
        {"job", "run a production job on one or more boxes, or check a job file",
         std::vector<const char*>{"port", "log", "count"}, runJob,
         "Runs a production job on the boxes of --port (one or more), or checks a job file.",
         "run JOB|check JOB"},
        {"log", "report from a production log", std::vector<const char*>{"log", "csv", "json-file"},
         runLog, "Summarises a production log, exports its cards, or settles a serial number.",
         "summary|export [JOB]|settle SERIAL spent|void|return [JOB]", logCommandsHelp},
    };
    return table;
}

QString exitStatusText() {
    return QStringLiteral(
        "Exit status:\n"
        "  0    done; compare: nothing differs\n"
        "  1    failed (the error text goes to standard error); compare: differences found\n"
        "  2    usage error\n"
        "  3    partial: some memories were not read, compared or saved\n"
        "  4    compare: the card could not be read (a failed read, no box)\n"
        "  130  interrupted (Ctrl-C or SIGTERM)\n");
}

namespace {

QString versionText() {
    return QStringLiteral(
        "kelvano-cli " KELVANO_FILE_VERSION
        "\nFree software under the GNU General Public License, version 3 or later "
        "(GPL-3.0-or-later), with no warranty.\n");
}

std::string text(const QString& s) { return s.toStdString(); }
QString text(const std::string& s) { return QString::fromStdString(s); }

const char* keyOf(const CliOption& o) { return o.key ? o.key : o.name; }

CLI::Option* addOption(CLI::App& app, const CliOption& o) {
    std::string name = std::string("--") + o.name;
    if (o.shortName) name = std::string("-") + o.shortName + "," + name;
    const std::string help = o.help;
    if (!o.value) return app.add_flag(name, help)->group(o.group);
    // Every use is kept: --load and --save collect theirs, the others take the last.
    return app.add_option(name, help)
        ->type_name(o.value)
        ->group(o.group)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
}

const CliOption* findOption(const std::vector<CliOption>& options, const std::string& key) {
    for (const CliOption& o : options)
        if (key == keyOf(o)) return &o;
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

// A flag's value: none (the flag alone) or one of the words below; false for any other word.
bool flagValue(const std::string& raw, bool& on) {
    const QString v = text(raw).toLower();
    static const QStringList yes{"true", "yes", "on", "1"}, no{"false", "no", "off", "0"};
    on = v.isEmpty() || yes.contains(v);
    return on || no.contains(v);
}

// One option's values into CliArgs, with the checks every command shares.
bool store(const CliOption& o, const std::vector<std::string>& values, CliArgs& args,
           QString& error) {
    const QString name = QString::fromLatin1(keyOf(o));
    if (!o.value) {
        bool on = false;
        for (const std::string& raw : values)
            if (!flagValue(raw, on)) {
                error = QStringLiteral(
                            "--%1 takes no value, or yes, no, true, false, on, off, 1 or 0, "
                            "not \"%2\"")
                            .arg(name, text(raw));
                return false;
            }
        if (on)
            args.options.insert(name, QStringLiteral("1"));
        else
            args.options.remove(name);
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
            // "json-file" and the like: the command reads the option by its spelled name.
            args.options.insert(QString::fromLatin1(o.name), value);
        }
    }
    return true;
}

// The option given to an app: its values (for a flag, one empty value per use).
std::vector<std::string> given(const CLI::Option* opt) {
    if (!opt || opt->count() == 0) return {};
    std::vector<std::string> values = opt->results();
    if (opt->get_type_size() == 0)  // a flag alone is "true"; "--yes=no" keeps its word
        for (std::string& v : values)
            if (v == "true") v.clear();
    return values;
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

// Optimal string alignment distance of two short words.
int editDistance(const QString& a, const QString& b) {
    const int n = int(a.size()), m = int(b.size());
    std::vector<std::vector<int>> d(size_t(n + 1), std::vector<int>(size_t(m + 1)));
    for (int i = 0; i <= n; ++i) d[size_t(i)][0] = i;
    for (int j = 0; j <= m; ++j) d[0][size_t(j)] = j;
    for (int i = 1; i <= n; ++i)
        for (int j = 1; j <= m; ++j) {
            const auto I = size_t(i), J = size_t(j);
            const int cost = a[i - 1] == b[j - 1] ? 0 : 1;
            d[I][J] = std::min({d[I - 1][J] + 1, d[I][J - 1] + 1, d[I - 1][J - 1] + cost});
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
                d[I][J] = std::min(d[I][J], d[I - 2][J - 2] + 1);
        }
    return d[size_t(n)][size_t(m)];
}

// " (did you mean X?)" for the closest of `known`, when one is close enough.
QString hint(const QString& word, const QStringList& known, const QString& prefix) {
    QString best;
    int bestDistance = word.size() < 4 ? 2 : 3;
    for (const QString& k : known)
        if (const int d = editDistance(word, k); d < bestDistance) bestDistance = d, best = k;
    return best.isEmpty() ? QString() : QStringLiteral(" (did you mean %1%2?)").arg(prefix, best);
}

// Wraps a paragraph to lines of at most `width` characters.
QString wrapped(const QString& paragraph, int width = 90) {
    QString out, line;
    for (const QString& word : paragraph.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        if (!line.isEmpty() && line.size() + 1 + word.size() > width) {
            out += line + QLatin1Char('\n');
            line.clear();
        }
        line += (line.isEmpty() ? QString() : QStringLiteral(" ")) + word;
    }
    return out + line + QLatin1Char('\n');
}

bool takes(const CliCommand& c, const char* key) {
    return std::any_of(c.options.begin(), c.options.end(),
                       [&](const char* o) { return std::strcmp(o, key) == 0; });
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
        for (const CliOption& o : options)
            if (!top_.count(o.name)) top_[o.name] = {&o, addOption(app_, o)};
        for (const CliCommand& c : commands) addCommand(c);
        help_ = app_.add_subcommand("help", "print this help, or a command's");
        help_->group("Commands");
        helpTopic_ = help_->add_option("COMMAND", "");
    }

    CliParse parse(const QStringList& arguments, CliArgs& args) {
        if (const QString unknown = unknownWord(arguments); !unknown.isEmpty())
            return usageError(unknown);
        std::vector<std::string> argv;  // CLI11 takes them last first
        for (auto it = arguments.crbegin(); it != arguments.crend(); ++it)
            argv.push_back(text(*it));
        try {
            app_.parse(argv);
        } catch (const CLI::CallForAllHelp&) {
            return helpText(allHelp());
        } catch (const CLI::CallForVersion&) {
            return helpText(versionText());
        } catch (const CLI::CallForHelp&) {
            return helpText(text(app_.help()));
        } catch (const CLI::ExtrasError&) {
            return usageError(extraWords());
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
    struct Top {
        const CliOption* row;
        CLI::Option* option;
    };

    static CliParse helpText(const QString& text) { return {CliParse::Help, text, nullptr}; }
    static CliParse usageError(const QString& text) {
        return {CliParse::UsageError, text, nullptr};
    }

    // The first option no command has, or the command word that is none: the usage error
    // naming it, else empty.
    QString unknownWord(const QStringList& arguments) const {
        QStringList longNames{"help", "help-all", "version"}, commandNames{"help"};
        for (const CliOption& o : options_) longNames << QString::fromLatin1(o.name);
        for (const CliCommand& c : commands_) commandNames << QString::fromLatin1(c.name);
        bool commandSeen = false;
        for (int i = 0; i < arguments.size(); ++i) {
            const QString& a = arguments.at(i);
            if (a.startsWith(QLatin1String("--"))) {
                const QString name = a.mid(2).section(QLatin1Char('='), 0, 0);
                if (!longNames.contains(name))
                    return QStringLiteral("unknown option --%1").arg(name) +
                           hint(name, longNames, QStringLiteral("--"));
                const CliOption* o = findOption(options_, text(name));
                if (o && o->value && !a.contains(QLatin1Char('='))) ++i;  // its value
            } else if (a.startsWith(QLatin1Char('-')) && a.size() > 1) {
                static const QStringList shortNames{"-h", "-V", "-q", "-v"};
                if (!shortNames.contains(a)) return QStringLiteral("unknown option %1").arg(a);
            } else if (!commandSeen) {
                commandSeen = true;
                if (!commandNames.contains(a))
                    return QStringLiteral("unknown command %1").arg(a) +
                           hint(a, commandNames, QString());
            }
        }
        return {};
    }

    // The words no option or command took, in the order given.
    QString extraWords() const {
        std::vector<std::string> extras = app_.remaining();
        for (const Sub& s : subs_)
            if (s.app->parsed()) {
                const std::vector<std::string> more = s.app->remaining();
                extras.insert(extras.end(), more.begin(), more.end());
            }
        QStringList words;
        for (const std::string& w : extras) words.prepend(text(w));
        const auto chosen =
            std::find_if(subs_.begin(), subs_.end(), [](const Sub& s) { return s.app->parsed(); });
        return chosen == subs_.end()
                   ? QStringLiteral("unexpected %1").arg(words.join(QLatin1Char(' ')))
                   : QStringLiteral("%1 takes no word %2")
                         .arg(QLatin1String(chosen->command->name), words.join(QLatin1Char(' ')));
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
        QString footer = wrapped(QString::fromLatin1(c.about));
        if (c.help) footer += c.help().trimmed() + QLatin1Char('\n');
        if (takes(c, "load") || takes(c, "save")) footer += wrapped(QString::fromLatin1(kSlots));
        if (takes(c, "card") && takes(c, "memories"))
            footer += wrapped(QString::fromLatin1(kCardDefault));
        sub.app->footer(
            text(QStringLiteral("\n") + footer + QStringLiteral("\n") + exitStatusText()));
        for (const char* key : c.options)
            if (const CliOption* o = findOption(options_, key))
                sub.options[key] = addOption(*sub.app, *o);
        if (c.arguments)
            sub.app->add_option("words", *sub.words, "words after the command")
                ->type_name(c.arguments);
        subs_.push_back(std::move(sub));
    }

    QString allHelp() const {
        QString out = text(app_.help());
        for (const Sub& s : subs_) out += QLatin1Char('\n') + text(s.app->help(app_.get_name()));
        return out;
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
            const Top& top = top_.at(o.name);
            std::vector<std::string> values =
                top.row == &o ? given(top.option) : std::vector<std::string>{};
            const auto own = chosen.options.find(keyOf(o));
            if (own == chosen.options.end()) {
                if (values.empty()) continue;
                return usageError(QStringLiteral("--%1 is not an option of %2")
                                      .arg(QLatin1String(o.name), args.command));
            }
            const std::vector<std::string> after = given(own->second);
            values.insert(values.end(), after.begin(), after.end());
            if (!values.empty() && !store(o, values, args, error)) return usageError(error);
        }
        if (args.cardGiven && !slotsOffered(args, error)) return usageError(error);
        for (const std::string& word : *chosen.words) args.positional.append(text(word));
        return {CliParse::Run, QString(), chosen.command};
    }

    CLI::App app_;
    const std::vector<CliOption>& options_;
    const std::vector<CliCommand>& commands_;
    std::map<std::string, Top> top_;
    std::vector<Sub> subs_;
    CLI::App* help_ = nullptr;
    CLI::Option* helpTopic_ = nullptr;
};

}  // namespace

bool parseMemories(const QString& list, EnableBoxes& boxes, QString& error) {
    // The words are the memories' keys, as the JSON results name them.
    QStringList names;
    for (Memory m : {Memory::Program, Memory::Data, Memory::Configuration, Memory::ExternalEeprom})
        names << memoryKey(m);
    bool* const ticks[] = {&boxes.prog, &boxes.data, &boxes.config, &boxes.eep};
    for (bool* tick : ticks) *tick = false;
    for (const QString& raw : list.split(QLatin1Char(','))) {
        const QString m = raw.trimmed().toLower();
        const qsizetype at = names.indexOf(m);
        if (at < 0) {
            error = QStringLiteral(
                        "unknown memory \"%1\" in --memories%2: it takes a comma "
                        "list of prog, data, config and eeprom")
                        .arg(raw, hint(m, names, QString()));
            return false;
        }
        *ticks[at] = true;
    }
    return true;
}

QString cardName(const TDeviceEntry& row) {
    // Code 30 has no menu entry and so no display name of its own.
    return row.displayName
               ? QString::fromLatin1(row.displayName)
               : QString::fromLatin1(row.controllerCaption) + QStringLiteral(" + ") +
                     QString::fromLatin1(row.eepromCaption).remove(QStringLiteral("EEPROM "));
}

QStringList cardMemories(const TDeviceEntry& row, EnableBoxes& boxes,
                         const QList<QPair<int, QString>>& loads) {
    cbEepMemClick(row.code, boxes);
    const bool pic = isPicCode(row.code);
    auto loaded = [&](int slot) {
        return std::any_of(loads.begin(), loads.end(),
                           [&](const auto& l) { return l.first == slot; });
    };
    const struct {
        bool ticked, present;
        Memory memory;
        int slot;  // 0: set by options, not by a file
    } rows[] = {
        {boxes.prog, true, Memory::Program, 1},
        {boxes.data, row.internalEepromBytes > 0, Memory::Data, pic ? 1 : 2},
        {boxes.config, true, Memory::Configuration, pic ? 1 : 0},
        {boxes.eep, row.externalEepromBytes > 0, Memory::ExternalEeprom, pic ? 2 : 3},
    };
    QStringList out;
    for (const auto& r : rows) {
        if (!r.ticked || !r.present) continue;
        const QString name = memoryName(r.memory);
        out << (r.slot && !loaded(r.slot)
                    ? QStringLiteral("%1 (slot %2 not loaded: FF)").arg(name).arg(r.slot)
                    : name);
    }
    return out;
}

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
