#pragma once
#include <QString>
#include <memory>

#include "link/uCom.h"
#include "link/uUsb.h"
#include "session/Session.h"
#include "sim/SimBox.h"

namespace kelvano {

// The link of a kelvano-cli command, set up as the window sets up its own: the port named by
// --port (for "SIM" a simulated box of its own, holding a card of the given type and the
// loaders of the program's store; for "USB" libusb with the ids of the settings), and TCom over
// it.
class CliLink {
  public:
    // `programDir` empty: the running program's folder.
    CliLink(Host& host, Clock& clock, MainView& view, Options& options, const QString& port,
            int card, const QString& programDir = {});
    TCom& com() { return *com_; }
    // The simulated box when the port is "SIM", else none.
    SimBox* simBox() { return simulated_ ? &ports_.simBox() : nullptr; }
    Session& session() { return session_; }
    // The USB driver when the port is "USB", else none.
    const UsbBackend* usbBackend() const { return usbBackend_.get(); }

  private:
    Session session_;
    BoxPorts ports_;
    bool simulated_;
    std::unique_ptr<UsbBackend> usbBackend_;
    TUsb usb_;
    std::unique_ptr<TCom> com_;
};

}  // namespace kelvano
