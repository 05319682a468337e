#pragma once
#include <QStringList>

namespace kelvano {

// The options of the configuration dialog: the port of the box and seven on/off options.
// The dialog's controls show this object and write every change back at once; the link,
// the action runner and the sequences read it at the moment they need a value, and the
// settings file loads and saves it. All boxes are unticked until the settings load.
struct Options {
    QStringList ports;            // cbComPort entries, in list order
    int portIndex = -1;           // selected entry, -1 when none
    bool portListEnabled = true;  // cbComPort is disabled while connected

    bool conAtStart = false;   // cbConAtStart  "Connect to Stravinex at startup"   AutoConn
    bool loadAtCon = false;    // cbLoadAtCon   "Load last files after connect"     AutoLoad
    bool soundReady = false;   // cbSoundReady  "Play sound after programming"      SoundFinish
    bool verify = false;       // cbVerify      "Automatic verify after programming" ProgVerify
    bool alwaysErase = false;  // cbAlwaysErase "Always erase device before programming"
    bool smartAuto = false;    // cbSmartAuto   "Start programming when inserting card"
    bool warnEnable = false;   // cbWarnEnable  "Enable warnings"

    // How many times as long every wait for the box's answer on a serial line is: 1 keeps the
    // box's own times; more suits a box behind a network or virtual serial port, or a machine
    // too busy to be scheduled within them. A silent box is then noticed as much later.
    int waitFactor = 1;

    // Text of the selected entry; empty when nothing is selected.
    QString portName() const {
        return portIndex >= 0 && portIndex < ports.size() ? ports.at(portIndex) : QString();
    }
    // Selects the entry equal to `name` (ignoring case), or the first entry when there is none.
    void selectPort(const QString& name) {
        portIndex = -1;
        for (int i = 0; i < ports.size(); ++i) {
            if (ports.at(i).compare(name, Qt::CaseInsensitive) == 0) {
                portIndex = i;
                return;
            }
        }
        if (!ports.isEmpty()) portIndex = 0;
    }
};

}  // namespace kelvano
