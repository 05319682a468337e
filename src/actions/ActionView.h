#pragma once
#include <QString>

namespace kelvano {

// The action dialog's window as the action runner drives it: the caption, the status label
// Lab1, the progress bar ProgBar and the Abort button ButCancel. The window is a small
// dialog in the app; the terminal front end draws a progress bar on standard error; the
// tests record every call.
class ActionView {
public:
    virtual ~ActionView() = default;

    virtual void setCaption(const QString& caption) = 0;
    virtual void setLabel(const QString& text) = 0;  // Lab1 (centred, bold)
    virtual void setLabelVisible(bool visible) = 0;
    // The runner keeps total and completed count; the view shows the rounded percentage.
    virtual void setProgressPercent(int percent) = 0;
    virtual void setProgressVisible(bool visible) = 0;
    virtual void setAbortEnabled(bool enabled) = 0;
    // A close request: takes effect when the handler that made it has returned; the window
    // then calls TActions::FormClose once and disappears.
    virtual void requestClose() = 0;
    // Progress-window mode (the firmware upload): shown without waiting, then hidden.
    virtual void showModeless() = 0;
    virtual void hideWindow() = 0;
    // The finishing sound of a program action; silently nothing where there is no audio.
    virtual void playReadySound() {}
};

// An action window that shows nothing (until a real one is attached, and in benchmarks).
class NullActionView : public ActionView {
public:
    void setCaption(const QString&) override {}
    void setLabel(const QString&) override {}
    void setLabelVisible(bool) override {}
    void setProgressPercent(int) override {}
    void setProgressVisible(bool) override {}
    void setAbortEnabled(bool) override {}
    void requestClose() override {}
    void showModeless() override {}
    void hideWindow() override {}
};

}  // namespace kelvano
