#pragma once
#include <QString>

namespace kelvano {

// What the link, the file module and the action runner show in the main window. The window
// implements it; the terminal front end and the tests have their own.
class MainView {
public:
    virtual ~MainView() = default;

    // The connection lamp Led1 (bright red when lit, maroon when dark).
    virtual void setLamp(bool lit) = 0;
    virtual void toggleLamp() = 0;
    // The connected update (CPortOpen: lamp lit, connect button down, the five actions enabled,
    // port list disabled) or the disconnected update (CPortClose: lamp dark, button up, actions
    // disabled, port list enabled, Mnu2Prg hidden).
    virtual void showConnected(bool connected) = 0;
    // Status pane QxPane: the box's identity; empty while disconnected.
    virtual void setQxPane(const QString& text) = 0;
    // One line at the end of the DEBUG memo.
    virtual void appendDebug(const QString& line) = 0;
    // "Fast Open" of the last files (run by a successful connect when asked for).
    virtual void fastOpen() = 0;
    // Makes memory page 1 (Pg1: flash and internal EEPROM) or 2 (Pg2: external EEPROM) active.
    virtual void showMemoryPage(int page) = 0;
    // File name label of grid 1 (LabFnProgMem), 2 (LabFnDataMem) or 3 (LabFnEepMem).
    virtual void setFileLabel(int grid, const QString& text) = 0;
};

// A main window that shows nothing: for front ends without one, which override what they need.
class NullMainView : public MainView {
public:
    void setLamp(bool) override {}
    void toggleLamp() override {}
    void showConnected(bool) override {}
    void setQxPane(const QString&) override {}
    void appendDebug(const QString&) override {}
    void fastOpen() override {}
    void showMemoryPage(int) override {}
    void setFileLabel(int, const QString&) override {}
};

// The action dialog in its progress-window mode, as the firmware upload uses it.
class ProgressView {
public:
    virtual ~ProgressView() = default;
    // Shows the dialog without waiting for it: caption, progress bar shown at 0 %, Abort disabled.
    virtual void showProgressWindow(const QString& caption) = 0;
    // Setting the total resets the completed count to 0.
    virtual void setProgressTotal(int total) = 0;
    virtual void setProgressPosition(int position) = 0;
    virtual void hideProgressWindow() = 0;
};

}  // namespace kelvano
