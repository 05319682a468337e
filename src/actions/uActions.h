#pragma once
#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTimer>
#include <array>
#include <cstdint>
#include <functional>

#include "actions/ActionView.h"
#include "base/Clock.h"
#include "base/Host.h"
#include "base/MainView.h"
#include "base/Options.h"
#include "device/FusePages.h"
#include "device/Models.h"
#include "device/uDevices.h"
#include "link/uCom.h"

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
// The window itself is an ActionView (the dialog of the app, the terminal bar of
// kelvano-cli, recorders in the tests). Everything runs on the calling thread; long loops let
// pending events run through Host::processEvents so that Abort (ButCancelClick) stays live,
// and every wait goes through the Clock.
class TActions : public QObject, public ProgressView {
    Q_OBJECT
public:
    TActions(Host& host, Clock& clock, TDevices& devices, TCom& com, Options& options,
             EnableBoxes& enable, FuseModel& fuses, MainView& mainView,
             QObject* parent = nullptr);
    ~TActions() override;

    void setView(ActionView* view);
    ActionView* view() const { return view_; }

    // --- Runner state -------------------------------------------------------------------
    uint8_t ActionMode = 0;  // 0 progress window, 1 read .. 5 program; set before showing
    bool Running = false;    // a sequence is executing
    bool Aborted = false;    // the abort flag
    int BlinkPhase = 0;      // insert-card ticks, 0..5
    int PollFailures = 0;    // consecutive unanswered card polls
    std::array<uint8_t, 256> UsbReply{};
    int UsbReplyCount = 0;   // bytes in UsbReply, -1 when the read failed
    std::array<AvrSignature, 32> AvrSignatureTable;
    QTimer Timer1;
    // When set, the action runs this sequence instead of the one of ActionMode (the
    // comparison with the card reads through a runner of its own).
    std::function<void()> Sequence;

    // --- Window events ------------------------------------------------------------------
    // The window has just been shown: rebuilds the signature table and, with an action,
    // starts Timer1 (10 ms) whose tick is Startup.
    void FormShow();
    // One tick of Timer1: polls for a card (when the option asks for it) or runs the whole
    // action, then asks the window to close.
    void Startup();
    // Abort: sets the abort flag while an action runs, closes the window otherwise.
    void ButCancelClick();
    // The window is closing: stops the timer and sends the box back to idle. Runs once per
    // showing; a second call does nothing.
    void FormClose();

    void SetActionTitle(int code);
    // The card state: bits 1 and 2 both set, or -1, mean no card.
    int PollCardState();
    // Packet 06 arg over USB; returns UsbReplyCount.
    int UsbCommand6(uint8_t arg);

    // --- What the window shows ----------------------------------------------------------
    QString caption() const { return caption_; }
    QString label() const { return label_; }
    void setLabel(const QString& text);
    void setProgressVisible(bool visible);
    int progressTotal() const { return progressTotal_; }
    int progressPosition() const { return progressPosition_; }
    int progressPercent() const;
    bool abortEnabled() const { return abortEnabled_; }
    void setAbortEnabled(bool enabled);
    // True once the runner asked the window to close (reset by FormShow).
    bool closeRequested() const { return closeRequested_; }

    // ProgressView (the firmware upload).
    void showProgressWindow(const QString& caption) override;
    void setProgressTotal(int total) override;
    void setProgressPosition(int position) override;
    void hideProgressWindow() override;

    // --- Sequences ----------------------------------------------------------------------
    void ReadDevice();
    void EraseDevice();
    void BlankCheckDevice();
    void VerifyDevice();
    void ProgramDevice();
    // Warnings (only while "Enable warnings" is set); false (and the abort flag) on Abort.
    bool WarnContentsLost();
    bool WarnProtected();
    void ReadPicMemories();
    void ReadAvrMemories();

    // --- AVR operations -----------------------------------------------------------------
    // Enters programming mode and checks the signature; true when the controller is not
    // protected (also after a reported error, which sets the abort flag).
    bool AvrIdentify(int deviceId, bool reportProtection);
    QString AvrDeviceName(uint32_t signature) const;
    void AvrMemoryOperation(int memory, int code);  // memory 1 flash, 2 EEPROM; code 1,3,4,5
    void AvrWriteConfiguration();
    void AvrWriteConfigByte(uint8_t value);

    // --- PIC operations -----------------------------------------------------------------
    void PicMemoryOperation(int memory, int code);  // memory 1, 2, 3 (configuration)

    // --- External EEPROM and loaders ----------------------------------------------------
    void InstallAvrLoader();
    void InstallPicLoader();
    void LoaderWriteEeprom();
    void LoaderReadEeprom();
    void EepromOperation(int code);  // 1 read, 4 verify, 5 program; the box reaches it directly

    // The error report of an action: the error box, then the abort flag.
    void ShowError(const QString& text);

private:
    // Serial exchanges.
    int tx(const QByteArray& command, QByteArray& reply, int wait);
    int tx(const QByteArray& command, int wait);
    void sendLabel(const char* text);  // "d" + 4 characters, not to the QXBASE model
    void sendAddress(int address);      // "D" + four hex digits
    void sendAddressEvery16(int address, int last);
    // USB exchanges: one packet out, its reply into UsbReply.
    void usbPacket(const QByteArray& packet);
    bool usbEcho(uint8_t expected) const;  // reply read and r0 equal to `expected`
    // One AVR serial-programming instruction in the form of the link. `ok` tells a good
    // exchange (serial: a four-digit hex reply; USB: r0 equal to b2); `value` is the data
    // byte (the low byte of the reply, or r1).
    bool avrInstruction(uint8_t b1, uint8_t b2, uint8_t b3, uint8_t b4, int wait, int& value);
    void avrModeCommands();
    bool startLoaderEeprom();
    bool readPicUnlessProtected();
    bool loaderExchange(const QByteArray& command, int wait, int& value);
    // A step the USB box has no packet for: shows `text` and returns false.
    bool serialOnly(const QString& text);

    void beginLoop(int last);  // progress total, position 0, visible
    void step(int position);   // pending events, progress position

    void runSequence();
    void handleFailure(const QString& text);
    void requestClose();
    void buildSignatureTable();
    void updatePercent(bool force);

    int deviceId() const { return devices_.DeviceId; }

    Host& host_;
    Clock& clock_;
    TDevices& devices_;
    TCom& com_;
    Options& options_;
    EnableBoxes& enable_;
    FuseModel& fuses_;
    MainView& mainView_;
    ActionView* view_;

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
