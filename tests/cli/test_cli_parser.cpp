// kelvano-cli's command line: the same command from every spelling scripts use, the words a
// command takes after its name, usage errors and the generated help. (The usage errors that
// test_cli_statuses.cpp runs through the program are not repeated here.)
#include <gtest/gtest.h>

#include <ostream>

#include "cli/CliParser.h"

QT_BEGIN_NAMESPACE
inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }
QT_END_NAMESPACE

namespace kelvano {
namespace {

struct Parsed {
    CliParse result;
    CliArgs args;
};

Parsed parse(const QStringList& arguments) {
    Parsed p;
    p.result = parseCommandLine(arguments, p.args, cliOptions(), cliCommands());
    return p;
}

QString describe(const CliArgs& a) {
    QStringList out{a.command, a.port, QString::number(a.card), a.cardGiven ? "given" : "default"};
    for (const auto& [slot, file] : a.loads)
        out << QStringLiteral("load %1=%2").arg(slot).arg(file);
    for (const auto& [slot, file] : a.saves)
        out << QStringLiteral("save %1=%2").arg(slot).arg(file);
    for (auto it = a.options.begin(); it != a.options.end(); ++it)
        out << it.key() + ":" + it.value();
    out << a.positional;
    return out.join(" | ");
}

TEST(CliParser, OptionsBeforeOrAfterTheCommandInEitherSpelling) {
    const QString expected =
        "program | SIM | 21 | given | load 1=a.hex | load 2=b.bin | save 3=c.hex | "
        "memories:prog,data | verify:1 | yes:1";
    const QList<QStringList> spellings{
        {"--port", "SIM", "--card", "21", "--load", "1=a.hex", "--memories", "prog,data", "--yes",
         "--verify", "program", "--load", "2=b.bin", "--save", "3=c.hex"},
        {"program", "--port=SIM", "--card=21", "--load=1=a.hex", "--load", "2=b.bin",
         "--memories=prog,data", "--yes", "--verify", "--save=3=c.hex"},
        {"--verify", "--card", "20", "--load", "1=a.hex", "--load=2=b.bin", "program", "--card",
         "21", "--port", "SIM", "--save", "3=c.hex", "--yes", "--memories", "prog", "--memories",
         "prog,data"},
    };
    for (const QStringList& line : spellings) {
        const Parsed p = parse(line);
        ASSERT_EQ(p.result.outcome, CliParse::Run) << p.result.text.toStdString();
        EXPECT_EQ(describe(p.args), expected) << line.join(' ').toStdString();
    }
    // The words after a command's name come in order, between its options.
    const Parsed job = parse({"--port", "SIM", "job", "run", "--count", "3", "a.job"});
    EXPECT_EQ(describe(job.args), "job | SIM | 10 | default | count:3 | run | a.job");
    const Parsed defaults = parse({"cards"});
    ASSERT_EQ(defaults.result.outcome, CliParse::Run);
    EXPECT_EQ(describe(defaults.args), "cards |  | 10 | default");
}

TEST(CliParser, UsageErrorsNameTheirCause) {
    const QList<QPair<QStringList, QString>> cases{
        {{}, "no command given"},
        {{"--port", "SIM"}, "no command given"},
        {{"cards", "--memories", "prog"}, "--memories is not an option of cards"},
        {{"--trace", "t.txt", "dump"}, "--trace is not an option of dump"},
        {{"read", "--card"}, "--card: 1 required CODE missing"},
        {{"--card", "ten", "dump"}, "--card takes a card type code of 'cards', not \"ten\""},
        {{"--card", "27", "dump"}, "--card takes a card type code of 'cards', not \"27\""},
        {{"--wait-factor", "0", "info"}, "--wait-factor takes a number from 1 to 20, not \"0\""},
        {{"--wait-factor", "21", "info"}, "--wait-factor takes a number from 1 to 20, not \"21\""},
        {{"convert", "--load", "4=a.hex"},
         "--load takes SLOT=FILE with SLOT 1, 2 or 3, not \"4=a.hex\""},
        {{"convert", "--save", "1="}, "--save takes SLOT=FILE with SLOT 1, 2 or 3, not \"1=\""},
        {{"--colour", "cards"}, "unknown option --colour"},
        {{"read", "--memries=prog"}, "unknown option --memries (did you mean --memories?)"},
        {{"-x", "cards"}, "unknown option -x"},
        {{"cards", "all"}, "cards takes no word all"},
        {{"help", "flash"}, "no command flash"},
    };
    for (const auto& [line, message] : cases) {
        const Parsed p = parse(line);
        EXPECT_EQ(p.result.outcome, CliParse::UsageError) << line.join(' ').toStdString();
        EXPECT_EQ(p.result.text, message) << line.join(' ').toStdString();
    }
}

// A flag given a value obeys it; the last one given counts.
TEST(CliParser, FlagValues) {
    const QList<QPair<QString, bool>> cases{
        {"--yes", true},        {"--yes=yes", true}, {"--yes=true", true},
        {"--yes=1", true},      {"--yes=on", true},  {"--yes=no", false},
        {"--yes=false", false}, {"--yes=0", false},  {"--yes=OFF", false},
    };
    for (const auto& [flag, on] : cases) {
        const Parsed p = parse({"--card", "10", flag, "dump"});
        ASSERT_EQ(p.result.outcome, CliParse::Run) << flag.toStdString();
        EXPECT_EQ(p.args.options.contains("yes"), on) << flag.toStdString();
    }
    EXPECT_FALSE(parse({"--verify", "program", "--verify=false"}).args.options.contains("verify"));
    EXPECT_TRUE(parse({"--verify=no", "program", "--verify"}).args.options.contains("verify"));
}

TEST(CliParser, HelpListsCommandsOptionsAndExitStatuses) {
    const QString h = parse({"--help"}).result.text;
    for (const char* line : {"Exit status:\n  0    done; compare: nothing differs\n",
                             "Usage: kelvano-cli [OPTIONS] [COMMAND]",
                             "  --mega163 LOCK:FUSELOW:FUSEHIGH ", "  program ", "  info "})
        EXPECT_TRUE(h.contains(QLatin1String(line))) << line;
    EXPECT_EQ(parse({"help"}).result.text, h);

    // A command's help: the options it reads, each once, and no other command's text.
    auto optionLines = [](const QString& help) {
        QStringList names;
        for (const QString& line : help.split('\n'))
            if (line.startsWith("  -")) names << line.trimmed().section(' ', 0, 0);
        return names.join(' ');
    };
    const Parsed read = parse({"--port", "SIM", "read", "--help"});
    ASSERT_EQ(read.result.outcome, CliParse::Help);
    EXPECT_TRUE(read.result.text.contains("Usage: kelvano-cli read [OPTIONS]"));
    EXPECT_EQ(optionLines(read.result.text),
              "-h,--help --port --card --transcript --replay --wait-factor --yes -q,--quiet "
              "-v,--verbose "
              "--json --memories --no-wait --trace --force --no-warnings --save --type");
    EXPECT_EQ(parse({"help", "read"}).result.text, read.result.text);
    const QString cards = parse({"cards", "--help"}).result.text;
    EXPECT_EQ(optionLines(cards), "-h,--help --json");
    EXPECT_FALSE(cards.contains("dump") || cards.contains("convert"));
}

}  // namespace
}  // namespace kelvano
