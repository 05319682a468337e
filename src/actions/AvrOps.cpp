// AVR controllers through the box: each step is one four-byte serial-programming instruction.
#include "actions/ActionTexts.h"
#include "actions/uActions.h"

namespace kelvano {

using namespace actiontext;

namespace {
constexpr uint32_t kLockedAt90s = 0x000102;  // the signature of a read-locked AT90S

AvrInstruction at(uint8_t op, int address, uint8_t data = 0) {
    return {op, static_cast<uint8_t>(address >> 8), static_cast<uint8_t>(address & 0xFF), data};
}
}  // namespace

QString TActions::AvrDeviceName(uint32_t signature) const {
    QString name = QStringLiteral("Unknown device: $") +
                   QString::number(signature & 0xFFFFFF, 16).toUpper().rightJustified(6, u'0');
    for (const AvrSignature& row : signatures_)
        if (row.signature == signature) name = row.name;
    return name;
}

// Idle, then AVR programming mode: the box takes the controller's RESET low.
bool TActions::enterAvrProgramming() {
    if (!boxAnswered(box_->setMode(BoxMode::Idle).answered)) return false;
    clock_.sleepMs(100);
    return boxAnswered(box_->setMode(BoxMode::Avr).answered);
}

bool TActions::AvrIdentify(bool reportProtection) {
    if (!enterAvrProgramming()) return true;
    const BoxReply sync = box_->avrInstruction({0xAC, 0x53, 0x00, 0x00});  // Programming Enable
    if (sync.text != QLatin1String("5300")) {
        ShowError(QStringLiteral("Sync error: ") + sync.text);
        return true;
    }
    if (!programming() && !readAvrConfiguration()) return true;
    uint32_t signature = 0;
    if (!readSignature(signature)) return true;
    return checkSignature(signature, reportProtection);
}

// The lock (and fuse) bits into the fuse page, except before programming, which sets them.
bool TActions::readAvrConfiguration() {
    const TDeviceEntry& c = *card();
    working(Memory::Configuration);
    if (c.hasFuseBox()) {
        const BoxReply lock = box_->avrInstruction({0x58, 0x00, 0x00, 0x00});
        if (!lock.good) {
            ShowError(QStringLiteral("Error while reading lock bits"));
            return false;
        }
        fuses_.avr.lockBit1 = (lock.value & 0x80) == 0;
        fuses_.avr.lockBit2 = (lock.value & 0x40) == 0;
        fuses_.avr.avrFuse = (lock.value & 0x01) == 0;
        fuses_.notify();
        done(Memory::Configuration, ActionCode::Read);
    }
    if (!c.megaFuseBytes()) {
        working_.reset();
        return true;
    }
    const bool fuses = box_->supports(BoxFeature::AvrFuseBytes);
    BoxReply low, high;
    if (fuses) {
        low = box_->avrInstruction({0x50, 0x00, 0x00, 0x00});
        if (low.good) high = box_->avrInstruction({0x58, 0x08, 0x00, 0x00});
    }
    // The lock byte comes with the lock read every AVR box has, so that the protection test
    // still holds where the fuse bytes cannot be read.
    const BoxReply lock =
        !fuses || high.good ? box_->avrInstruction({0x58, 0x00, 0x00, 0x00}) : BoxReply{};
    if (!lock.good) {
        ShowError(QStringLiteral("Error while reading fuse and lock bits"));
        return false;
    }
    if (fuses) {
        devices_.FuseLow = static_cast<uint8_t>(low.value);
        devices_.FuseHigh = static_cast<uint8_t>(high.value);
        done(Memory::Configuration, ActionCode::Read);
    } else {
        ReadMega163Page(devices_, fuses_);  // the fuse controls keep what they show
        if (enable_.config) leftOut(Memory::Configuration);
        notice(QStringLiteral("Fuse bytes not read (no USB form)"));
    }
    devices_.LockByte = static_cast<uint8_t>(lock.value);
    RefreshMega163Page(devices_, fuses_);
    working_.reset();
    return true;
}

bool TActions::readSignature(uint32_t& signature) {
    int bytes[3] = {};
    for (int i = 2; i >= 0; --i) {
        const BoxReply r = box_->avrInstruction({0x30, 0x00, static_cast<uint8_t>(i), 0x00});
        if (!r.good) {
            ShowError(QStringLiteral("Error while reading signature"));
            return false;
        }
        bytes[i] = r.value;
    }
    signature = static_cast<uint32_t>(bytes[0] * 65536 + bytes[1] * 256 + bytes[2]);
    return true;
}

// True unless the card is protected; a wrong device is reported (and returns true).
bool TActions::checkSignature(uint32_t signature, bool reportProtection) {
    const TDeviceEntry& c = *card();
    if (signature == c.avrSignature) {
        // An ATmega is read-protected with both lock bits programmed; one alone only stops writes.
        if (c.megaFuseBytes() && !programming() && (devices_.LockByte & 3) == 0) {
            if (reportProtection) {
                ShowError(QStringLiteral("AVR-Mega-Device is protected!\r"
                                         "Can't read, verify or blank check the device."),
                          true);
                result_.stoppedByProtection = true;
            }
            return false;
        }
        return true;
    }
    if (signature == kLockedAt90s) {
        if (reportProtection) {
            ShowError(
                QStringLiteral(
                    "AVR-Device is protected!\rCan't read, verify or blank check the device."),
                true);
            result_.stoppedByProtection = true;
        }
        return false;
    }
    ShowError(QStringLiteral("Wrong AVR Device!\rRead: ") + AvrDeviceName(signature) +
              QStringLiteral("\rMust: ") + AvrDeviceName(c.avrSignature));
    return true;
}

void TActions::AvrMemoryOperation(Memory memory, ActionCode code) {
    const bool flash = memory == Memory::Program;
    const int last = (flash ? devices_.ProgBuf : devices_.DataBuf).length() - 1;
    working(memory);
    SetActionTitle(code);
    setLabel(flash ? QStringLiteral("PROGRAM MEMORY") : QStringLiteral("DATA MEMORY"));
    host_.processEvents();
    beginLoop(last);
    box_->display(BoxInterface::Field::Label, flash ? "PRG:" : "DAT:");
    const bool paged = card()->pagedFlash();
    for (int a = 0; a <= last && !aborted_; ++a) {
        if (!stepShowing(a, last)) break;
        if (flash && code != ActionCode::Program)
            avrReadFlashWord(a, code);
        else if (flash && paged)
            avrFlashPage(a);
        else if (flash)
            avrWriteFlashWord(a);
        else if (code != ActionCode::Program)
            avrReadDataByte(a, code);
        else
            avrWriteDataByte(a);
    }
    done(memory, code);
}

void TActions::avrReadFlashWord(int a, ActionCode code) {
    const BoxReply high = box_->avrInstruction(at(0x28, a));
    const BoxReply low = high.good ? box_->avrInstruction(at(0x20, a)) : BoxReply{};
    if (!high.good || !low.good) {
        ShowError(QStringLiteral("Error while reading program memory"));
        return;
    }
    checkRead(Memory::Program, code, devices_.ProgBuf, a,
              static_cast<uint16_t>(high.value * 256 + low.value));
}

// AT90S: low byte, then high byte; an erased word is not written.
void TActions::avrWriteFlashWord(int a) {
    const uint16_t word = devices_.ProgBuf[a];
    if (word == 0xFFFF) return;
    const bool lowGood = box_->avrWrite(at(0x40, a, word & 0xFF)).good;
    const bool highGood = box_->avrWrite(at(0x48, a, word >> 8)).good;
    if (!lowGood || !highGood) ShowError(QStringLiteral("Error while writing program memory"));
}

// Paged flash: at the last word of a page that holds a programmed word, its words are
// loaded into the page buffer and the page is written. Clean pages are not sent.
void TActions::avrFlashPage(int a) {
    const TBufArray& buf = devices_.ProgBuf;
    const int words = card()->flashPageWords;
    if (a % words != words - 1 && a != buf.length() - 1) return;
    const int start = a - a % words;
    bool dirty = false;
    for (int w = start; w <= a; ++w) dirty = dirty || buf[w] != 0xFFFF;
    if (!dirty) return;
    // The page loads carry no value to check, but each must be answered.
    for (int w = start; w <= a; ++w) {
        if (!boxAnswered(box_->avrInstruction(at(0x40, w % words, buf[w] & 0xFF)).answered) ||
            !boxAnswered(box_->avrInstruction(at(0x48, w % words, buf[w] >> 8)).answered))
            return;
    }
    const BoxReply page = box_->avrInstruction(at(0x4C, start));
    clock_.sleepMs(20);
    if (page.text.size() != 4) ShowError(QStringLiteral("Error while writing program memory"));
}

void TActions::avrReadDataByte(int a, ActionCode code) {
    const BoxReply r = box_->avrInstruction(at(0xA0, a));
    if (!r.good) {
        ShowError(QStringLiteral("Error while reading data memory"));
        return;
    }
    checkRead(Memory::Data, code, devices_.DataBuf, a, static_cast<uint16_t>(r.value));
}

void TActions::avrWriteDataByte(int a) {
    if (!box_->avrWrite(at(0xC0, a, devices_.DataBuf[a] & 0xFF)).good)
        ShowError(QStringLiteral("Error while writing data memory"));
}

// Lock and fuse writes: their replies carry nothing worth testing, but no reply at all means
// the box may never have passed the instruction on, and the bits are not counted as written.
bool TActions::AvrWriteConfigByte(uint8_t value, const QString& error) {
    return writeAnswered({0xAC, value, 0x00, 0x00}, 100, error);
}

bool TActions::writeAnswered(AvrInstruction in, int pauseMs, const QString& error) {
    const bool answered = box_->avrInstruction(in).answered;
    clock_.sleepMs(pauseMs);
    if (!answered) ShowError(error);
    return answered;
}

void TActions::AvrWriteConfiguration() {
    const TDeviceEntry& c = *card();
    working(Memory::Configuration);
    setLabel(QStringLiteral("CONFIGURATION"));
    box_->display(BoxInterface::Field::Label, "    ");
    box_->display(BoxInterface::Field::Address, "CFG ");
    if (box_->supports(BoxFeature::Display)) {  // "CFG" can be read
        host_.processEvents();
        clock_.sleepMs(200);
    }
    if (c.hasFuseBox()) AvrWriteConfigByte(fuses_.avr.avrFuse ? 0xBE : 0xBF, fuseBitsError());
    if (c.at90sLockBits() && !aborted_) {
        uint8_t lock = 0xFF;
        if (fuses_.avr.lockBit1) lock &= ~0x02;
        if (fuses_.avr.lockBit2) lock &= ~0x04;
        AvrWriteConfigByte(lock, lockBitsError());
    }
    if (c.megaFuseBytes() && !aborted_) {
        ReadMega163Page(devices_, fuses_);
        if (writeAnswered({0xAC, 0xE0, 0x00, devices_.LockByte}, 20, lockBitsError()) &&
            writeAnswered({0xAC, 0xA0, 0x00, devices_.FuseLow}, 20, fuseBitsError()))
            writeAnswered({0xAC, 0xA8, 0x00, devices_.FuseHigh}, 20, fuseBitsError());
    }
    done(Memory::Configuration, ActionCode::Program);
}

}  // namespace kelvano
