#include "sim/SimCard.h"

#include <algorithm>

namespace kelvano {

namespace {

struct CardRow {
    int code;
    SimCard::Controller controller;
    int flashWords;
    int dataBytes;
    int eepromBytes;
    const char* loader;
};

// Sizes of the card types; the EEPROM sizes are those of the 24C16 .. 24C512 on each card.
constexpr CardRow kCards[] = {
    {10, SimCard::Controller::Pic16F84, 1024, 64, 2048, ""},
    {11, SimCard::Controller::Pic16F876, 8192, 256, 8192, "DS9LOAD"},
    {12, SimCard::Controller::Pic16F876, 8192, 256, 32768, "DS9LOAD"},
    {13, SimCard::Controller::Pic16F84, 1024, 64, 8192, ""},
    {14, SimCard::Controller::Pic16F84, 1024, 64, 32768, ""},
    {15, SimCard::Controller::Pic16F84, 1024, 64, 2048, "PICLOAD"},
    {20, SimCard::Controller::At90S8515, 4096, 512, 8192, "FUNLOAD"},
    {21, SimCard::Controller::At90S8535, 4096, 512, 8192, "FUNLOAD"},
    {22, SimCard::Controller::At90S2323, 1024, 128, 2048, "AVRLOAD"},
    {23, SimCard::Controller::At90S2343, 1024, 128, 2048, "AVRLOAD"},
    {24, SimCard::Controller::At90S8515, 4096, 512, 16384, "FUNLOAD"},
    {25, SimCard::Controller::At90S8515, 4096, 512, 32768, "FUNLOAD"},
    {26, SimCard::Controller::At90S8515, 4096, 512, 65536, "FUNLOAD"},
    {30, SimCard::Controller::AtMega161, 8192, 512, 8192, ""},
    {31, SimCard::Controller::AtMega163, 8192, 512, 32768, "FUNLOAD"},
};

const CardRow* findRow(int code) {
    for (const CardRow& row : kCards)
        if (row.code == code) return &row;
    return nullptr;
}

constexpr uint16_t kPicBlank = 0x3FFF;
constexpr int kPicConfigArea = 0x2000;
constexpr int kPicDeviceId = 0x2006;
constexpr int kPicConfigWord = 0x2007;

uint32_t signatureOf(SimCard::Controller controller) {
    switch (controller) {
        case SimCard::Controller::At90S2323:
            return 0x1E9102;
        case SimCard::Controller::At90S2343:
            return 0x1E9103;
        case SimCard::Controller::At90S8515:
            return 0x1E9301;
        case SimCard::Controller::At90S8535:
            return 0x1E9303;
        case SimCard::Controller::AtMega163:
            return 0x1E9402;
        case SimCard::Controller::AtMega161:
            return 0x1E9401;
        default:
            return 0;
    }
}

}  // namespace

bool SimCard::isKnownType(int cardType) { return findRow(cardType) != nullptr; }

SimCard::SimCard(int cardType) {
    const CardRow* row = findRow(cardType);
    if (!row) row = findRow(10);
    type_ = row->code;
    controller_ = row->controller;
    signature = signatureOf(controller_);
    // The PIC16F876's device 0x04F in bits 13..5, silicon revision 7.
    if (controller_ == Controller::Pic16F876) picDeviceId = 0x09E7;
    flash.assign(row->flashWords, 0);
    data.assign(row->dataBytes, 0xFF);
    eeprom.assign(row->eepromBytes, 0xFF);
    if (isMega()) {
        fuseLow = 0xE2;  // the factory setting: internal 1 MHz clock, brown-out off
        fuseHigh = 0xFF;
    }
    erase();
    pageBuffer_.fill(0xFFFF);
}

bool SimCard::isPic() const {
    return controller_ == Controller::Pic16F84 || controller_ == Controller::Pic16F876;
}

bool SimCard::isMega() const {
    return controller_ == Controller::AtMega163 || controller_ == Controller::AtMega161;
}

QString SimCard::loaderName() const { return QString::fromLatin1(findRow(type_)->loader); }

bool SimCard::eepromDirect() const { return type_ == 10 || type_ == 13 || type_ == 14; }

void SimCard::erase() {
    std::fill(data.begin(), data.end(), 0xFF);
    if (isPic()) {
        std::fill(flash.begin(), flash.end(), kPicBlank);
        picId.fill(kPicBlank);
        picConfig = kPicBlank;
    } else {
        std::fill(flash.begin(), flash.end(), 0xFFFF);
        lockBits = 0xFF;
    }
}

// ---- PIC ----------------------------------------------------------------------------------

bool SimCard::picCodeProtected(int address) const {
    if (controller_ == Controller::Pic16F84) return (picConfig & 0x3FF0) != 0x3FF0;
    if (controller_ != Controller::Pic16F876) return false;
    static constexpr int kFrom[4] = {0x0000, 0x1000, 0x1F00, 0x2000};
    const int word = address & (int(flash.size()) - 1);
    return word >= kFrom[(picConfig >> 4) & 3];
}

bool SimCard::picDataProtected() const {
    if (controller_ == Controller::Pic16F84) return (picConfig & 0x3FF0) != 0x3FF0;
    return (picConfig & 0x0100) == 0;
}

uint16_t SimCard::picReadWord(int address) const {
    address &= 0x3FFF;
    if (address < kPicConfigArea) {
        if (picCodeProtected(address)) return 0;
        return flash[address & (int(flash.size()) - 1)];
    }
    if (address < kPicConfigArea + 4) return picId[address - kPicConfigArea];
    if (address == kPicConfigWord) return picConfig;
    if (address == kPicDeviceId) return picDeviceId;
    return kPicBlank;
}

uint16_t SimCard::picProgramWord(int address, uint16_t word) {
    address &= 0x3FFF;
    word &= 0x3FFF;
    if (address < kPicConfigArea) {
        if (!picCodeProtected(address)) flash[address & (int(flash.size()) - 1)] = word;
    } else if (address < kPicConfigArea + 4) {
        picId[address - kPicConfigArea] = word;
    } else if (address == kPicConfigWord) {
        // Only an erase takes code protection away again.
        const uint16_t cpMask = controller_ == Controller::Pic16F84 ? 0x3FF0 : 0x3130;
        picConfig = uint16_t((word & ~cpMask) | (word & picConfig & cpMask));
    }
    return picReadWord(address);
}

uint8_t SimCard::picReadData(int address) const {
    if (picDataProtected()) return 0;
    return data[address & (int(data.size()) - 1)];
}

uint8_t SimCard::picProgramData(int address, uint8_t byte) {
    if (!picDataProtected()) data[address & (int(data.size()) - 1)] = byte;
    return picReadData(address);
}

// ---- AVR ----------------------------------------------------------------------------------

void SimCard::avrReset() {
    avrEnabled_ = false;
    pageBuffer_.fill(0xFFFF);
}

bool SimCard::lb1Programmed() const { return isMega() ? !(lockBits & 0x01) : !(lockBits & 0x02); }
bool SimCard::lb2Programmed() const { return isMega() ? !(lockBits & 0x02) : !(lockBits & 0x04); }
bool SimCard::avrWriteLocked() const { return lb1Programmed() || lb2Programmed(); }
bool SimCard::avrReadLocked() const { return lb1Programmed() && lb2Programmed(); }

std::array<uint8_t, 2> SimCard::avrInstruction(const std::array<uint8_t, 4>& in) {
    const uint8_t b1 = in[0], b2 = in[1], b3 = in[2], b4 = in[3];
    if (isPic()) return {0xFF, 0xFF};  // nothing on the other end of the AVR lines
    if (!avrEnabled_) {
        // Out of sync until Programming Enable: the controller does not drive its output.
        if (b1 == 0xAC && b2 == 0x53) {
            avrEnabled_ = true;
            return {0x53, b3};
        }
        return {0xFF, 0xFF};
    }
    switch (b1) {
        case 0x30:
        case 0x58:
        case 0x50:
        case 0x20:
        case 0x28:
        case 0xA0:
            return {b2, avrRead(b1, b2, b3)};
        case 0x40:
        case 0x48:
        case 0x4C:
        case 0xC0:
            avrWrite(b1, b2, b3, b4);
            break;
        case 0xAC:
            avrConfigure(b2, b4);
            break;
        default:
            break;
    }
    return {b2, b3};
}

uint8_t SimCard::avrRead(uint8_t op, uint8_t b2, uint8_t b3) const {
    const int address = (b2 << 8) | b3;
    const bool hideContents = avrReadLocked();
    switch (op) {
        case 0x30: {
            const int index = b3 & 3;
            if (index == 3) return 0xFF;
            if (hideContents && !isMega()) return uint8_t(index);  // the locked AT90S's 00 01 02
            return uint8_t(avrSignature() >> (8 * (2 - index)));
        }
        case 0x58:
            if (isMega()) return b2 == 0x08 ? fuseHigh : uint8_t(lockBits | 0xC0);
            return uint8_t(0x3E | (lb1Programmed() ? 0 : 0x80) | (lb2Programmed() ? 0 : 0x40) |
                           (fuseLow & 0x01));
        case 0x50:
            return isMega() ? fuseLow : 0xFF;
        case 0x20:
        case 0x28: {
            if (hideContents) return b3;
            const uint16_t word = flash[address & (int(flash.size()) - 1)];
            return op == 0x20 ? uint8_t(word) : uint8_t(word >> 8);
        }
        case 0xA0:
            if (hideContents) return b3;
            return data[address & (int(data.size()) - 1)];
        default:
            return 0xFF;
    }
}

void SimCard::avrWrite(uint8_t op, uint8_t b2, uint8_t b3, uint8_t b4) {
    const int address = (b2 << 8) | b3;
    const bool low = op == 0x40;
    if (isMega() && (op == 0x40 || op == 0x48)) {
        // Load Program Memory Page: the buffer keeps the bytes until Write Program Memory Page.
        uint16_t& word = pageBuffer_[b3 & 0x3F];
        word = low ? uint16_t((word & 0xFF00) | b4) : uint16_t((word & 0x00FF) | (b4 << 8));
        return;
    }
    if (avrWriteLocked()) return;
    if (op == 0x4C) {
        if (!isMega()) return;
        const int start = (address & ~0x3F) & (int(flash.size()) - 1);
        for (int i = 0; i < 64; ++i)
            flash[start + i] &= pageBuffer_[i];  // flash cells only lose bits
        pageBuffer_.fill(0xFFFF);
    } else if (op == 0xC0) {
        data[address & (int(data.size()) - 1)] = b4;
    } else {
        uint16_t& word = flash[address & (int(flash.size()) - 1)];
        word &= low ? uint16_t(0xFF00 | b4) : uint16_t(0x00FF | (b4 << 8));
    }
}

void SimCard::avrConfigure(uint8_t b2, uint8_t b4) {
    if (b2 == 0x80) {
        erase();
        return;
    }
    if (isMega()) {
        if (b2 == 0xE0)
            lockBits &= uint8_t(b4 | 0xC0);
        else if (b2 == 0xA0)
            fuseLow = b4;
        else if (b2 == 0xA8)
            fuseHigh = uint8_t(b4 | 0xF8);
        return;
    }
    if ((b2 & 0xF9) == 0xF9) {
        lockBits &= uint8_t(b2 | 0xF9);
    } else if ((b2 & 0xFE) == 0xBE && !lb1Programmed() &&
               (controller_ == Controller::At90S2323 || controller_ == Controller::At90S2343 ||
                controller_ == Controller::At90S8535)) {
        fuseLow = uint8_t((fuseLow & 0xFE) | (b2 & 0x01));
    }
}

}  // namespace kelvano
