#include "actions/uActions.h"

#include <cmath>
#include <exception>

#include "actions/ActionTexts.h"
#include "base/PortError.h"
#include "device/Identity.h"

namespace kelvano {

using namespace actiontext;

namespace {

NullActionView& nullView() {
    static NullActionView view;
    return view;
}

const char* const kTitles[] = {"READING DEVICE", "ERASING DEVICE",     "BLANK CHECK",
                               "VERIFYING",      "PROGRAMMING DEVICE", "IDENTIFYING CARD"};

}  // namespace

QString memoryName(Memory memory) {
    switch (memory) {
        case Memory::Program:
            return QStringLiteral("program memory");
        case Memory::Data:
            return QStringLiteral("data memory");
        case Memory::Configuration:
            return QStringLiteral("configuration");
        case Memory::ExternalEeprom:
            return QStringLiteral("external EEPROM");
    }
    return {};
}

TActions::TActions(Host& host, Clock& clock, TDevices& devices, TCom& com, Options& options,
                   EnableBoxes& enable, FuseModel& fuses, MainView& mainView, QObject* parent)
    : TActions(host, clock, devices, *makeBox(com).release(), options, enable, fuses, mainView,
               parent) {
    ownBox_.reset(box_);
}

TActions::TActions(Host& host, Clock& clock, TDevices& devices, BoxInterface& box, Options& options,
                   EnableBoxes& enable, FuseModel& fuses, MainView& mainView, QObject* parent)
    : QObject(parent),
      host_(host),
      clock_(clock),
      devices_(devices),
      options_(options),
      enable_(enable),
      fuses_(fuses),
      mainView_(mainView),
      box_(&box),
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
    const std::vector<KnownController>& rows = knownAvrControllers();
    signatures_[0] = AvrSignature{};
    for (size_t i = 0; i < rows.size() && i + 1 < signatures_.size(); ++i)
        signatures_[i + 1] = AvrSignature{rows[i].id, QString::fromLatin1(rows[i].name)};
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
        working_.reset();
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
    if (running_)
        aborted_ = true;
    else
        requestClose();
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
            if (!cardPresent(state)) {
                start = false;
                setLabel(QStringLiteral("INSERT CARD"));
                if (box_->supports(BoxFeature::Display)) {
                    mainView_.toggleLamp();
                    if (blinkPhase_ == 0)
                        box_->display(BoxInterface::Field::Address, "INS.", true);
                    else if (blinkPhase_ == 3)
                        box_->display(BoxInterface::Field::Address, "CARD", true);
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
        box_->reportLinkError(e);
        requestClose();
    } catch (const std::exception& e) {
        handleFailure(QString::fromLocal8Bit(e.what()));
    }
}

void TActions::runSequence() {
    if (action_ == ActionCode::Identify) {
        IdentifyDevice();
        return;
    }
    if (!preflightPasses()) return;
    switch (action_) {
        case ActionCode::Read:
            ReadDevice();
            break;
        case ActionCode::Erase:
            EraseDevice();
            break;
        case ActionCode::BlankCheck:
            BlankCheckDevice();
            break;
        case ActionCode::Verify:
            VerifyDevice();
            break;
        case ActionCode::Program:
            ProgramDevice();
            break;
        case ActionCode::Identify:
        case ActionCode::None:
            break;
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

void TActions::notice(const QString& text) {
    if (result_.notices.contains(text)) return;
    result_.notices << text;
    mainView_.appendDebug(text);
}

void TActions::done(Memory memory, ActionCode code) {
    working_.reset();
    if (aborted_) return;
    switch (code) {
        case ActionCode::Read:
            result_.read.add(memory);
            break;
        case ActionCode::BlankCheck:
            result_.blankChecked.add(memory);
            break;
        case ActionCode::Verify:
            result_.verified.add(memory);
            break;
        case ActionCode::Program:
            result_.written.add(memory);
            break;
        default:
            break;
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
    box_->disconnect();
    requestClose();
}

void TActions::FormClose() {
    if (!shown_) return;
    shown_ = false;
    timer_.stop();
    running_ = false;
    setProgressVisible(false);
    box_->closeAction();
}

int TActions::PollCardState() {
    const CardPoll poll = box_->pollCard();
    if (poll.answered) {
        pollFailures_ = 0;
    } else if (++pollFailures_ >= 5) {
        ShowError(noAnswer());
        requestClose();
    }
    return poll.state;
}

void TActions::ShowError(const QString& text, bool offerErase) {
    result_.errors << text;
    if (working_) result_.failed.add(*working_);
    if (!offerErase)
        host_.showError(text);
    else if (host_.offerErase(text))
        result_.eraseAndProgram = true;
    aborted_ = true;
}

void TActions::beginLoop(int last) {
    setProgressTotal(last);
    setProgressVisible(true);
}

void TActions::step(int position) {
    host_.processEvents();
    setProgressPosition(position);
}

bool TActions::stepShowing(int address, int last) {
    step(address);
    if (address % 16 != 0 && address != last) return true;
    return boxAnswered(
        box_->display(BoxInterface::Field::Address, hex4(static_cast<unsigned>(address))));
}

bool TActions::boxAnswered(bool answered) {
    if (!answered) ShowError(noAnswer());
    return answered;
}

void TActions::checkRead(Memory memory, ActionCode code, TBufArray& buffer, int address,
                         uint16_t value) {
    const bool data = memory == Memory::Data;
    const uint16_t mask = data ? 0xFF : 0xFFFF;
    if (code == ActionCode::Read) {
        buffer[address] = value & mask;
    } else if (code == ActionCode::BlankCheck && !data && value != devices_.ProgBlank) {
        ShowError(QStringLiteral("Device not blank at $") + hex4s(address));
    } else if (code == ActionCode::Verify && (value & mask) != (buffer[address] & mask)) {
        ShowError(QStringLiteral("Verify error at $") + hex4s(address) +
                  (data ? QStringLiteral(" (Data Memory)") : QStringLiteral(" (Program Memory)")));
    }
}

}  // namespace kelvano
