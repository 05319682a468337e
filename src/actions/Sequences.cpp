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
    const bool ok = host_.askOkAbort(QStringLiteral("Warning!"),
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
    const QString text = QStringLiteral("Controller protected: its memories were not read");
    if (enable_.prog) notice(Memory::Program, text);
    if (enable_.data) notice(Memory::Data, text);
}

void TActions::ReadDevice() {
    const int id = deviceId();
    if (isPicDirect(id)) {
        if (enable_.prog || enable_.data || enable_.config) {
            if (!readPicUnlessProtected()) return;
        }
        if (!aborted_ && enable_.eep) {
            EepromOperation(ActionCode::Read);
            ShowBuffer(devices_.EepBuf, devices_.eGrid, ViewMode::Bytes16, &host_);
        }
    } else if (isPicLoader(id)) {
        if (!enable_.eep) {
            ReadPicMemories();
            RefreshPicPage(devices_, fuses_);
            return;
        }
        if (!serialOnly(usbNoPic())) return;
        if (!WarnContentsLost()) return;
        if (!readPicUnlessProtected()) return;
        if (!aborted_) InstallPicLoader();
        if (!aborted_) LoaderReadEeprom();
        if (!aborted_) ShowBuffer(devices_.EepBuf, devices_.eGrid, ViewMode::Bytes16, &host_);
    } else if (isAvrAction(id)) {
        if (!enable_.eep) {
            AvrIdentify(id, true);
            ReadAvrMemories();
            return;
        }
        if (!serialOnly(usbNoEeprom())) return;
        AvrIdentify(id, false);
        if (aborted_) return;
        if (!WarnContentsLost()) return;
        // An identification that reported an error keeps the abort flag: the memories of a
        // card that did not answer properly are not read, and no loader is installed on it.
        if (AvrIdentify(id, false)) {
            if (!aborted_) ReadAvrMemories();
        } else {
            WarnProtected();
            protectedNotice();
        }
        if (!aborted_) InstallAvrLoader();
        if (!aborted_) LoaderReadEeprom();
        if (!aborted_) ShowBuffer(devices_.EepBuf, devices_.eGrid, ViewMode::Bytes16, &host_);
    }
}

void TActions::EraseDevice() {
    const int id = deviceId();
    const bool abortWasEnabled = abortEnabled_;
    if (isPicCode(id)) {
        if (!serialOnly(usbNoPic())) return;
        setAbortEnabled(false);
        setLabel(QStringLiteral("ERASE"));
        SetActionTitle(ActionCode::Erase);
        host_.processEvents();
        sendLabel("    ");
        tx("DERAS", 10);
        clock_.sleepMs(200);
        tx("M1", 500);
        // The one exchange that tells whether the card was erased: a box that does not
        // answer it, or refuses it, has not erased anything.
        const int r = tx("ErA", 500);
        tx("M0", 500);
        if (r == -1 || r == 255) ShowError(QStringLiteral("Error while erasing device"));
    } else if (isAvrAction(id)) {
        AvrIdentify(id, false);
        if (!aborted_) {
            setAbortEnabled(false);
            setLabel(QStringLiteral("ERASE"));
            SetActionTitle(ActionCode::Erase);
            host_.processEvents();
            if (com_.UsbConnected) {
                usbPacket(QByteArray::fromHex("04AC800000"));
            } else {
                sendLabel("    ");
                tx("DERAS", 10);
                clock_.sleepMs(200);
                tx("YAC800000", 500);
            }
            clock_.sleepMs(200);
        }
        AvrIdentify(id, true);
    }
    setAbortEnabled(abortWasEnabled);
}

void TActions::BlankCheckDevice() {
    const int id = deviceId();
    if (isPicCode(id)) {
        PicMemoryOperation(Memory::Program, ActionCode::BlankCheck);
    } else if (isAvrAction(id)) {
        AvrIdentify(id, true);
        if (!aborted_ && enable_.prog) AvrMemoryOperation(Memory::Program, ActionCode::BlankCheck);
    }
}

void TActions::VerifyDevice() {
    const int id = deviceId();
    if (isPicCode(id)) {
        if (enable_.prog) PicMemoryOperation(Memory::Program, ActionCode::Verify);
        if (!aborted_ && enable_.data) PicMemoryOperation(Memory::Data, ActionCode::Verify);
        // Every card whose EEPROM the box reaches directly has it checked when asked for.
        if (!aborted_ && isPicDirect(id) && enable_.eep) EepromOperation(ActionCode::Verify);
    } else if (isAvrAction(id)) {
        AvrIdentify(id, true);
        if (!aborted_ && enable_.prog) AvrMemoryOperation(Memory::Program, ActionCode::Verify);
        if (!aborted_ && enable_.data) AvrMemoryOperation(Memory::Data, ActionCode::Verify);
    }
}

void TActions::ProgramDevice() {
    const int id = deviceId();
    auto eraseRuleApplies = [this] {
        return (enable_.prog && enable_.data && enable_.config) || options_.alwaysErase;
    };
    auto picSteps = [&] {
        if (eraseRuleApplies()) EraseDevice();
        if (!aborted_ && enable_.prog) {
            PicMemoryOperation(Memory::Program, ActionCode::Program);
            if (!aborted_ && options_.verify) PicMemoryOperation(Memory::Program, ActionCode::Verify);
        }
        if (!aborted_ && enable_.data) {
            PicMemoryOperation(Memory::Data, ActionCode::Program);
            if (!aborted_ && options_.verify) PicMemoryOperation(Memory::Data, ActionCode::Verify);
        }
        if (!aborted_ && enable_.config) PicMemoryOperation(Memory::Configuration, ActionCode::Program);
    };

    if (isPicDirect(id)) {
        ReadPic84Page(devices_, fuses_);
        picSteps();
        if (!aborted_ && enable_.eep) EepromOperation(ActionCode::Program);
    } else if (isPicLoader(id)) {
        ReadPicPage(devices_, fuses_);
        if (enable_.eep) {
            if (!aborted_) InstallPicLoader();
            if (!aborted_) LoaderWriteEeprom();
        }
        if (!aborted_) picSteps();
    } else if (isAvrAction(id)) {
        if (enable_.eep) {
            if (!aborted_) InstallAvrLoader();
            if (!aborted_) LoaderWriteEeprom();
        }
        if (aborted_) return;
        if (eraseRuleApplies()) EraseDevice();
        else AvrIdentify(id, true);
        if (!aborted_ && enable_.prog) {
            AvrMemoryOperation(Memory::Program, ActionCode::Program);
            if (!aborted_ && options_.verify) AvrMemoryOperation(Memory::Program, ActionCode::Verify);
        }
        if (!aborted_ && enable_.data) {
            AvrMemoryOperation(Memory::Data, ActionCode::Program);
            if (!aborted_ && options_.verify) AvrMemoryOperation(Memory::Data, ActionCode::Verify);
        }
        if (!aborted_ && enable_.config) AvrWriteConfiguration();
    }
}

}  // namespace kelvano
