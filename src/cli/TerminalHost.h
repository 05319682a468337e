#pragma once
#include <QCoreApplication>
#include <functional>

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

}  // namespace kelvano
