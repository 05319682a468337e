#include "actions/uActions.h"

#include <cmath>
#include <exception>

#include "actions/ActionTexts.h"
#include "base/PortError.h"

namespace kelvano {

using namespace actiontext;

namespace {

NullActionView& nullView() {
    static NullActionView view;
    return view;
}

const char* const kTitles[] = {"READING DEVICE", "ERASING DEVICE", "BLANK CHECK", "VERIFYING",
                               "PROGRAMMING DEVICE"};

}  // namespace

QString memoryName(Memory memory) {
    switch (memory) {
        case Memory::Program: return QStringLiteral("program memory");
        case Memory::Data: return QStringLiteral("data memory");
        case Memory::Configuration: return QStringLiteral("configuration");
        case Memory::ExternalEeprom: return QStringLiteral("external EEPROM");
    }
    return {};
}

TActions::TActions(Host& host, Clock& clock, TDevices& devices, TCom& com, Options& options,
                   EnableBoxes& enable, FuseModel& fuses, MainView& mainView, QObject* parent)
    : QObject(parent),
      host_(host),
      clock_(clock),
      devices_(devices),
      com_(com),
      options_(options),
      enable_(enable),
      fuses_(fuses),
      mainView_(mainView),
      view_(&nullView()) {
    timer_.setSingleShot(false);
    connect(&timer_, &QTimer::timeout, this, &TActions::Startup);
    buildSignatureTable();
}

TActions::~TActions() = default;

void TActions::setView(ActionView* view) { view_ = view ? view : &nullView(); }

// ---------------------------------------------------------------------------------------
// Signature table
// ---------------------------------------------------------------------------------------

void TActions::buildSignatureTable() {
    static const struct {
        uint32_t signature;
        const char* name;
    } rows[31] = {
        {0x1E9001, "AT90S1200"},  {0x1E9003, "ATtiny10"},   {0x1E9004, "ATtiny11"},
        {0x1E9005, "ATtiny12"},   {0x1E9006, "ATtiny15"},   {0x1E9101, "AT90S2313"},
        {0x1E9102, "AT90S2323"},  {0x1E9103, "AT90S2343"},  {0x1E9105, "AT90S2333"},
        {0x1E9106, "ATtiny22"},   {0x1E9107, "ATtiny28"},   {0x1E9109, "ATtiny26"},
        {0x1E9201, "AT90S4414"},  {0x1E9202, "AT90S4434"},  {0x1E9301, "AT90S8515"},
        {0x1E9303, "AT90S8535"},  {0x1E9304, "AT90S8534"},  {0x1E9306, "ATMega8515"},
        {0x1E9307, "ATMega8"},    {0x1E9308, "ATMega8535"}, {0x1E9401, "ATmega161"},
        {0x1E9402, "ATmega163"},  {0x1E9403, "ATmega16"},   {0x1E9404, "ATmega162"},
        {0x1E9405, "ATmega169"},  {0x1E9501, "ATmega323"},  {0x1E9502, "ATmega32"},
        {0x1E9601, "ATmega603"},  {0x1E9602, "ATmega64"},   {0x1E9701, "ATmega103"},
        {0x1E9702, "ATmega128"},
    };
    signatures_[0] = AvrSignature{};
    for (int i = 0; i < 31; ++i)
        signatures_[static_cast<size_t>(i + 1)] =
            AvrSignature{rows[i].signature, QString::fromLatin1(rows[i].name)};
}

// ---------------------------------------------------------------------------------------
// Window state
// ---------------------------------------------------------------------------------------

void TActions::SetActionTitle(ActionCode code) {
    if (code == ActionCode::None) return;
    caption_ = QString::fromLatin1(kTitles[toInt(code) - 1]);
    view_->setCaption(caption_);
}

void TActions::setLabel(const QString& text) {
    label_ = text;
    view_->setLabel(text);
}

void TActions::setProgressVisible(bool visible) {
    progressVisible_ = visible;
    view_->setProgressVisible(visible);
    if (visible) updatePercent(true);
}

void TActions::setAbortEnabled(bool enabled) {
    abortEnabled_ = enabled;
    view_->setAbortEnabled(enabled);
}

int TActions::progressPercent() const {
    if (progressTotal_ <= 0) return 0;
    return static_cast<int>(std::lround(100.0 * progressPosition_ / progressTotal_));
}

void TActions::updatePercent(bool force) {
    const int percent = progressPercent();
    if (!force && percent == shownPercent_) return;
    shownPercent_ = percent;
    view_->setProgressPercent(percent);
}

void TActions::setProgressTotal(int total) {
    progressTotal_ = total < 0 ? 0 : total;
    progressPosition_ = 0;
    updatePercent(false);
}

void TActions::setProgressPosition(int position) {
    if (position > progressTotal_) position = progressTotal_;
    if (position < 0) position = 0;
    progressPosition_ = position;
    updatePercent(false);
}

void TActions::showProgressWindow(const QString& caption) {
    action_ = ActionCode::None;
    caption_ = caption;
    view_->setCaption(caption);
    view_->showModeless();
    FormShow();
}

void TActions::hideProgressWindow() {
    shown_ = false;
    view_->hideWindow();
}

// ---------------------------------------------------------------------------------------
// Runner
// ---------------------------------------------------------------------------------------

void TActions::start(ActionCode code) {
    setAction(code);
    FormShow();
}

void TActions::start(ActionCode code, MemorySet memories) {
    enable_.prog = memories.has(Memory::Program);
    enable_.data = memories.has(Memory::Data);
    enable_.config = memories.has(Memory::Configuration);
    enable_.eep = memories.has(Memory::ExternalEeprom);
    start(code);
}

void TActions::FormShow() {
    buildSignatureTable();
    shown_ = true;
    closeRequested_ = false;
    if (action_ != ActionCode::None) {
        result_ = ActionResult{};
        result_.action = action_;
        SetActionTitle(action_);
        setLabel(QString());
        view_->setLabelVisible(true);
        setProgressVisible(false);
        setAbortEnabled(true);
        blinkPhase_ = 0;
        pollFailures_ = 0;
        running_ = false;
        timer_.setInterval(10);
        timer_.start();
    } else {
        setAbortEnabled(false);
        view_->setLabelVisible(false);
        progressPosition_ = 0;
        setProgressVisible(true);
    }
}

void TActions::requestClose() {
    if (closeRequested_) return;
    closeRequested_ = true;
    view_->requestClose();
}

void TActions::ButCancelClick() {
    if (running_) aborted_ = true;
    else requestClose();
}

void TActions::Startup() {
    timer_.stop();
    if (closeRequested_) return;
    // A port error or anything else thrown below must not leave the timer's event handler:
    // it ends the action here, with the error shown and the window closed.
    try {
        bool start = true;
        if (options_.smartAuto) {
            const int state = PollCardState();
            if (closeRequested_) return;  // the box stopped answering
            if ((state & 6) == 6) {
                start = false;
                setLabel(QStringLiteral("INSERT CARD"));
                if (!com_.UsbConnected) {
                    mainView_.toggleLamp();
                    if (blinkPhase_ == 0) tx("DINS.", 0);
                    else if (blinkPhase_ == 3) tx("DCARD", 0);
                }
                if (++blinkPhase_ > 5) blinkPhase_ = 0;
                timer_.setInterval(300);
                timer_.start();
            }
        }
        if (!start) return;

        running_ = true;
        aborted_ = false;
        setAbortEnabled(true);
        runSequence();
        running_ = false;
        result_.aborted = aborted_;
        if (!aborted_) finishReady();
        requestClose();
    } catch (const PortError& e) {
        // The link reports it: it takes itself down first, so that no keep-alive tick
        // behind the error box raises the same error again.
        timer_.stop();
        aborted_ = result_.aborted = true;
        running_ = false;
        result_.errors << e.text();
        com_.ReportLinkError(e);
        requestClose();
    } catch (const std::exception& e) {
        handleFailure(QString::fromLocal8Bit(e.what()));
    }
}

void TActions::runSequence() {
    switch (action_) {
        case ActionCode::Read: ReadDevice(); break;
        case ActionCode::Erase: EraseDevice(); break;
        case ActionCode::BlankCheck: BlankCheckDevice(); break;
        case ActionCode::Verify: VerifyDevice(); break;
        case ActionCode::Program: ProgramDevice(); break;
        case ActionCode::None: break;
    }
}

// "READY", with what was left out on the lines below it; a program action plays the sound.
// Left-out steps keep the window up a little longer, so that the words can be read.
void TActions::finishReady() {
    result_.ready = true;
    QString text = QStringLiteral("READY");
    for (const QString& line : result_.notices) text += QLatin1Char('\n') + line;
    setLabel(text);
    host_.processEvents();
    if (programming() && options_.soundReady) view_->playReadySound();
    clock_.sleepMs(result_.notices.isEmpty() ? 500 : 2500);
}

void TActions::notice(Memory memory, const QString& text) {
    result_.skipped.add(memory);
    if (!result_.notices.contains(text)) result_.notices << text;
    mainView_.appendDebug(text);
}

void TActions::done(Memory memory, ActionCode code) {
    if (aborted_) return;
    switch (code) {
        case ActionCode::Read: result_.read.add(memory); break;
        case ActionCode::BlankCheck: result_.blankChecked.add(memory); break;
        case ActionCode::Verify: result_.verified.add(memory); break;
        case ActionCode::Program: result_.written.add(memory); break;
        default: break;
    }
}

// Anything else that went wrong under the action: report it, stop, take the link down so
// that the closing exchanges are not sent into a link in an unknown state, close the window.
void TActions::handleFailure(const QString& text) {
    timer_.stop();
    aborted_ = result_.aborted = true;
    running_ = false;
    result_.errors << text;
    host_.showError(text);
    try {
        com_.Disconnect();
    } catch (...) {
    }
    requestClose();
}

void TActions::FormClose() {
    if (!shown_) return;
    shown_ = false;
    timer_.stop();
    running_ = false;
    setProgressVisible(false);
    if (com_.UsbConnected) {
        usbPacket(QByteArray::fromHex("0100"));
        return;
    }
    if (!com_.portOpen()) return;
    try {
        tx("M0", 500);
        tx("D----", 0);
        if (!com_.IsQxBase) tx("d    ", 0);
    } catch (...) {
    }
}

int TActions::PollCardState() {
    if (com_.UsbConnected) {
        usbPacket(QByteArray(1, '\x05'));
        // A failed transfer is a box that does not answer; a reply of the wrong length only
        // says that there is no card.
        if (usbReplyCount_ < 0) ++pollFailures_;
        else pollFailures_ = 0;
        if (pollFailures_ >= 5) {
            ShowError(QStringLiteral("The programmer box does not answer."));
            requestClose();
        }
        return usbReplyCount_ == 1 ? usbReply_[0] : -1;
    }
    QByteArray reply;
    const int r = tx("K", reply, 20);
    if (r == -1) {
        if (++pollFailures_ >= 5) {
            ShowError(QStringLiteral("The programmer box does not answer."));
            requestClose();
        }
        return -1;
    }
    pollFailures_ = 0;
    bool ok = false;
    const int state = reply.trimmed().toInt(&ok, 10);
    return ok ? state : -1;
}

int TActions::UsbCommand6(uint8_t arg) {
    QByteArray packet(2, '\0');
    packet[0] = 0x06;
    packet[1] = static_cast<char>(arg);
    usbPacket(packet);
    return usbReplyCount_;
}

void TActions::ShowError(const QString& text) {
    result_.errors << text;
    host_.showError(text);
    aborted_ = true;
}

// ---------------------------------------------------------------------------------------
// Exchanges
// ---------------------------------------------------------------------------------------

int TActions::tx(const QByteArray& command, QByteArray& reply, int wait) {
    return com_.Transact(command, reply, wait);
}

int TActions::tx(const QByteArray& command, int wait) {
    QByteArray ignored;
    return com_.Transact(command, ignored, wait);
}

void TActions::sendLabel(const char* text) {
    if (!com_.IsQxBase) tx(QByteArray("d") + text, 10);
}

void TActions::sendAddress(int address) { tx("D" + hex4(static_cast<unsigned>(address)), 10); }

void TActions::sendAddressEvery16(int address, int last) {
    if (address % 16 == 0 || address == last) sendAddress(address);
}

void TActions::usbPacket(const QByteArray& packet) {
    TUsb& usb = com_.usb();
    if (!usb.BulkWrite(com_.PipeOut, packet)) {
        usbReplyCount_ = -1;
        return;
    }
    usbReplyCount_ = usb.BulkRead(com_.PipeIn, usbReply_.data(), static_cast<int>(usbReply_.size()));
}

bool TActions::usbEcho(uint8_t expected) const {
    return usbReplyCount_ >= 2 && usbReply_[0] == expected;
}

bool TActions::avrInstruction(uint8_t b1, uint8_t b2, uint8_t b3, uint8_t b4, int wait,
                              int& value) {
    if (com_.UsbConnected) {
        QByteArray packet(5, '\0');
        packet[0] = 0x04;
        packet[1] = static_cast<char>(b1);
        packet[2] = static_cast<char>(b2);
        packet[3] = static_cast<char>(b3);
        packet[4] = static_cast<char>(b4);
        usbPacket(packet);
        if (!usbEcho(b2)) return false;
        value = usbReply_[1];
        return true;
    }
    QByteArray reply;
    tx("Y" + hex2(b1) + hex2(b2) + hex2(b3) + hex2(b4), reply, wait);
    int v = 0;
    if (!hexReply(reply, 4, v)) return false;
    value = v & 0xFF;
    return true;
}

bool TActions::serialOnly(const QString& text) {
    if (!com_.UsbConnected) return true;
    ShowError(text);
    return false;
}

void TActions::beginLoop(int last) {
    setProgressTotal(last);
    setProgressVisible(true);
}

void TActions::step(int position) {
    host_.processEvents();
    setProgressPosition(position);
}

}  // namespace kelvano
