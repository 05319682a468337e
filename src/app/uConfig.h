#pragma once
#include <QDialog>
#include <QStringList>
#include <utility>
#include <vector>

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;

namespace kelvano {

struct Options;

// The configuration dialog "Config": the port of the box and seven on/off options. It has no
// state of its own: it shows the Options each time it is shown and writes every change back
// at once. There is no cancel; "OK" closes it.
class TConfig : public QDialog {
    Q_OBJECT
public:
    explicit TConfig(Options& options, QWidget* parent = nullptr);

    // Shows the Options in the controls (also done by every show).
    void refresh();

protected:
    void showEvent(QShowEvent* event) override;

private:
    Options& options_;
    QComboBox* cbComPort_;
    QLabel* portNote_;  // why the port cannot be changed now
    std::vector<std::pair<QCheckBox*, bool Options::*>> boxes_;
    bool refreshing_ = false;
};

// The system's serial ports as the user types them (on Linux the device path), sorted as
// strings, then "USB" (the USB model of the box) and "SIM" (the built-in simulated box).
QStringList ListSerialPorts();
// The same list from given port names.
QStringList portList(QStringList systemPorts);

}  // namespace kelvano
