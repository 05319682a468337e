#include "app/Program.h"

#include <QCoreApplication>
#include <QDir>

#include "app/FuseEditors.h"
#include "link/QtSerialPortImpl.h"
#include "sim/SimSerialPort.h"

namespace kelvano {

namespace {
QString withSlash(QString dir) {
    if (dir.isEmpty()) dir = QCoreApplication::applicationDirPath();
    if (!dir.endsWith(QLatin1Char('/'))) dir += QLatin1Char('/');
    return dir;
}
}  // namespace

// Com keeps a reference to Usb, which is created last; it only uses it once connecting.
KelvanoProgram::KelvanoProgram(Setup setup)
    : guiHost_(setup.host ? nullptr : std::make_unique<GuiHost>()),
      host(setup.host ? *setup.host : *guiHost_),
      simBox(SimBox::Model::QxBase, 10),
      Main(host, options, enable, fuses, slotFiles),
      Com(host, clock, Main, options, Usb,
          [this](const QString& name) { return makePort(name); },
          ImageStore::programStore(withSlash(setup.programDir))),
      FileIo(host, Devices, fuses, &Main),
      Config(options, &Main),
      Actions(host, clock, Devices, Com, options, enable, fuses, Main),
      ActionWindow(Actions, &Main),
      About(&Main),
      Usb(setup.usbBackend.get()),
      programDir_(withSlash(setup.programDir)),
      portOverride_(setup.portName),
      usbBackend_(std::move(setup.usbBackend)) {
    if (guiHost_) guiHost_->setOwner(&Main);
    Main.setProgramDir(programDir_);
    FileIo.CrdPath = programDir_ + QStringLiteral("kelvano.crd");
    settings.setFileName(settingsFilePath(programDir_));
    Com.setProgressView(&Actions);
    About.VersLabel->setText(TMain::programTitle());
    simBox.setLoaderImages(SimBox::loadersFromStore(Com.store().data()));

    TMain::Links links;
    links.fillPortList = [this] {
        options.ports = ListSerialPorts();
        options.portIndex = -1;
        // A port given on the command line is offered even when the system does not list it
        // (a pseudo-terminal, for instance).
        if (!portOverride_.isEmpty()) {
            bool listed = false;
            for (const QString& p : options.ports)
                listed = listed || p.compare(portOverride_, Qt::CaseInsensitive) == 0;
            if (!listed) options.ports.append(portOverride_);
        }
    };
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
        FileIo.SaveFile(name, slot, filterIndex);
    };
    links.showConfig = [this] { Config.exec(); };
    links.runAction = [this](int code) {
        Actions.setAction(actionCodeOf(code));
        ActionWindow.exec();
    };
    links.showAbout = [this] { About.exec(); };
    links.deviceApplied = [this](int code) {
        // The simulated box holds a card of the selected type.
        if (!SimCard::isKnownType(code)) return;
        if (!simBox.hasCard() || simBox.card().type() != code) simBox.insertCard(code);
    };
    Main.wire(Devices, std::move(links), new FuseEditors(Devices, fuses));
}

KelvanoProgram::~KelvanoProgram() = default;

SettingsContext KelvanoProgram::context() {
    return SettingsContext{options,   Devices,   enable, fuses, slotFiles, TMain::fileVersion(),
                           Main.DevPane->text()};
}

void KelvanoProgram::showSettingsError() {
    const QString error = settings.errorString();
    // The two sections are saved one after the other; one refusal is reported once.
    if (error.isEmpty() || error == lastSettingsError_) return;
    lastSettingsError_ = error;
    host.showError(QStringLiteral("The settings could not be saved.\r") + error);
}

std::unique_ptr<SerialPort> KelvanoProgram::makePort(const QString& name) {
    if (name.compare(QLatin1String("SIM"), Qt::CaseInsensitive) == 0)
        return std::make_unique<SimSerialPort>(simBox, clock);
    return makeSystemSerialPort();
}

}  // namespace kelvano
