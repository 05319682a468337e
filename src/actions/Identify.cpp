// The controller's identity: an AVR answers Programming Enable with its echo and then its
// signature bytes; a PIC is asked for the device ID word at 2006.
#include "actions/ActionTexts.h"
#include "actions/uActions.h"

namespace kelvano {

using namespace actiontext;

void TActions::IdentifyDevice() {
    setLabel(QStringLiteral("IDENTIFY"));
    host_.processEvents();
    readIdentity();
}

// The AVR is asked first: its programming mode keeps the card's lines at logic levels, while
// the PIC's puts the programming voltage on the reset pin. Only where no AVR answers is the
// card asked as a PIC.
bool TActions::readIdentity() {
    identity_ = {};
    bool synced = false;
    if (box_->supports(BoxFeature::AvrInstructions)) {
        if (!readAvrIdentity(synced)) return false;
        if (synced) return true;
    }
    if (!box_->supports(BoxFeature::PicCommands)) {
        ShowError(
            QStringLiteral("No AVR controller answers.\r"
                           "A PIC can't be identified over USB: connect the box to a "
                           "serial port."));
        return false;
    }
    box_->setMode(BoxMode::Idle);
    clock_.sleepMs(100);
    box_->setMode(BoxMode::Pic);
    const BoxReply id = box_->picDeviceId();
    if (!id.good) {
        // A card without a controller still reads as a word: what failed here is the box.
        ShowError(id.answered ? QStringLiteral("The programmer box answered the device ID read "
                                               "with \"%1\", which is not a four-digit word.")
                                    .arg(id.text)
                              : noAnswer());
        return false;
    }
    identity_ = identifyPicDeviceId(static_cast<uint16_t>(id.value));
    return true;
}

// `synced`: an AVR answered Programming Enable. False when it did but its signature could
// not be read (the error is shown).
bool TActions::readAvrIdentity(bool& synced) {
    enterAvrProgramming();
    const BoxReply sync = box_->avrInstruction({0xAC, 0x53, 0x00, 0x00});
    synced = sync.text == QLatin1String("5300");
    if (!synced) return true;
    uint32_t signature = 0;
    if (!readSignature(signature)) return false;
    identity_ = identifyAvrSignature(signature);
    return true;
}

bool TActions::preflightPasses() {
    auto refuse = [this](const QString& why) {
        if (why.isEmpty()) return false;
        ShowError(why);
        return true;
    };
    if (refuse(preflight_.fileProblems.join(QLatin1Char('\r')))) return false;
    if (preflight_.targets && refuse(preflight_.targets())) return false;
    if (refuse(linkRefusal())) return false;
    if (preflight_.controller && !controllerFits()) return false;
    if (preflight_.consent && !preflight_.consent()) {
        aborted_ = true;
        return false;
    }
    return true;
}

// Before an action with the check on: the controller must be the card type's.
bool TActions::controllerFits() {
    const TDeviceEntry* c = card();
    if (!c || !c->actions) return true;
    setLabel(QStringLiteral("IDENTIFY"));
    host_.processEvents();
    if (!readIdentity()) return false;
    const QString mismatch = identityMismatch(identity_, c->code);
    if (mismatch.isEmpty()) return true;
    ShowError(mismatch);
    return false;
}

}  // namespace kelvano
