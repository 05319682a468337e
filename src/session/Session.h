#pragma once
#include <QList>
#include <QString>
#include <memory>

#include "base/Clock.h"
#include "link/ImageStore.h"
#include "link/LibusbBackend.h"
#include "link/uCom.h"
#include "session/Settings.h"
#include "session/SettingsLocation.h"
#include "sim/SimBox.h"

namespace kelvano {

// What the window and the terminal both set up once per run: where the program's files are,
// the settings file, the image store, and the ports by name.
class Session {
public:
    struct Folders {
        QString program;     // folder of the program; empty: the running program's
        QString userConfig;  // settings when the program's folder is not writable; empty: the
                             // user's configuration folder of the system
    };
    explicit Session(const Folders& folders = {});
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    QString programDir() const { return programDir_; }  // with a trailing '/'
    const SettingsLocation& settingsLocation() const { return settingsLocation_; }
    SettingsStore& settings() { return settings_; }
    // The first kelvano.store beside the program or in the data folders, else the built-in one.
    const ImageStore& store() const { return store_; }
    QString crdPath() const { return crdPathIn(programDir_); }
    // The card dump layouts, "kelvano.crd", of a program in that folder (empty: the running
    // program's); for commands that need no more of the set-up.
    static QString crdPathIn(const QString& programDir);

    // Port names: "USB" (case as written) selects the USB box; "SIM" (any case) the simulated
    // box; anything else is a serial port of the system.
    static bool isUsbPort(const QString& name);
    static bool isSimulatorPort(const QString& name);

    // The USB ids looked for besides the usual ones: the key "UsbIds" of "Config", read now.
    QList<LibusbBackend::UsbId> extraUsbIds();
    std::unique_ptr<UsbBackend> makeUsbBackend();
    // A QXBASE box holding a blank card of that type, with the loaders of this run's store.
    std::unique_ptr<SimBox> makeSimBox(int cardType = 10) const;

private:
    QString programDir_;
    SettingsLocation settingsLocation_;
    SettingsStore settings_;
    ImageStore store_;
};

// The ports one link module opens: each BoxPorts has a simulated box of its own behind "SIM",
// so that several links in one process (several boxes on a production line) never share one.
class BoxPorts {
public:
    BoxPorts(const Session& session, Clock& clock, int simCardType = 10);
    BoxPorts(const BoxPorts&) = delete;
    BoxPorts& operator=(const BoxPorts&) = delete;

    // For TCom: the simulated box for "SIM", the system's serial port for other names.
    SerialPortFactory factory();
    SimBox& simBox() { return *simBox_; }

private:
    Clock& clock_;
    std::unique_ptr<SimBox> simBox_;
};

}  // namespace kelvano
