#pragma once
#include <QString>
#include <QStringList>
#include <vector>

#include "cli/Commands.h"

namespace kelvano {

// One option of kelvano-cli, written "--name value", "--name=value" or, for a flag, "--name".
struct CliOption {
    const char* name;   // without the dashes
    const char* value;  // the value's name in the help ("SLOT=FILE"); nullptr for a flag
    const char* help;   // one line
    const char* group;  // heading in the help; --load and --save may be given more than once,
                        // the others take the value given last
    const char* shortName = nullptr;  // one letter ("q" for -q), or none
    // The name a command's row lists the option by, when two commands spell one name in two
    // ways ("json" the flag, "json-file" the --json FILE of log export); nullptr: `name`.
    const char* key = nullptr;
};

// One command: a word on the command line, with the options it reads.
struct CliCommand {
    const char* name;
    const char* summary;  // one line in the command list
    std::vector<const char*> options;
    int (*run)(const CliArgs& args);
    const char* about;                // the paragraph under "kelvano-cli COMMAND --help"
    const char* arguments = nullptr;  // words after the command ("WHAT FILE..."), into
                                      // CliArgs::positional; nullptr: none are taken
    QString (*help)() = nullptr;      // a longer text of the command's own, shown after `about`
};

// The tables of every option and command (CliTables.cpp).
const std::vector<CliOption>& cliOptions();
const std::vector<CliCommand>& cliCommands();
// Paragraphs of a command's help: the file slots, and the card type taken without --card.
const char* slotsHelp();
const char* cardDefaultHelp();
// The command's row lists the option `key`.
bool takes(const CliCommand& command, const char* key);
// Every --load and --save names a slot that the card type has; false with `error` set.
bool slotsOffered(const CliArgs& args, QString& error);

// The exit statuses of every command, as the help, the manual page and the README list them.
enum CliExit {
    ExitDone = 0,
    ExitFailed = 1,  // also: compare found differences
    ExitUsage = 2,
    ExitPartial = 3,     // memories left out: not read, compared or saved
    ExitUnreadable = 4,  // compare: the card could not be read (a failed read, no box)
    ExitInterrupted = 130
};

// The exit status table of the help.
QString exitStatusText();

struct CliParse {
    enum Outcome { Run, Help, UsageError };
    Outcome outcome = UsageError;
    QString text;                         // the help, or the usage error's message
    const CliCommand* command = nullptr;  // the command to run
};

// Parses the arguments (without the program name) against a table of options and commands.
CliParse parseCommandLine(const QStringList& arguments, CliArgs& args,
                          const std::vector<CliOption>& options = cliOptions(),
                          const std::vector<CliCommand>& commands = cliCommands());

// Flushes and closes the standard output at the end of a command: `status`, or 1 (with a
// message) when the output could not be written, a full disk for instance.
int finishOutput(int status);

// The whole front end: parse, print the help or the usage error, or run the command.
// Returns the process's exit status.
int runCli(const QStringList& arguments);

}  // namespace kelvano
