#include "session/Session.h"

#include <QCoreApplication>
#include <QDir>

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

Session::Session(const Folders& folders)
    : programDir_(withSlash(folders.program)),
      settingsLocation_(SettingsLocation::choose(programDir_, folders.userConfig)),
      settings_(settingsLocation_.file()),
      store_(ImageStore::programStore(programDir_)) {}

QString Session::crdPath() const { return programDir_ + QStringLiteral("kelvano.crd"); }

bool Session::isUsbPort(const QString& name) { return name == QLatin1String("USB"); }

bool Session::isSimulatorPort(const QString& name) {
    return name.compare(QLatin1String("SIM"), Qt::CaseInsensitive) == 0;
}

QList<LibusbBackend::UsbId> Session::extraUsbIds() {
    QList<LibusbBackend::UsbId> ids;
    for (const auto& [vendor, product] : readUsbIds(settings_)) ids.append({vendor, product});
    return ids;
}

std::unique_ptr<UsbBackend> Session::makeUsbBackend() {
    return std::make_unique<LibusbBackend>(extraUsbIds());
}

std::unique_ptr<SimBox> Session::makeSimBox(int cardType) const {
    auto box = std::make_unique<SimBox>(SimBox::Model::QxBase, cardType);
    box->setLoaderImages(SimBox::loadersFromStore(store_.data()));
    return box;
}

BoxPorts::BoxPorts(const Session& session, Clock& clock, int simCardType)
    : clock_(clock), simBox_(session.makeSimBox(simCardType)) {}

SerialPortFactory BoxPorts::factory() {
    return [this](const QString& name) -> std::unique_ptr<SerialPort> {
        if (Session::isSimulatorPort(name)) return std::make_unique<SimSerialPort>(*simBox_, clock_);
        return makeSystemSerialPort();
    };
}

}  // namespace kelvano
