#pragma once
#include <QPointer>
#include <QWidget>

#include "base/Host.h"

namespace kelvano {

// The window's side of Host: message boxes over the main window and the system beep.
class GuiHost : public Host {
public:
    explicit GuiHost(QWidget* owner = nullptr) : owner_(owner) {}
    void setOwner(QWidget* owner) { owner_ = owner; }

    // Beep, then a modal "Error" box with the error icon and a single Cancel button.
    void showError(const QString& text) override;
    // A warning box with OK and Abort; true for OK.
    bool askOkAbort(const QString& caption, const QString& text) override;
    // While an action of the main window runs (setEraseOffered), a protected card's error
    // offers "Erase and program" beside Cancel; true when that was chosen. Else the error box.
    bool offerErase(const QString& text) override;
    void setEraseOffered(bool offered) { eraseOffered_ = offered; }
    void beep() override;
    void processEvents() override;

    // Message texts break their lines with '\r'; the box wants '\n'.
    static QString boxText(const QString& text);

private:
    QPointer<QWidget> owner_;
    bool eraseOffered_ = false;
};

}  // namespace kelvano
