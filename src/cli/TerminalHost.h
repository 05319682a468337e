#pragma once
#include <QCoreApplication>
#include <QJsonObject>
#include <functional>

#include "actions/ActionTypes.h"
#include "actions/ActionView.h"
#include "base/Host.h"

namespace kelvano {

// The Host of kelvano-cli: errors go to standard error (their '\r' line breaks as new
// lines); a warning is answered OK with --yes, asked at the terminal otherwise, and answered
// Abort when standard input is not a terminal.
class TerminalHost : public Host {
public:
    explicit TerminalHost(bool yesToAll) : yes_(yesToAll) {}

    void showError(const QString& text) override;
    bool askOkAbort(const QString& caption, const QString& text) override;
    void beep() override {}
    void processEvents() override { QCoreApplication::processEvents(); }

    int errorCount() const { return errors_; }
    QString lastError() const { return last_; }

    // A message text as the terminal shows it: '\r' (with or without '\n') becomes '\n'.
    static QString toTerminalText(const QString& text);

private:
    bool yes_;
    int errors_ = 0;
    QString last_;
};

// The runner's window on a terminal for commands without a progress bar: each new status on
// a line of its own on standard error ("caption: status"); the closing "READY" too, unless
// `showReady` is false.
class StatusLineView final : public NullActionView {
public:
    explicit StatusLineView(bool showReady = true) : showReady_(showReady) {}
    void setCaption(const QString& caption) override { caption_ = caption; }
    void setLabel(const QString& text) override;
    void requestClose() override {
        if (onClose) onClose();
    }
    std::function<void()> onClose;

private:
    bool showReady_;
    QString caption_, label_;
};

// What the window's action form does for an action: `start` starts it, then the event loop
// runs until the form would close (`onClose`, which the runner's view calls when the action
// has ended or was aborted; later calls do nothing).
void runUntilFormCloses(std::function<void()>& onClose, const std::function<void()>& start);

// How kelvano-cli reports, set once from --json, --quiet and --verbose before a command runs.
// Every command hands its notes and its result to the functions below rather than printing
// them itself, so that the three options mean the same in every command.
struct OutputMode {
    bool json = false;     // the result as one JSON document on standard output
    bool quiet = false;    // no progress and no notes; errors still on standard error
    bool verbose = false;  // each step, the box's identity and the waits
};
void setOutputMode(const OutputMode& mode);
const OutputMode& outputMode();

// A note for the user (what is about to happen, what was left out): standard error, one line,
// unless --quiet.
void note(const QString& text);
// A step of the work: standard error with --verbose only.
void detail(const QString& text);
// The command's result: `human` (whole lines) on standard output; with --json `json` (with
// "status" added) as one document on standard output and `human` on standard error unless
// --quiet. Returns `status`, or 1 when the standard output could not be written.
int printResult(int status, const QString& human, QJsonObject json);

// An action's outcome as the terminal reports it: the memories asked for, done and not done
// (with the reason), the errors and notes, the slots saved and the time taken.
struct ActionReport {
    QString command;  // "read" ... "program"
    int card = 0;
    const ActionResult* result = nullptr;  // none: the box did not come up
    MemorySet asked;
    QStringList saved;  // "SLOT=FILE" of each slot written
    qint64 milliseconds = 0;
};
// Prints `report` (the closing "READY" line, or with --json the document) and returns `status`.
int reportAction(int status, const ActionReport& report);
// A comparison as a JSON object: what was compared with, and per memory whether it was
// compared (else why not), its differences and the first runs of them.
struct CompareReport;
QJsonObject compareJson(const CompareReport& report, int maxRuns = 16);

// "prog", "data", "config", "eeprom": the --memories names.
QString memoryKey(Memory memory);

}  // namespace kelvano
