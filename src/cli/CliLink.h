#pragma once
#include <QString>
#include <memory>

#include "link/LibusbBackend.h"
#include "link/uCom.h"
#include "sim/SimBox.h"

namespace kelvano {

// The link of a kelvano-cli command: the port named by --port (for "SIM" the simulated box,
// holding a card of the given type), a USB box through libusb, and TCom over them.
class CliLink {
public:
    CliLink(Host& host, Clock& clock, MainView& view, Options& options, const QString& port,
            int card);
    TCom& com() { return *com_; }
    SimBox* simBox() { return box_.get(); }

private:
    std::unique_ptr<SimBox> box_;
    LibusbBackend usbBackend_;
    TUsb usb_;
    std::unique_ptr<TCom> com_;
};

}  // namespace kelvano
