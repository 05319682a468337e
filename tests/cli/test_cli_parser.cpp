// kelvano-cli's command line: the same command from every spelling scripts use, the words a
// command takes after its name, usage errors and the generated help.
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
        "memories:prog,data | "
        "verify:1 | yes:1";
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
        EXPECT_EQ(p.result.command->name, std::string("program"));
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
        {{"--save", "1=a.hex", "dump"}, "--save is not an option of dump"},
        {{"read", "--card"}, "--card: 1 required CODE missing"},
        {{"--card", "ten", "dump"}, "--card takes a card type code of 'cards', not \"ten\""},
        {{"--card", "27", "dump"}, "--card takes a card type code of 'cards', not \"27\""},
        {{"--card", "12", "convert", "--load", "1=a.hex", "--load", "3=b.hex"},
         "--load 3=b.hex: card type 12 has no slot 3"},
        {{"--card", "12", "read", "--save", "3=b.hex", "--port", "SIM"},
         "--save 3=b.hex: card type 12 has no slot 3"},
        {{"convert", "--load", "4=a.hex"},
         "--load takes SLOT=FILE with SLOT 1, 2 or 3, not \"4=a.hex\""},
        {{"convert", "--save", "1="}, "--save takes SLOT=FILE with SLOT 1, 2 or 3, not \"1=\""},
        {{"--colour", "cards"}, "The following argument was not expected: --colour"},
        {{"cards", "all"}, "The following argument was not expected: all"},
        {{"read", "erase"}, "The following argument was not expected: erase"},
        {{"help", "flash"}, "no command flash"},
    };
    for (const auto& [line, message] : cases) {
        const Parsed p = parse(line);
        EXPECT_EQ(p.result.outcome, CliParse::UsageError) << line.join(' ').toStdString();
        EXPECT_EQ(p.result.text, message) << line.join(' ').toStdString();
    }
}

TEST(CliParser, HelpListsCommandsOptionsAndExitStatuses) {
    const QString h = parse({"--help"}).result.text;
    for (const char* line :
         {"Exit status:\n  0    done\n  1    failed (the error text goes to standard error)\n"
          "  2    usage error\n  3    partial: some memories could not be read\n"
          "  130  interrupted (Ctrl-C or SIGTERM)\n",
          "Usage: kelvano-cli [OPTIONS] [COMMAND]", "  --mega163 LOCK:FUSELOW:FUSEHIGH ",
          "  program ", "  info "})
        EXPECT_TRUE(h.contains(QLatin1String(line))) << line;
    EXPECT_EQ(parse({"help"}).result.text, h);

    // A command's help: its own options, no other command's.
    const Parsed read = parse({"--port", "SIM", "read", "--help"});
    ASSERT_EQ(read.result.outcome, CliParse::Help);
    EXPECT_TRUE(read.result.text.contains("Usage: kelvano-cli read [OPTIONS]"));
    EXPECT_TRUE(read.result.text.contains("  --memories LIST "));
    EXPECT_FALSE(read.result.text.contains("--diff-format"));
    EXPECT_EQ(parse({"help", "read"}).result.text, read.result.text);
}

}  // namespace
}  // namespace kelvano
