#include "app/Program.h"

#include <utility>

#include "actions/Compare.h"
#include "app/ChecksumLabels.h"
#include "app/FuseEditors.h"
#include "app/GridEditing.h"
#include "app/IdentifyCard.h"
#include "app/RecordingControl.h"
#include "link/RecordingSerialPort.h"

namespace kelvano {

// Com keeps a reference to Usb, which is created last; it only uses it once connecting.
KelvanoProgram::KelvanoProgram(Setup setup)
    : guiHost_(setup.host ? nullptr : std::make_unique<GuiHost>()),
      session(Session::Folders{setup.programDir, setup.userConfigDir}),
      host(setup.host ? *setup.host : *guiHost_),
      settings(session.settings()),
      ports(session, clock),
      simBox(ports.simBox()),
      Main(host, options, enable, fuses, slotFiles),
      Com(host, clock, Main, options, Usb, RecordingSerialPort::wrap(ports.factory(), transcript),
          session.store()),
      FileIo(host, Devices, fuses, &Main),
      Config(options, &Main),
      Actions(host, clock, Devices, Com, options, enable, fuses, Main),
      ActionWindow(Actions, &Main),
      About(&Main),
      programDir_(session.programDir()),
      portOverride_(setup.portName),
      usbBackend_(setup.usbBackend ? std::move(setup.usbBackend) : session.makeUsbBackend()) {
    if (usbBackend_)
        recordingUsb_ = std::make_unique<RecordingUsbBackend>(*usbBackend_, transcript);
    Usb.setBackend(recordingUsb_.get());
    new RecordingControl(Main, *Main.MnuFile, Main.ActConfig, transcript,
                         [this] { return Devices.DeviceId; });
    if (guiHost_) guiHost_->setOwner(&Main);
    Main.setProgramDir(programDir_);
    FileIo.CrdPath = session.crdPath();
    Com.setProgressView(&Actions);
    About.VersLabel->setText(TMain::programTitle());
    // A port named on the command line is a wish to use it: once the start-up timer has
    // applied the card type (and made the connect the settings may ask for), connect.
    QObject::connect(&Main.Timer1, &QTimer::timeout, &Main, [this] { connectToNamedPort(); });

    TMain::Links links;
    links.fillPortList = [this] { fillPortList(); };
    links.iniConfig = [this](bool write) {
        SettingsContext ctx = context();
        if (!IniConfig(settings, ctx, write) && write) showSettingsError();
        if (!write && !portOverride_.isEmpty()) options.selectPort(portOverride_);
    };
    links.iniDevice = [this](bool write) {
        SettingsContext ctx = context();
        if (!IniDevice(settings, ctx, write) && write) showSettingsError();
    };
    links.connect = [this] { Com.Connect(); };
    links.disconnect = [this] { Com.Disconnect(); };
    links.portOpen = [this] { return Com.portOpen(); };
    links.usbConnected = [this] { return Com.UsbConnected; };
    links.openFile = [this](const QString& name, int slot) { return FileIo.OpenFile(name, slot); };
    links.saveFile = [this](const QString& name, int slot, int filterIndex) {
        return FileIo.SaveFile(name, slot, filterIndex);
    };
    links.iniWindow = [this](WindowPlacement& placement, bool write) {
        if (!IniWindow(settings, placement, write) && write) showSettingsError();
    };
    links.showConfig = [this] { Config.exec(); };
    links.runAction = [this](int code) {
        if (guiHost_) guiHost_->setEraseOffered(true);
        Actions.setAction(actionCodeOf(code));
        ActionWindow.exec();
        if (guiHost_) guiHost_->setEraseOffered(false);
        // A protected card the user chose to erase: programmed with the erase first.
        if (!Actions.result().eraseAndProgram) return;
        const bool alwaysErase = std::exchange(options.alwaysErase, true);
        Actions.setAction(ActionCode::Program);
        ActionWindow.exec();
        options.alwaysErase = alwaysErase;
    };
    links.showAbout = [this] { About.exec(); };
    links.deviceApplied = [this](int code) {
        // The simulated box holds a card of the selected type.
        if (!SimCard::isKnownType(code)) return;
        if (!simBox.hasCard() || simBox.card().type() != code) simBox.insertCard(code);
    };
    Main.wire(Devices, std::move(links), new FuseEditors(Devices, fuses));
    new IdentifyControl(Main, Actions, ActionWindow);
    new ChecksumLabels(Main, Devices);
    Main.Editing->setCardCompare([this]() -> std::optional<CompareReport> {
        CardCompare compare(host, clock, Devices, Com, options, enable, Main);
        compare.prepare();
        compare.runner().setAction(ActionCode::Read);
        ActionDialog window(compare.runner(), &Main);
        window.exec();
        return compare.report();
    });
}

KelvanoProgram::~KelvanoProgram() = default;

// The system's serial ports, and a port given on the command line even when the system does
// not list it (a pseudo-terminal, for instance).
void KelvanoProgram::fillPortList() {
    options.ports = ListSerialPorts();
    options.portIndex = -1;
    if (portOverride_.isEmpty()) return;
    bool listed = false;
    for (const QString& p : options.ports)
        listed = listed || p.compare(portOverride_, Qt::CaseInsensitive) == 0;
    if (!listed) options.ports.append(portOverride_);
}

SettingsContext KelvanoProgram::context() {
    return SettingsContext{
        options,      Devices, enable, fuses, slotFiles, TMain::fileVersion(), Main.DevPane->text(),
        portOverride_};
}

void KelvanoProgram::showSettingsError() {
    const QString error = settings.errorString();
    // The two sections are saved one after the other; one refusal is reported once.
    if (error.isEmpty() || error == lastSettingsError_) return;
    lastSettingsError_ = error;
    host.showError(QStringLiteral("The settings could not be saved.\r") + error);
}

void KelvanoProgram::connectToNamedPort() {
    if (portOverride_.isEmpty() || options.conAtStart) return;
    if (Com.portOpen() || Com.UsbConnected) return;
    Com.Connect();
}

}  // namespace kelvano
