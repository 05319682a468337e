#pragma once
#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTimer>
#include <array>
#include <cstdint>
#include <memory>
#include <optional>

#include "actions/ActionTypes.h"
#include "actions/ActionView.h"
#include "actions/Preflight.h"
#include "base/Clock.h"
#include "base/Host.h"
#include "base/MainView.h"
#include "base/Options.h"
#include "device/FusePages.h"
#include "device/Identity.h"
#include "device/Models.h"
#include "device/uDevices.h"
#include "link/BoxInterface.h"

namespace kelvano {

class PortError;

// One row of the AVR signature table: a 24-bit signature and the device's name.
struct AvrSignature {
    uint32_t signature = 0;
    QString name;
};

// The action runner: waits for a card, runs one action (read, erase, blank check, verify,
// program) on it through the box, carries the caption, the status label, the progress bar
// and the abort flag, and puts the box back into its idle state when the window closes.
// Without an action it is the progress window of the firmware upload.
//
// One runner drives one box: it works on the link, the selected card (TDevices), the Enable
// boxes, the fuse values and the window it was given, and keeps no state anywhere else. Several
// runners, each with its own set, can therefore run side by side in one process (one per box,
// each on the thread that created it).
//
// Using it:
//   - A window (ActionDialog, the terminal bar, a recorder) is attached with setView.
//   - start(code) starts an action: the runner shows its state and, 10 ms later (the first
//     tick of its timer), polls for a card when "Start programming when inserting card" is set
//     or runs the action at once. A window that shows itself calls setAction(code) before it
//     shows and FormShow when it is shown.
//   - ButCancelClick is the Abort button: during the action it sets the abort flag (the action
//     stops at its next address), otherwise it asks the window to close.
//   - When the runner is done it calls ActionView::requestClose; the window then calls
//     FormClose once, which sends the box back to idle (also after an abort or an error).
//   - result() tells what the action did: which memories were read, verified, blank-checked or
//     written, what was left out and why, and every error text shown.
// Everything runs on the calling thread; long loops let pending events run through
// Host::processEvents so that Abort stays live, and every wait goes through the Clock.
class TActions : public QObject, public ProgressView {
    Q_OBJECT
public:
    // On the box behind a link (serial or USB, as it is connected when the action runs).
    TActions(Host& host, Clock& clock, TDevices& devices, TCom& com, Options& options,
             EnableBoxes& enable, FuseModel& fuses, MainView& mainView, QObject* parent = nullptr);
    // On any box (a fake in the tests); `box` must outlive the runner.
    TActions(Host& host, Clock& clock, TDevices& devices, BoxInterface& box, Options& options,
             EnableBoxes& enable, FuseModel& fuses, MainView& mainView, QObject* parent = nullptr);
    ~TActions() override;

    void setView(ActionView* view);
    ActionView* view() const { return view_; }

    // --- Starting an action -------------------------------------------------------------
    // The action the next FormShow starts (ActionCode::None: the progress window).
    void setAction(ActionCode code) { action_ = code; }
    ActionCode action() const { return action_; }
    // setAction, then FormShow: for a window that does not show itself (the terminal, a
    // production worker, the tests).
    void start(ActionCode code);
    // The same on exactly these memories: the Enable boxes are ticked to match first.
    void start(ActionCode code, MemorySet memories);

    // --- Window events ------------------------------------------------------------------
    // The window has just been shown: with an action, resets the state and starts the timer
    // (first tick in 10 ms).
    void FormShow();
    // One tick of the timer: polls for a card (when the option asks for it) or runs the whole
    // action, then asks the window to close. Drivers in virtual time call it themselves.
    void Startup();
    // Abort: sets the abort flag while an action runs, asks the window to close otherwise.
    void ButCancelClick();
    // The window is closing: stops the timer and sends the box back to idle ("M0", "D----",
    // "d    " on the serial link; packet 01 00 over USB). Runs once per showing.
    void FormClose();

    // --- State --------------------------------------------------------------------------
    bool running() const { return running_; }                 // the action's sequence is executing
    bool aborted() const { return aborted_; }                 // the abort flag
    bool closeRequested() const { return closeRequested_; }   // reset by FormShow
    int tickIntervalMs() const { return timer_.interval(); }  // 10, then 300 while waiting
    // What the running or last action did.
    const ActionResult& result() const { return result_; }

    // --- Pre-flight (Identify.cpp) -------------------------------------------------------
    // The checks every action passes before anything on the card changes (see Preflight):
    // the window, the terminal and production all start their actions through them. By
    // default the controller is checked and nothing else is asked.
    Preflight& preflight() { return preflight_; }
    // Off (--force): the actions go on whatever controller answers, an AVR card's own
    // identification showing a wrong device.
    void setControllerCheck(bool on) { preflight_.controller = on; }
    bool controllerCheck() const { return preflight_.controller; }
    // What the last Identify action or controller check read; not read() when nothing was.
    const ControllerIdentity& identity() const { return identity_; }

    // --- What the window shows ----------------------------------------------------------
    QString caption() const { return caption_; }
    QString label() const { return label_; }
    int progressTotal() const { return progressTotal_; }
    int progressPosition() const { return progressPosition_; }
    int progressPercent() const;
    bool abortEnabled() const { return abortEnabled_; }

    // ProgressView (the firmware upload).
    void showProgressWindow(const QString& caption) override;
    void setProgressTotal(int total) override;
    void setProgressPosition(int position) override;
    void hideProgressWindow() override;

private:
    // --- Runner ---------------------------------------------------------------------------
    void SetActionTitle(ActionCode code);
    // The card state: bits 1 and 2 both set, or -1, mean no card.
    int PollCardState();
    void runSequence();
    void handleFailure(const QString& text);
    void requestClose();
    void finishReady();
    void buildSignatureTable();
    void updatePercent(bool force);
    void setLabel(const QString& text);
    void setProgressVisible(bool visible);
    void setAbortEnabled(bool enabled);
    // The error report of an action: the error box, then the abort flag. A protected card's
    // error offers to erase and program it (`offerErase`).
    void ShowError(const QString& text, bool offerErase = false);
    // What was left out without an error, and why: in the result, under "READY" in the
    // window's label and in the main window's debug memo.
    void notice(const QString& text);
    // A memory that was asked for and is left out (with a notice).
    void leftOut(Memory memory) { result_.skipped.add(memory); }
    void beginLoop(int last);  // progress total, position 0, visible
    // Pending events, progress position; the address on the box's display at every 16th and
    // the last address. False when the box did not answer the address display: the action
    // has ended there.
    void step(int position);
    bool stepShowing(int address, int last);
    // An exchange whose reply carries nothing but that it came: one that went unanswered
    // ends the action ("The programmer box does not answer.") instead of the loop sending on
    // into silence.
    bool boxAnswered(bool answered);
    // The memory the next errors belong to, until done() says how its work ended.
    void working(Memory memory) { working_ = memory; }
    // A memory loop that ran to its end without an error or an abort.
    void done(Memory memory, ActionCode code);
    // A value read from `memory` at `address`: stored, blank-checked or verified.
    void checkRead(Memory memory, ActionCode code, TBufArray& buffer, int address, uint16_t value);

    // --- Sequences (Sequences.cpp) ------------------------------------------------------------
    // What the action needs that the box has no form for, asked before anything is sent.
    QString linkRefusal() const;
    void ReadDevice();
    void readPicDirectEeprom();
    void readPicLoaderEeprom();
    void readAvrLoaderEeprom();
    void readEepromThroughLoader(bool pic);
    void EraseDevice();
    bool showErasing();  // false: the box did not answer the display
    void erasePic();
    void eraseAvr();
    void BlankCheckDevice();
    void VerifyDevice();
    void ProgramDevice();
    void programControllerMemories(bool pic);
    bool WarnContentsLost();
    bool WarnProtected();
    void ReadPicMemories();
    void ReadAvrMemories();
    bool readPicUnlessProtected();
    void protectedNotice();

    // --- AVR operations (AvrOps.cpp) ----------------------------------------------------------
    bool AvrIdentify(bool reportProtection);
    bool enterAvrProgramming();  // false: the box did not answer the mode switch
    bool readAvrConfiguration();
    bool readSignature(uint32_t& signature);
    bool checkSignature(uint32_t signature, bool reportProtection);
    QString AvrDeviceName(uint32_t signature) const;
    void AvrMemoryOperation(Memory memory, ActionCode code);
    void avrReadFlashWord(int address, ActionCode code);
    void avrWriteFlashWord(int address);
    void avrFlashPage(int address);
    void avrReadDataByte(int address, ActionCode code);
    void avrWriteDataByte(int address);
    void AvrWriteConfiguration();
    bool AvrWriteConfigByte(uint8_t value, const QString& error);
    // A lock or fuse write whose only test is that it was answered; then the pause.
    bool writeAnswered(AvrInstruction in, int pauseMs, const QString& error);

    // --- Identify (Identify.cpp) -----------------------------------------------------------
    void IdentifyDevice();
    // Reads the controller's identity into identity_; false (with the error shown) when no
    // controller answered or its answer could not be read.
    bool readIdentity();
    bool readAvrIdentity(bool& synced);
    bool controllerFits();
    // False (with the reason shown) when the action must not start.
    bool preflightPasses();

    // --- PIC operations (PicOps.cpp) ----------------------------------------------------------
    void PicMemoryOperation(Memory memory, ActionCode code);
    void picProgramStep(Memory memory, int address);
    bool picReadStep(Memory memory, ActionCode code, int address);
    void picConfiguration(ActionCode code);
    bool picIdLocations(ActionCode code);
    void picConfigurationWord(ActionCode code);
    // The counter moves on; unanswered, the action ends unless this location already failed.
    bool picNext();

    // --- External EEPROM and loaders (EepromOps.cpp) -------------------------------------------
    void InstallAvrLoader();
    void uploadAvrLoader(const QByteArray& image);
    void lockAvrLoader();
    void InstallPicLoader();
    void LoaderWriteEeprom();
    void LoaderReadEeprom();
    void EepromOperation(ActionCode code);
    bool loaderImage(QByteArray& image);
    bool startLoaderEeprom();
    // The loader answers every read or write with the byte; a miss is retried at once.
    bool loaderExchange(int address, int byte, int& value);

    const TDeviceEntry* card() const { return findDevice(devices_.DeviceId); }
    bool programming() const { return action_ == ActionCode::Program; }

    Host& host_;
    Clock& clock_;
    TDevices& devices_;
    Options& options_;
    EnableBoxes& enable_;
    FuseModel& fuses_;
    MainView& mainView_;
    std::unique_ptr<BoxInterface> ownBox_;
    BoxInterface* box_;
    ActionView* view_;

    ActionCode action_ = ActionCode::None;
    bool running_ = false;
    bool aborted_ = false;
    int blinkPhase_ = 0;    // insert-card ticks, 0..5
    int pollFailures_ = 0;  // consecutive unanswered card polls
    std::array<AvrSignature, 32> signatures_;
    QTimer timer_;
    ActionResult result_;
    std::optional<Memory> working_;
    Preflight preflight_;
    ControllerIdentity identity_;

    QString caption_ = QStringLiteral("Actions");
    QString label_ = QStringLiteral("INSERT CARD");
    int progressTotal_ = 100;
    int progressPosition_ = 0;
    int shownPercent_ = -1;
    bool progressVisible_ = false;
    bool abortEnabled_ = true;
    bool shown_ = false;
    bool closeRequested_ = false;
};

}  // namespace kelvano
