#pragma once
#include <QString>
#include <memory>

#include "actions/uActions.h"
#include "app/ActionDialog.h"
#include "app/GuiHost.h"
#include "app/uAbout.h"
#include "app/uConfig.h"
#include "app/uMain.h"
#include "base/Clock.h"
#include "base/Options.h"
#include "device/FusePages.h"
#include "device/Models.h"
#include "device/uDevices.h"
#include "fileio/uFileio.h"
#include "link/RecordingTranscript.h"
#include "link/RecordingUsbBackend.h"
#include "link/uCom.h"
#include "link/uUsb.h"
#include "session/Session.h"
#include "sim/SimBox.h"

namespace kelvano {

// Everything one run of the windowed program is made of: the small state models the modules
// share, then the modules in the order they come to life (Main, Devices, Com, FileIo, Config,
// Actions, About, Usb), wired to each other by reference. main() makes one; a test makes its
// own with a folder of its choosing.
class KelvanoProgram {
public:
    struct Setup {
        QString programDir;     // folder of the program (settings, card dump layouts); trailing '/'
        QString userConfigDir;  // settings when programDir is not writable; empty: the system's
        // --port: selects this port for the run (listed when missing) and connects at start
        QString portName;
        // The USB model's driver; none: libusb with the ids of the settings
        std::unique_ptr<UsbBackend> usbBackend;
        Host* host = nullptr;  // message boxes of the window when none is given
    };
    explicit KelvanoProgram(Setup setup);
    ~KelvanoProgram();

private:
    std::unique_ptr<GuiHost> guiHost_;

public:
    // Shared state (not modules).
    Session session;  // the settings file, the image store, the ports by name
    Host& host;
    RealClock clock;
    Options options;
    EnableBoxes enable;
    FuseModel fuses;
    SlotFiles slotFiles;
    SettingsStore& settings;
    BoxPorts ports;
    TranscriptRecorder transcript{clock};  // recorded by the port and USB wrappers below
    SimBox& simBox;                        // the box behind port "SIM"

    // The modules, in the order they are created.
    TMain Main;
    TDevices Devices;
    TCom Com;
    TFileIo FileIo;
    TConfig Config;
    TActions Actions;
    ActionDialog ActionWindow;  // the window of Actions
    TAbout About;
    TUsb Usb;

    QString programDir() const { return programDir_; }

private:
    SettingsContext context();
    void fillPortList();
    void showSettingsError();
    void connectToNamedPort();

    QString programDir_;
    QString portOverride_;
    std::unique_ptr<UsbBackend> usbBackend_;
    std::unique_ptr<RecordingUsbBackend> recordingUsb_;
    QString lastSettingsError_;
};

}  // namespace kelvano
