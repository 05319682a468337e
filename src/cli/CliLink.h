#pragma once
#include <QString>
#include <memory>

#include "cli/Commands.h"
#include "link/RecordingTranscript.h"
#include "link/RecordingUsbBackend.h"
#include "link/uCom.h"
#include "link/uUsb.h"
#include "session/Session.h"
#include "sim/SimBox.h"

namespace kelvano {

// The link of a kelvano-cli command, set up as the window sets up its own: the port named by
// --port (for "SIM" a simulated box of its own, holding a card of the given type and the
// loaders of the program's store; for "USB" libusb with the ids of the settings), and TCom over
// it. With --transcript FILE every exchange is written to FILE.
class CliLink {
public:
    CliLink(Host& host, Clock& clock, MainView& view, Options& options, const CliArgs& args);
    TCom& com() { return *com_; }
    // The simulated box when the port is "SIM", else none.
    SimBox* simBox() { return simulated_ ? &ports_.simBox() : nullptr; }
    Session& session() { return session_; }
    // False (with the reason on standard error) when --transcript names a file that cannot
    // be written.
    bool transcriptOk() const { return transcriptOk_; }
    // Ends the transcript with the command's exit status and returns it.
    int finish(int status);

private:
    Session session_;
    BoxPorts ports_;
    bool simulated_;
    std::unique_ptr<UsbBackend> usbBackend_;
    TranscriptRecorder recorder_;
    std::unique_ptr<RecordingUsbBackend> recordingUsb_;
    TUsb usb_;
    bool transcriptOk_ = true;
    std::unique_ptr<TCom> com_;
};

}  // namespace kelvano
