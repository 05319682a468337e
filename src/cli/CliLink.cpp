#include "cli/CliLink.h"

namespace kelvano {

CliLink::CliLink(Host& host, Clock& clock, MainView& view, Options& options, const QString& port,
                 int card, const QString& programDir)
    : session_(Session::Folders{programDir, {}}),
      ports_(session_, clock, card),
      simulated_(Session::isSimulatorPort(port)),
      usbBackend_(Session::isUsbPort(port) ? session_.makeUsbBackend() : nullptr),
      usb_(usbBackend_.get()) {
    options.ports = {port};
    options.portIndex = 0;
    com_ = std::make_unique<TCom>(host, clock, view, options, usb_, ports_.factory(),
                                  session_.store());
}

}  // namespace kelvano
