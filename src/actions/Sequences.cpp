// The five actions: which memories of which card are touched, in which order, with which
// warnings, and when the controller is erased or a loader installed. The Enable boxes and
// the options are read at the moment each step is decided.
#include "actions/ActionTexts.h"
#include "actions/uActions.h"

namespace kelvano {

using namespace actiontext;

bool TActions::WarnContentsLost() {
    if (!options_.warnEnable) return true;
    host_.beep();
    const bool ok = host_.askOkAbort(QStringLiteral("Warning!"),
                                     QStringLiteral("Contents of controller will be lost\r\r"));
    if (!ok) aborted_ = true;
    return ok;
}

bool TActions::WarnProtected() {
    if (!options_.warnEnable) return true;
    const bool ok =
        host_.askOkAbort(QStringLiteral("Warning!"),
                         QStringLiteral("Controller is protected! \rcan't read contents."));
    if (!ok) aborted_ = true;
    return ok;
}

void TActions::ReadPicMemories() {
    if (enable_.prog) PicMemoryOperation(Memory::Program, ActionCode::Read);
    if (!aborted_ && enable_.data) PicMemoryOperation(Memory::Data, ActionCode::Read);
    if (!aborted_ && enable_.config) PicMemoryOperation(Memory::Configuration, ActionCode::Read);
    ShowBuffer(devices_.ProgBuf, devices_.pGrid, ViewMode::PicWords8, &host_);
    ShowBuffer(devices_.DataBuf, devices_.dGrid, ViewMode::Bytes16, &host_);
}

void TActions::ReadAvrMemories() {
    if (!aborted_ && enable_.prog) AvrMemoryOperation(Memory::Program, ActionCode::Read);
    if (!aborted_ && enable_.data) AvrMemoryOperation(Memory::Data, ActionCode::Read);
    ShowBuffer(devices_.ProgBuf, devices_.pGrid, ViewMode::AvrWords8, &host_);
    ShowBuffer(devices_.DataBuf, devices_.dGrid, ViewMode::Bytes16, &host_);
}

namespace {
// Code protection of a PIC16F84/16F876 as the configuration word tells it.
bool picProtected(uint16_t cfg) { return (cfg & 0x30) != 0x30; }
}  // namespace

// Reads the configuration; a protected card gets the warning, an open one has its ticked
// memories read. False when the configuration read failed.
bool TActions::readPicUnlessProtected() {
    PicMemoryOperation(Memory::Configuration, ActionCode::Read);
    if (aborted_) return false;
    if (picProtected(devices_.CfgWord)) {
        WarnProtected();
        protectedNotice();
    } else {
        ReadPicMemories();
        RefreshPicPage(devices_, fuses_);
    }
    return true;
}

// The memories a protected card keeps to itself: those of them that were ticked are left out.
void TActions::protectedNotice() {
    if (!enable_.prog && !enable_.data) return;
    if (enable_.prog) leftOut(Memory::Program);
    if (enable_.data) leftOut(Memory::Data);
    notice(QStringLiteral("Controller protected: its memories were not read"));
}

// What the action needs that the box has no form for, decided before anything is sent: an
// action is refused whole rather than stopped half-way with the card already changed.
QString TActions::linkRefusal() const {
    const TDeviceEntry* c = card();
    if (!c || !c->actions) return {};
    if (c->pic() && !box_->supports(BoxFeature::PicCommands)) return usbNoPic();
    const bool eepromStep =
        enable_.eep && (action_ == ActionCode::Read || action_ == ActionCode::Program ||
                        (action_ == ActionCode::Verify && c->eepromDirect()));
    const BoxFeature eepromPath =
        c->eepromDirect() ? BoxFeature::DirectEeprom : BoxFeature::LoaderEeprom;
    if (eepromStep && !box_->supports(eepromPath)) return usbNoEeprom();
    if (action_ == ActionCode::Program) {
        if (enable_.prog && c->pagedFlash() && !box_->supports(BoxFeature::AvrFlashPages))
            return usbNoMega();
        if (enable_.config && c->megaFuseBytes() && !box_->supports(BoxFeature::AvrFuseBytes))
            return usbNoMega();
    }
    return {};
}

void TActions::ReadDevice() {
    const TDeviceEntry* c = card();
    if (!c || !c->actions) return;
    if (c->pic() && c->eepromDirect())
        readPicDirectEeprom();
    else if (c->pic())
        readPicLoaderEeprom();
    else
        readAvrLoaderEeprom();
}

// A PIC card whose EEPROM the box reaches directly: the controller's memories, then the EEPROM.
void TActions::readPicDirectEeprom() {
    if (enable_.prog || enable_.data || enable_.config) {
        if (!readPicUnlessProtected()) return;
    }
    if (!aborted_ && enable_.eep) {
        EepromOperation(ActionCode::Read);
        ShowBuffer(devices_.EepBuf, devices_.eGrid, ViewMode::Bytes16, &host_);
    }
}

// A PIC card whose EEPROM is read through a loader, which replaces the controller's program.
void TActions::readPicLoaderEeprom() {
    if (!enable_.eep) {
        ReadPicMemories();
        RefreshPicPage(devices_, fuses_);
        return;
    }
    if (!WarnContentsLost()) return;
    if (!readPicUnlessProtected()) return;
    readEepromThroughLoader(true);
}

// An AVR card: identified first; its EEPROM, like that of the PIC cards above, through a loader.
void TActions::readAvrLoaderEeprom() {
    if (!enable_.eep) {
        AvrIdentify(true);
        ReadAvrMemories();
        return;
    }
    AvrIdentify(false);
    if (aborted_) return;
    if (!WarnContentsLost()) return;
    // An identification that reported an error keeps the abort flag: the memories of a
    // card that did not answer properly are not read, and no loader is installed on it.
    if (AvrIdentify(false)) {
        if (!aborted_) ReadAvrMemories();
    } else {
        WarnProtected();
        protectedNotice();
    }
    readEepromThroughLoader(false);
}

// Installs the loader, reads the EEPROM through it and shows what was read.
void TActions::readEepromThroughLoader(bool pic) {
    if (!aborted_) pic ? InstallPicLoader() : InstallAvrLoader();
    if (!aborted_) LoaderReadEeprom();
    if (!aborted_) ShowBuffer(devices_.EepBuf, devices_.eGrid, ViewMode::Bytes16, &host_);
}

// The Abort button is off while the erase runs, and as it was afterwards.
void TActions::EraseDevice() {
    const TDeviceEntry* c = card();
    if (!c || !c->actions) return;
    const bool abortWasEnabled = abortEnabled_;
    if (c->pic())
        erasePic();
    else
        eraseAvr();
    setAbortEnabled(abortWasEnabled);
}

// The window and the box's display while the controller is erased; Abort is off meanwhile.
bool TActions::showErasing() {
    setAbortEnabled(false);
    setLabel(QStringLiteral("ERASE"));
    SetActionTitle(ActionCode::Erase);
    host_.processEvents();
    return boxAnswered(box_->display(BoxInterface::Field::Label, "    ")) &&
           boxAnswered(box_->display(BoxInterface::Field::Address, "ERAS"));
}

void TActions::erasePic() {
    if (!showErasing()) return;
    clock_.sleepMs(200);
    if (!boxAnswered(box_->setMode(BoxMode::PicErase).answered)) return;
    // The one exchange that tells whether the card was erased: a box that does not answer
    // it, or refuses it, has not erased anything.
    const BoxReply erased = box_->picBulkErase();
    if (!erased.answered) {
        ShowError(QStringLiteral("Error while erasing device"));
        return;  // the box is sent back to idle when the window closes
    }
    box_->setMode(BoxMode::Idle);
    if (!erased.good) ShowError(QStringLiteral("Error while erasing device"));
}

// The card is identified again after the erase. An identification that failed before it
// (no erase was sent), or a chip erase the box never answered (it may not have happened, and
// the card is not counted as erased), is not followed by another: it would only pile a second
// error on the first.
void TActions::eraseAvr() {
    AvrIdentify(false);
    if (aborted_) return;
    if (!showErasing()) return;
    if (box_->supports(BoxFeature::Display)) clock_.sleepMs(200);  // "ERAS" can be read
    const bool answered = box_->avrInstruction({0xAC, 0x80, 0x00, 0x00}).answered;  // Chip Erase
    clock_.sleepMs(200);
    if (!answered)
        ShowError(QStringLiteral("Error while erasing device"));
    else
        AvrIdentify(true);
}

void TActions::BlankCheckDevice() {
    const TDeviceEntry* c = card();
    if (!c || !c->actions) return;
    if (c->pic()) {
        PicMemoryOperation(Memory::Program, ActionCode::BlankCheck);
    } else {
        AvrIdentify(true);
        if (!aborted_ && enable_.prog) AvrMemoryOperation(Memory::Program, ActionCode::BlankCheck);
    }
}

void TActions::VerifyDevice() {
    const TDeviceEntry* c = card();
    if (!c || !c->actions) return;
    if (c->pic()) {
        if (enable_.prog) PicMemoryOperation(Memory::Program, ActionCode::Verify);
        if (!aborted_ && enable_.data) PicMemoryOperation(Memory::Data, ActionCode::Verify);
        // Every card whose EEPROM the box reaches directly has it checked when asked for.
        if (!aborted_ && c->eepromDirect() && enable_.eep) EepromOperation(ActionCode::Verify);
    } else {
        AvrIdentify(true);
        if (!aborted_ && enable_.prog) AvrMemoryOperation(Memory::Program, ActionCode::Verify);
        if (!aborted_ && enable_.data) AvrMemoryOperation(Memory::Data, ActionCode::Verify);
    }
    // Through a loader the EEPROM could only be read by replacing the controller's program,
    // which a verify must not do: it is left out, and said so.
    if (!aborted_ && enable_.eep && c->eepromThroughLoader()) {
        leftOut(Memory::ExternalEeprom);
        notice(QStringLiteral("EEPROM Memory not verified (reached only through a loader)"));
    }
}

// Erase rule, then program memory and data memory (each verified when automatic verify is
// on), then the configuration.
void TActions::programControllerMemories(bool pic) {
    const bool erase = (enable_.prog && enable_.data && enable_.config) || options_.alwaysErase;
    if (erase)
        EraseDevice();
    else if (!pic)
        AvrIdentify(true);
    for (Memory m : {Memory::Program, Memory::Data}) {
        if (aborted_ || !(m == Memory::Program ? enable_.prog : enable_.data)) continue;
        if (pic)
            PicMemoryOperation(m, ActionCode::Program);
        else
            AvrMemoryOperation(m, ActionCode::Program);
        if (aborted_ || !options_.verify) continue;
        if (pic)
            PicMemoryOperation(m, ActionCode::Verify);
        else
            AvrMemoryOperation(m, ActionCode::Verify);
    }
    if (aborted_ || !enable_.config) return;
    if (pic)
        PicMemoryOperation(Memory::Configuration, ActionCode::Program);
    else
        AvrWriteConfiguration();
}

void TActions::ProgramDevice() {
    const TDeviceEntry* c = card();
    if (!c || !c->actions) return;
    if (c->pic()) ReadPicPage(devices_, fuses_);
    if (c->eepromDirect()) {
        programControllerMemories(true);
        if (!aborted_ && enable_.eep) {
            EepromOperation(ActionCode::Program);
            // The direct writes have no read-back of their own.
            if (!aborted_ && options_.verify) EepromOperation(ActionCode::Verify);
        }
        return;
    }
    if (enable_.eep) {
        if (!aborted_) c->pic() ? InstallPicLoader() : InstallAvrLoader();
        if (!aborted_) LoaderWriteEeprom();
    }
    if (!aborted_) programControllerMemories(c->pic());
}

}  // namespace kelvano
