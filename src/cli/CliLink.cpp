#include "cli/CliLink.h"

#include <QCoreApplication>

#include "link/QtSerialPortImpl.h"
#include "sim/SimSerialPort.h"

namespace kelvano {

CliLink::CliLink(Host& host, Clock& clock, MainView& view, Options& options, const QString& port,
                 int card)
    : usb_(&usbBackend_) {
    options.ports = {port};
    options.portIndex = 0;
    if (port == QLatin1String("SIM")) box_ = std::make_unique<SimBox>(SimBox::Model::QxBase, card);
    SerialPortFactory factory = [this, &clock](const QString&) -> std::unique_ptr<SerialPort> {
        if (box_) return std::make_unique<SimSerialPort>(*box_, clock);
        return makeSystemSerialPort();
    };
    com_ = std::make_unique<TCom>(host, clock, view, options, usb_, factory,
                                  ImageStore::programStore(QCoreApplication::applicationDirPath()));
}

}  // namespace kelvano
