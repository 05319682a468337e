// The card's serial EEPROM: directly through the box on the cards that wire it to the box,
// through a loader program in the controller on all others.
#include "actions/ActionTexts.h"
#include "actions/uActions.h"

namespace kelvano {

using namespace actiontext;

// The card's loader image; a missing one, or one the box must not be given, is named before
// the card is touched, so that a card does not lose its program for a loader that can't be
// installed.
bool TActions::loaderImage(QByteArray& image) {
    const QString name = QString::fromLatin1(card()->loaderImage);
    if (!box_->loaderImage(name, image)) {
        // A store that cannot be used says so, rather than calling the loader missing.
        const QString why = box_->loaderRefusal(name, QByteArray());
        ShowError(!why.isEmpty() ? why
                                 : QStringLiteral("The EEPROM loader \"%1\" is missing from the "
                                                  "image store.")
                                       .arg(name));
        return false;
    }
    const QString refusal = box_->loaderRefusal(name, image);
    if (!refusal.isEmpty()) ShowError(refusal);
    return refusal.isEmpty();
}

void TActions::InstallAvrLoader() {
    QByteArray image;
    if (!loaderImage(image)) return;
    EraseDevice();
    if (!aborted_) AvrIdentify(true);  // not again after an erase that failed
    if (!aborted_) uploadAvrLoader(image);
    if (!aborted_) lockAvrLoader();
}

// Byte by byte into the AT90S flash, or in pages into a paged flash.
void TActions::uploadAvrLoader(const QByteArray& image) {
    SetActionTitle(ActionCode::Program);
    setLabel(QStringLiteral("INSTALLING LOADER"));
    box_->display(BoxInterface::Field::Address, "LOAD");
    const int last = static_cast<int>(image.size()) - 1;
    const int pageWords = card()->flashPageWords;
    beginLoop(last);
    for (int i = 0; i <= last && !aborted_; ++i) {
        step(i + 1);
        const uint8_t op = i % 2 == 0 ? 0x40 : 0x48;
        const uint8_t byte = static_cast<uint8_t>(image[i]);
        const int word = i / 2;
        if (pageWords == 0) {
            const AvrInstruction write{op, uint8_t(word >> 8), uint8_t(word & 0xFF), byte};
            if (!box_->avrWrite(write).good)
                ShowError(QStringLiteral("Error while uploading EEPROM loader"));
            continue;
        }
        const int inPage = word % pageWords;
        if (!boxAnswered(
                box_->avrInstruction({op, uint8_t(inPage >> 8), uint8_t(inPage & 0xFF), byte})
                    .answered))
            break;
        if (i % (2 * pageWords) == 2 * pageWords - 1 || i == last) {
            const int start = word - inPage;
            const BoxReply page =
                box_->avrInstruction({0x4C, uint8_t(start >> 8), uint8_t(start & 0xFF), 0x00});
            clock_.sleepMs(20);
            if (page.text.size() != 4)
                ShowError(QStringLiteral("Error while writing program memory"));
        }
    }
}

// Locks the card so that it starts the loader.
void TActions::lockAvrLoader() {
    if (card()->megaFuseBytes()) {
        if (writeAnswered({0xAC, 0xE0, 0x00, 0xFC}, 20, lockBitsError()) &&
            writeAnswered({0xAC, 0xA0, 0x00, 0xF0}, 20, fuseBitsError()))
            writeAnswered({0xAC, 0xA8, 0x00, 0xFF}, 20, fuseBitsError());
    } else if (writeAnswered({0xAC, 0xBF, 0x00, 0x00}, 20, fuseBitsError()) &&
               writeAnswered({0xAC, 0xF9, 0x00, 0x00}, 20, lockBitsError())) {
        box_->setMode(BoxMode::Idle);
        clock_.sleepMs(20);
        box_->setMode(BoxMode::Avr);
    }
}

void TActions::InstallPicLoader() {
    QByteArray image;
    if (!loaderImage(image)) return;
    EraseDevice();
    if (aborted_) return;
    SetActionTitle(ActionCode::Program);
    setLabel(QStringLiteral("INSTALLING LOADER"));
    box_->setMode(BoxMode::Pic);
    box_->display(BoxInterface::Field::Address, "LOAD");
    const int last = static_cast<int>(image.size()) - 1;
    beginLoop(last);
    for (int i = 0; i <= last && !aborted_; i += 2) {
        step(i + 1);
        // An odd last byte is paired with a blank high half.
        const unsigned high = i + 1 <= last ? static_cast<uint8_t>(image[i + 1]) : 0x3F;
        const auto word = static_cast<uint16_t>(static_cast<uint8_t>(image[i]) + 256 * high);
        const BoxReply r = box_->picLoad(false, word);
        if (!r.good || r.value != word)
            ShowError(QStringLiteral("Error while uploading EEPROM loader"));
        picNext();
    }
    if (aborted_) return;
    // The configuration word the loader runs with (the ID locations are left as they are);
    // what it reads back is not compared, but it must be answered.
    if (!boxAnswered(box_->setMode(BoxMode::Pic).answered) ||
        !boxAnswered(box_->picToConfiguration()))
        return;
    for (int k = 0; k < 7; ++k)
        if (!picNext()) return;
    boxAnswered(box_->picLoad(false, card()->loaderConfigWord).answered);
}

// Common start of the loader's EEPROM loops: the loader must answer that it runs.
bool TActions::startLoaderEeprom() {
    working(Memory::ExternalEeprom);
    if (!box_->setMode(BoxMode::Loader).good) {
        ShowError(QStringLiteral("EEPROM loader doesn't work"));
        return false;
    }
    box_->display(BoxInterface::Field::Label, "EEP:");
    beginLoop(devices_.EepBuf.length() - 1);
    return true;
}

// A write (byte >= 0) or read (-1) through the loader, tried up to six times at once.
bool TActions::loaderExchange(int address, int byte, int& value) {
    for (int attempt = 0; attempt < 6; ++attempt) {
        const BoxReply r = byte >= 0 ? box_->loaderWrite(address, static_cast<uint8_t>(byte))
                                     : box_->loaderRead(address);
        if (r.good) {
            value = r.value;
            return true;
        }
    }
    return false;
}

void TActions::LoaderWriteEeprom() {
    setLabel(QStringLiteral("EEPROM MEMORY"));
    if (!startLoaderEeprom()) return;
    TBufArray& buf = devices_.EepBuf;
    const int last = buf.length() - 1;
    for (int a = 0; a <= last && !aborted_; ++a) {
        if (!stepShowing(a, last)) break;
        const int byte = buf[a] & 0xFF;
        int value = -1;
        if (!loaderExchange(a, byte, value) || value != byte)
            ShowError(QStringLiteral("Error while writing EEPROM Memory"));
    }
    done(Memory::ExternalEeprom, ActionCode::Program);
}

void TActions::LoaderReadEeprom() {
    SetActionTitle(ActionCode::Read);
    setLabel(QStringLiteral("EEPROM MEMORY"));
    if (!startLoaderEeprom()) return;
    TBufArray& buf = devices_.EepBuf;
    const int last = buf.length() - 1;
    for (int a = 0; a <= last && !aborted_; ++a) {
        if (!stepShowing(a, last)) break;
        int value = 0;
        if (!loaderExchange(a, -1, value)) {
            ShowError(QStringLiteral("Error reading EEPROM Memory"));
            break;
        }
        buf[a] = static_cast<uint16_t>(value);
    }
    done(Memory::ExternalEeprom, ActionCode::Read);
}

void TActions::EepromOperation(ActionCode code) {
    working(Memory::ExternalEeprom);
    SetActionTitle(code);
    setLabel(QStringLiteral("EEPROM MEMORY"));
    box_->setMode(BoxMode::DirectEeprom);
    TBufArray& buf = devices_.EepBuf;
    const int last = buf.length() - 1;
    beginLoop(last);
    box_->display(BoxInterface::Field::Label, "EEP:");
    const bool wide = last > 2047;  // two-byte addresses above 2 KB
    for (int a = 0; a <= last && !aborted_; ++a) {
        if (!stepShowing(a, last)) break;
        if (code == ActionCode::Program) {
            if (!box_->eepromWrite(a, static_cast<uint8_t>(buf[a] & 0xFF), wide).good)
                ShowError(QStringLiteral("Error while writing EEPROM Memory"));
            continue;
        }
        const BoxReply r = box_->eepromRead(a, wide);
        if (!r.good) {
            ShowError(QStringLiteral("Error while reading EEPROM memory"));
            break;
        }
        if (code == ActionCode::Read)
            buf[a] = static_cast<uint16_t>(r.value);
        else if (code == ActionCode::Verify && r.value != (buf[a] & 0xFF))
            ShowError(QStringLiteral("Verify error at $") + hex4s(a) +
                      QStringLiteral(" (EEPROM Memory)"));
    }
    done(Memory::ExternalEeprom, code);
}

}  // namespace kelvano
