#pragma once
#include <QString>

namespace kelvano {

// How the core reaches the user. The window implements it with message boxes, the terminal
// front end with standard error and a prompt, the tests with recorders.
class Host {
public:
    virtual ~Host() = default;
    // The program's one error report: the exclamation beep, then a modal box captioned "Error"
    // with the error icon and a single Cancel button. Texts use '\r' as their line break.
    // Returns when the user has closed the box.
    virtual void showError(const QString& text) = 0;
    // A warning box with the given caption and text and the buttons OK and Abort.
    // Returns true for OK. The caller sounds any beep it wants first.
    virtual bool askOkAbort(const QString& caption, const QString& text) = 0;
    // The error that a card is protected against reading. A host that can offer to erase the
    // card and program it again returns true when the user chose that; by default it is the
    // error box above.
    virtual bool offerErase(const QString& text) {
        showError(text);
        return false;
    }
    // The system's default beep.
    virtual void beep() = 0;
    // Let pending window events run once (repaint, a click on Abort, timer ticks).
    virtual void processEvents() = 0;
};

}  // namespace kelvano
