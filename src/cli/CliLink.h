#pragma once
#include <QString>
#include <functional>
#include <memory>

#include "cli/Commands.h"
#include "cli/WaitReport.h"
#include "link/RecordingTranscript.h"
#include "link/RecordingUsbBackend.h"
#include "link/uCom.h"
#include "link/uUsb.h"
#include "session/Session.h"
#include "sim/ReplayUsbBackend.h"
#include "sim/SimBox.h"

namespace kelvano {

class TActions;
class InterruptGuard;
class TerminalHost;

// The link of a kelvano-cli command, set up as the window sets up its own: the port named by
// --port (for "SIM" a simulated box of its own, holding a card of the given type and the
// loaders of the program's store; for "USB" libusb with the ids of the settings), and TCom over
// it. With --trace FILE the simulated box writes every exchange to FILE. With --transcript FILE
// every exchange is written to FILE; with --replay FILE (and port "USB") the USB box answers as it
// did in the USB transcript FILE, and where the run departs from it is reported when the command
// finishes.
//
// With --verbose the connect is told on standard error, every exchange's wait is watched
// (WaitReport: slow and missing replies at once) and finish() ends with the waits of each
// command.
//
// Ctrl-C and SIGTERM: from connect() until finish(), a signal ends the command as Abort ends an
// action (the attached runner stops at its next step and its window's closing exchanges leave
// the box idle), and finish() returns 130. Every command that talks to the box connects here.
class CliLink {
public:
    // `programDir` empty: the running program's folder.
    CliLink(Host& host, Clock& clock, MainView& view, Options& options, const CliArgs& args,
            const QString& programDir = {});
    ~CliLink();
    TCom& com() { return *com_; }
    // The runner whose Abort a signal presses, and the progress window of the firmware upload;
    // `onInterrupt` runs first (a progress line to end).
    void attach(TActions& runner, std::function<void()> onInterrupt = {});
    // Connects to the box with the guard armed; true when the link is ready and no signal came.
    bool connect();
    // After a connect() that failed: says that the box did not come up (unless an error was
    // shown already or a signal came) and disconnects.
    void notUp(const TerminalHost& host);
    // A signal came since connect().
    bool interrupted() const;
    // The simulated box when the port is "SIM", else none.
    SimBox* simBox() { return simulated_ ? &ports_.simBox() : nullptr; }
    Session& session() { return session_; }
    // The USB driver (under the transcript's recorder) when the port is "USB", else none.
    const UsbBackend* usbBackend() const { return usbBackend_.get(); }
    // False (with the reason on standard error) when --transcript or --trace names a file that
    // cannot be written, --trace is given for a real box, or --replay names a file that cannot
    // be replayed: the command is refused before it connects.
    bool transcriptOk() const { return transcriptOk_; }
    // Ends the transcript with the command's exit status and returns it; a replay that
    // departed from its transcript or did not reach its end is reported and turns 0 into 1;
    // an interrupted command returns 130.
    int finish(int status);

private:
    bool traceFile(const CliArgs& args);

    Session session_;
    BoxPorts ports_;
    bool simulated_;
    bool transcriptOk_ = true;
    ReplayUsbBackend* replay_ = nullptr;
    std::unique_ptr<UsbBackend> usbBackend_;
    QString replayPath_, portName_;
    TranscriptRecorder recorder_;
    std::unique_ptr<RecordingUsbBackend> recordingUsb_;
    TUsb usb_;
    std::unique_ptr<TCom> com_;
    TActions* runner_ = nullptr;
    std::function<void()> onInterrupt_;
    std::unique_ptr<InterruptGuard> guard_;
    WaitReport waits_;
};

}  // namespace kelvano
