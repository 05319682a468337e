#pragma once
#include <QList>
#include <QMap>
#include <QPair>
#include <QString>
#include <QStringList>

namespace kelvano {

class EnableBoxes;
struct TDeviceEntry;

// The command line of kelvano-cli as parsed once by the front end; each command reads what
// it needs and returns the process's exit status (0 success, 1 failure, 2 usage error).
// Failures print the error box's text to standard error, its '\r' line breaks as new lines.
struct CliArgs {
    QString command;    // cards, dump, convert, info, read, erase, blank, verify, program
    QString port;       // --port NAME (the last one given)
    QStringList ports;  // every --port NAME, in the order given
    int card = 10;      // --card CODE
    bool cardGiven = false;
    int waitFactor = 1;  // --wait-factor N
    QString cardSource;  // without --card: the settings file the card type was taken from
    QList<QPair<int, QString>> loads;  // --load SLOT=FILE, in the order given
    QList<QPair<int, QString>> saves;  // --save SLOT=FILE, in the order given
    QMap<QString, QString> options;    // every other option: "--name value" for options that
                                       // take a value, "--name" (value "1") for flags
    QStringList positional;
};

int runCards(const CliArgs& args);
int runDump(const CliArgs& args);
int runConvert(const CliArgs& args);
int runInfo(const CliArgs& args);
int runAction(const CliArgs& args, int actionCode);  // 1 read .. 5 program
int runStore(const CliArgs& args);
int runCompare(const CliArgs& args);
int runJob(const CliArgs& args);  // job run | check
int runLog(const CliArgs& args);  // log summary | export
int runIdentify(const CliArgs& args);
int runChecksum(const CliArgs& args);

// The card type offers that file slot (PIC cards 1 and 2, AVR cards 1 to 3).
bool cardHasSlot(int card, int slot);

// Writes `text` to the standard output at once; false when the system refused it (the
// failure is remembered for finishOutput()).
bool writeOut(const QByteArray& text);

// --memories LIST (prog, data, config, eeprom) as Enable boxes; false with `error` set.
bool parseMemories(const QString& list, EnableBoxes& boxes, QString& error);

// The name of a card type as 'cards' lists it.
QString cardName(const TDeviceEntry& row);
// What a program action with these boxes writes on a card of this type: "program memory",
// ..., each with the slot it comes from when no --load fills that slot ("external EEPROM
// (slot 3 not loaded: FF)").
QStringList cardMemories(const TDeviceEntry& row, EnableBoxes& boxes,
                         const QList<QPair<int, QString>>& loads);

// The longer help texts of the production commands, shown by "kelvano-cli COMMAND --help".
QString jobCommandsHelp();
QString logCommandsHelp();

}  // namespace kelvano
