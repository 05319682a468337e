// PIC controllers through the box: the PIC mode starts the box's address counter at 0; each
// location is programmed and read back, or read, at the counter, which then moves on.
#include "actions/ActionTexts.h"
#include "actions/uActions.h"

namespace kelvano {

using namespace actiontext;

void TActions::PicMemoryOperation(Memory memory, ActionCode code) {
    working(memory);
    SetActionTitle(code);
    if (memory == Memory::Configuration) {
        picConfiguration(code);
        return;
    }
    const bool flash = memory == Memory::Program;
    const int last = (flash ? devices_.ProgBuf : devices_.DataBuf).length() - 1;
    setLabel(flash ? QStringLiteral("PROGRAM MEMORY") : QStringLiteral("DATA MEMORY"));
    host_.processEvents();
    if (!boxAnswered(box_->setMode(BoxMode::Pic).answered)) return;
    beginLoop(last);
    box_->display(BoxInterface::Field::Label, flash ? "PRG:" : "DAT:");
    for (int a = 0; a <= last && !aborted_; ++a) {
        if (!stepShowing(a, last)) break;
        if (code == ActionCode::Program)
            picProgramStep(memory, a);
        else if (!picReadStep(memory, code, a))
            break;
    }
    done(memory, code);
}

// Programs the location unless it is an erased flash word, compares what it reads back, and
// moves on in every case. Every data byte is written, FF included.
void TActions::picProgramStep(Memory memory, int a) {
    const bool data = memory == Memory::Data;
    const uint16_t stored = (data ? devices_.DataBuf : devices_.ProgBuf)[a];
    if (data || stored != 0x3FFF) {
        const BoxReply r = box_->picLoad(data, stored);
        const uint16_t mask = data ? 0xFF : 0xFFFF;
        if (!r.good || (r.value & mask) != (stored & mask))
            ShowError(data ? QStringLiteral("Error while writing PIC data memory")
                           : QStringLiteral("Error while writing PIC program memory"));
    }
    picNext();
}

bool TActions::picNext() {
    const bool moved = box_->picIncrement();
    if (!moved && !aborted_) ShowError(noAnswer());
    return moved;
}

// A failed read stops without moving on.
bool TActions::picReadStep(Memory memory, ActionCode code, int a) {
    const bool data = memory == Memory::Data;
    const BoxReply r = box_->picRead(data);
    if (!r.good) {
        ShowError(data ? QStringLiteral("Error while reading data memory")
                       : QStringLiteral("Error while reading program memory"));
        return false;
    }
    checkRead(memory, code, data ? devices_.DataBuf : devices_.ProgBuf, a,
              static_cast<uint16_t>(r.value));
    return picNext();
}

// The four ID locations and, three locations on, the configuration word.
void TActions::picConfiguration(ActionCode code) {
    setLabel(QStringLiteral("CONFIGURATION"));
    box_->display(BoxInterface::Field::Label, "    ");
    box_->setMode(BoxMode::Pic);
    box_->display(BoxInterface::Field::Address, "CFG ");
    if (!boxAnswered(box_->picToConfiguration())) return;
    if (!picIdLocations(code) || aborted_) return;
    for (int k = 0; k < 3; ++k)
        if (!picNext()) return;
    picConfigurationWord(code);
}

bool TActions::picIdLocations(ActionCode code) {
    for (int k = 0; k < 4 && !aborted_; ++k) {
        host_.processEvents();
        if (code == ActionCode::Program) {
            // Only the low four bits are an ID value: the word stays a 14-bit word. What an ID
            // location reads back is not compared, only that it answered.
            const uint16_t word = static_cast<uint16_t>(0x3F80 + (devices_.IdBuf[k] & 0xF));
            if (box_->picLoad(false, word).text.size() != 4)
                ShowError(QStringLiteral("Error while writing PIC Configuration"));
        } else {
            const BoxReply r = box_->picRead(false);
            // A failed read would leave the counter one location behind and shift every
            // later value into the wrong place: report it and stop instead.
            if (!r.good) {
                ShowError(QStringLiteral("Error while reading PIC Configuration"));
                return false;
            }
            devices_.IdBuf[k] = static_cast<uint16_t>(r.value & 0x0F);
        }
        if (!picNext()) return false;
    }
    return true;
}

void TActions::picConfigurationWord(ActionCode code) {
    if (code == ActionCode::Program) {
        const BoxReply r = box_->picLoad(false, devices_.CfgWord);
        if (!r.good || r.value != devices_.CfgWord)
            ShowError(QStringLiteral("Error while writing PIC Configuration"));
    } else {
        const BoxReply r = box_->picRead(false);
        if (!r.good) {
            ShowError(QStringLiteral("Error while reading PIC Configuration"));
            return;
        }
        devices_.CfgWord = static_cast<uint16_t>(r.value);
    }
    clock_.sleepMs(200);
    done(Memory::Configuration, code == ActionCode::Program ? code : ActionCode::Read);
}

}  // namespace kelvano
