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
#include <vector>

#include "cli/CliParser.h"

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
                                           "quiet", "verbose", "json",       "wait-factor"};
const std::vector<const char*> kCardOptions =
    kBoxOptions + std::vector<const char*>{"yes", "memories", "no-wait", "trace", "force"};
const std::vector<const char*> kConfigOptions{"lock-bits", "fuse", "mega163"};

int runRead(const CliArgs& a) { return runAction(a, 1); }
int runErase(const CliArgs& a) { return runAction(a, 2); }
int runBlank(const CliArgs& a) { return runAction(a, 3); }
int runVerify(const CliArgs& a) { return runAction(a, 4); }
int runProgram(const CliArgs& a) { return runAction(a, 5); }

const char* const kSlotsText =
    "Slots: PIC cards 1 = flash, ID words, configuration word and data EEPROM together, 2 = "
    "external EEPROM; AVR cards 1 = flash, 2 = internal EEPROM, 3 = external EEPROM. Files load "
    "and save by extension: .hex .h8 .eep Intel HEX, .bin binary, .obj AVR object, .crd card "
    "dump, .s19 .s28 .s37 .srec .mot S-records, .txt TI-TXT, .elf avr-gcc ELF; ELF, S-record, "
    "TI-TXT, Tektronix extended and MOS Technology files are also known by their content.";
const char* const kCardDefaultText =
    "Without --card the card type of the settings file is used and named on the first line; "
    "where there is no settings file, --card must be given.";

}  // namespace

const char* slotsHelp() { return kSlotsText; }
const char* cardDefaultHelp() { return kCardDefaultText; }

const std::vector<CliOption>& cliOptions() {
    static const std::vector<CliOption> table{
        {"port", "NAME", "serial port of the box, USB, or SIM (a simulated box)", kCommon},
        {"card", "CODE", "card type code (see 'cards'; default: the settings file's)", kCommon},
        {"wait-factor", "N", "wait N times as long for the box's answers (1 to 20; see the manual)",
         kCommon},
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
         std::vector<const char*>{"port", "log", "count", "wait-factor"}, runJob,
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

}  // namespace kelvano
