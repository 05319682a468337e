#pragma once
#include <QDialog>
#include <QObject>
#include <vector>

#include "device/Identity.h"

class QAction;
class QComboBox;
class QLabel;
class QPushButton;

namespace kelvano {

class ActionDialog;
class TActions;
class TMain;

// What the window shows after identifying: the controller, what it answered, the card types
// with that controller; when exactly one family of card types matches and the selected card
// type is not among them, the choice to switch to one of them (they differ only in the size of
// the external EEPROM, which the controller does not tell).
class IdentifyResultDialog : public QDialog {
    Q_OBJECT
public:
    IdentifyResultDialog(const ControllerIdentity& identity, int current, QWidget* parent);

    // The card types offered (empty: no switch offered) and the one chosen to switch to
    // after "Switch Card Type" (0 when closed without switching).
    const std::vector<int>& choices() const { return choices_; }
    int chosen() const { return chosen_; }
    QLabel* text() const { return text_; }
    QComboBox* choiceBox() const { return choiceBox_; }
    QPushButton* switchButton() const { return switchButton_; }

private:
    std::vector<int> choices_;
    int chosen_ = 0;
    QLabel* text_;
    QComboBox* choiceBox_;
    QPushButton* switchButton_;
};

// The Action menu's "Identify Card..." item: runs the identification in the action window
// (waiting for a card as the other actions do), then shows what was found and, when the user
// asks, switches to the card type as the Devices menu does. Enabled while the box is connected.
class IdentifyControl : public QObject {
    Q_OBJECT
public:
    IdentifyControl(TMain& main, TActions& actions, ActionDialog& window);

    QAction* action() const { return action_; }
    // The result window is modal unless replaced (tests): it gets the dialog and returns
    // its result code.
    void setResultShower(std::function<int(IdentifyResultDialog&)> show) {
        show_ = std::move(show);
    }
    void identify();

private:
    TMain& main_;
    TActions& actions_;
    ActionDialog& window_;
    QAction* action_;
    std::function<int(IdentifyResultDialog&)> show_;
};

}  // namespace kelvano
