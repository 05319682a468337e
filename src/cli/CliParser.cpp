// The command line of kelvano-cli: the CLI11 application built from the option and command
// tables (CliTables.cpp), options before or after the command ("--port SIM read" and
// "read --port SIM" are one command line), unknown words named with the closest known one.
#include "cli/CliParser.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <string>

#include "actions/ActionTypes.h"
#include "cli/TerminalHost.h"
#include "device/Models.h"
#include "device/uDevices.h"

namespace kelvano {

namespace {

// The longest --wait-factor: a silent box is then noticed after seconds, not minutes.
constexpr int kMaxWaitFactor = 20;

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

// --card CODE into CliArgs; false with the usage error for a code that names no card type.
bool storeCard(const QString& value, CliArgs& args, QString& error) {
    bool ok = false;
    const int card = value.toInt(&ok);
    if (!ok || !findDevice(card)) {
        error = QStringLiteral("--card takes a card type code of 'cards', not \"%1\"").arg(value);
        return false;
    }
    args.card = card;
    args.cardGiven = true;
    return true;
}

// --wait-factor N into CliArgs; false with the usage error when N is out of range.
bool storeWaitFactor(const QString& value, CliArgs& args, QString& error) {
    bool ok = false;
    const int number = value.toInt(&ok);
    if (!ok || number < 1 || number > kMaxWaitFactor) {
        error = QStringLiteral("--wait-factor takes a number from 1 to %1, not \"%2\"")
                    .arg(kMaxWaitFactor)
                    .arg(value);
        return false;
    }
    args.waitFactor = number;
    return true;
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
            if (!storeCard(value, args, error)) return false;
        } else if (name == QLatin1String("wait-factor")) {
            if (!storeWaitFactor(value, args, error)) return false;
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

}  // namespace

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

namespace {

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

}  // namespace

bool takes(const CliCommand& c, const char* key) {
    return std::any_of(c.options.begin(), c.options.end(),
                       [&](const char* o) { return std::strcmp(o, key) == 0; });
}

namespace {

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
        if (takes(c, "load") || takes(c, "save"))
            footer += wrapped(QString::fromLatin1(slotsHelp()));
        if (takes(c, "card") && takes(c, "memories"))
            footer += wrapped(QString::fromLatin1(cardDefaultHelp()));
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

}  // namespace kelvano
