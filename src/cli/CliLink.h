#pragma once
#include <QString>
#include <memory>

#include "cli/Commands.h"
#include "link/LibusbBackend.h"
#include "link/RecordingTranscript.h"
#include "link/RecordingUsbBackend.h"
#include "link/uCom.h"
#include "sim/SimBox.h"

namespace kelvano {

// The link of a kelvano-cli command: the port named by --port (for "SIM" the simulated box,
// holding a card of the given type), a USB box through libusb, and TCom over them. With
// --transcript FILE every exchange is written to FILE.
class CliLink {
public:
    CliLink(Host& host, Clock& clock, MainView& view, Options& options, const CliArgs& args);
    TCom& com() { return *com_; }
    SimBox* simBox() { return box_.get(); }
    // False (with the reason on standard error) when --transcript names a file that cannot
    // be written.
    bool transcriptOk() const { return transcriptOk_; }
    // Ends the transcript with the command's exit status and returns it.
    int finish(int status);

private:
    std::unique_ptr<SimBox> box_;
    LibusbBackend usbBackend_;
    TranscriptRecorder recorder_;
    RecordingUsbBackend recordingUsb_;
    TUsb usb_;
    bool transcriptOk_ = true;
    std::unique_ptr<TCom> com_;
};

}  // namespace kelvano
