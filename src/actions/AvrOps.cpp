// AVR controllers through the box: each step is one four-byte serial-programming
// instruction, sent as "Y" + eight hex digits on the serial link or as packet 04 over USB.
#include "actions/ActionTexts.h"
#include "actions/uActions.h"

namespace kelvano {

using namespace actiontext;

namespace {

// Slot of the expected signature in the signature table, by card type.
int expectedSlot(int deviceId) {
    switch (deviceId) {
        case 20: case 24: case 25: case 26: return 15;  // AT90S8515
        case 21: return 16;                             // AT90S8535
        case 22: return 7;                              // AT90S2323
        case 23: return 8;                              // AT90S2343
        case 31: return 22;                             // ATmega163
        default: return 0;
    }
}

constexpr uint32_t kLockedAt90s = 0x000102;

}  // namespace

void TActions::avrModeCommands() {
    if (com_.UsbConnected) {
        usbPacket(QByteArray::fromHex("0100"));
        clock_.sleepMs(100);
        usbPacket(QByteArray::fromHex("0102"));
    } else {
        tx("M0", 500);
        clock_.sleepMs(100);
        tx("M5", 500);
    }
}

QString TActions::AvrDeviceName(uint32_t signature) const {
    QString name = QStringLiteral("Unknown device: $") +
                   QString::number(signature & 0xFFFFFF, 16).toUpper().rightJustified(6, u'0');
    for (const AvrSignature& row : signatures_)
        if (row.signature == signature) name = row.name;
    return name;
}

bool TActions::AvrIdentify(int id, bool reportProtection) {
    const uint32_t expected = signatures_[static_cast<size_t>(expectedSlot(id))].signature;
    const bool program = programming();

    avrModeCommands();
    QString sync;
    if (com_.UsbConnected) {
        usbPacket(QByteArray::fromHex("04AC530000"));
        if (usbReplyCount_ >= 2)
            sync = QString::fromLatin1(hex2(usbReply_[0]) + hex2(usbReply_[1]));
    } else {
        QByteArray reply;
        tx("YAC530000", reply, 200);
        sync = QString::fromLatin1(reply);
    }
    if (sync != QLatin1String("5300")) {
        ShowError(QStringLiteral("Sync error: ") + sync);
        return true;
    }

    int value = 0;
    if (hasAvrFuseBox(id) && !program) {
        if (!avrInstruction(0x58, 0x00, 0x00, 0x00, 50, value)) {
            ShowError(QStringLiteral("Error while reading lock bits"));
            return true;
        }
        fuses_.avr.lockBit1 = (value & 0x80) == 0;
        fuses_.avr.lockBit2 = (value & 0x40) == 0;
        fuses_.avr.avrFuse = (value & 0x01) == 0;
        fuses_.notify();
        done(Memory::Configuration, ActionCode::Read);
    }
    if (id == 31 && !program) {
        if (!serialOnly(usbNoMega())) return true;
        int low = 0, high = 0, lock = 0;
        if (!avrInstruction(0x50, 0x00, 0x00, 0x00, 50, low) ||
            !avrInstruction(0x58, 0x08, 0x00, 0x00, 50, high) ||
            !avrInstruction(0x58, 0x00, 0x00, 0x00, 50, lock)) {
            ShowError(QStringLiteral("Error while reading fuse and lock bits"));
            return true;
        }
        devices_.FuseLow = static_cast<uint8_t>(low);
        devices_.FuseHigh = static_cast<uint8_t>(high);
        devices_.LockByte = static_cast<uint8_t>(lock);
        RefreshMega163Page(devices_, fuses_);
        done(Memory::Configuration, ActionCode::Read);
    }

    int b0 = 0, b1 = 0, b2 = 0;
    if (!avrInstruction(0x30, 0x00, 0x02, 0x00, 50, b2) ||
        !avrInstruction(0x30, 0x00, 0x01, 0x00, 50, b1) ||
        !avrInstruction(0x30, 0x00, 0x00, 0x00, 50, b0)) {
        ShowError(QStringLiteral("Error while reading signature"));
        return true;
    }
    const uint32_t signature = static_cast<uint32_t>(b0 * 65536 + b1 * 256 + b2);

    if (signature == expected) {
        if (id == 31 && !program && (devices_.LockByte & 3) == 0) {
            if (reportProtection)
                ShowError(QStringLiteral("AVR-Mega-Device is protected!\r"
                                         "Can't read, verify or blank check the device."));
            return false;
        }
        return true;
    }
    if (signature == kLockedAt90s) {
        if (reportProtection)
            ShowError(QStringLiteral(
                "AVR-Device is protected!\rCan't read, verify or blank check the device."));
        return false;
    }
    ShowError(QStringLiteral("Wrong AVR Device!\rRead: ") + AvrDeviceName(signature) +
              QStringLiteral("\rMust: ") + AvrDeviceName(expected));
    return true;
}

void TActions::AvrMemoryOperation(Memory memory, ActionCode code) {
    const bool flash = memory == Memory::Program;
    TBufArray& buf = flash ? devices_.ProgBuf : devices_.DataBuf;
    const int last = buf.length() - 1;
    const bool usb = com_.UsbConnected;
    const bool mega = deviceId() == 31;

    SetActionTitle(code);
    setLabel(flash ? QStringLiteral("PROGRAM MEMORY") : QStringLiteral("DATA MEMORY"));
    host_.processEvents();
    // Page writes of the ATmega163 have no packet form: stop before anything is written
    // rather than report success for a card that was never programmed.
    if (flash && code == ActionCode::Program && mega && !serialOnly(usbNoMega())) return;
    beginLoop(last);
    if (!usb) sendLabel(flash ? "PRG:" : "DAT:");

    bool pageDirty = false;
    for (int a = 0; a <= last && !aborted_; ++a) {
        step(a);
        if (!usb) sendAddressEvery16(a, last);
        const uint8_t hh = static_cast<uint8_t>(a >> 8);
        const uint8_t ll = static_cast<uint8_t>(a & 0xFF);
        const uint16_t word = buf[a];

        if (flash && code != ActionCode::Program) {
            int high = 0, low = 0;
            if (!avrInstruction(0x28, hh, ll, 0x00, 10, high) ||
                !avrInstruction(0x20, hh, ll, 0x00, 10, low)) {
                ShowError(QStringLiteral("Error while reading program memory"));
                break;
            }
            const uint16_t read = static_cast<uint16_t>(high * 256 + low);
            if (code == ActionCode::Read) {
                buf[a] = read;
            } else if (code == ActionCode::BlankCheck && read != 0xFFFF) {
                ShowError(QStringLiteral("Device not blank at $") + hex4s(a));
            } else if (code == ActionCode::Verify && read != word) {
                ShowError(QStringLiteral("Verify error at $") + hex4s(a) +
                          QStringLiteral(" (Program Memory)"));
            }
        } else if (flash && !mega) {
            if (word == 0xFFFF) continue;
            bool good;
            int echo = 0;
            if (usb) {
                good = avrInstruction(0x40, hh, ll, word & 0xFF, 50, echo);
                UsbCommand6(3);
                good = avrInstruction(0x48, hh, ll, word >> 8, 50, echo) && good;
                UsbCommand6(3);
            } else {
                QByteArray r1, r2;
                tx("Y40" + hex4(a) + hex2(word & 0xFF), r1, 50);
                clock_.sleepMs(4);
                tx("Y48" + hex4(a) + hex2(word >> 8), r2, 50);
                clock_.sleepMs(4);
                good = r1.size() == 4 && r2.size() == 4;
            }
            if (!good) ShowError(QStringLiteral("Error while writing program memory"));
        } else if (flash) {
            // ATmega163: pages of 64 words; only pages holding a programmed word are sent.
            if (a % 64 == 0) pageDirty = false;
            if (word != 0xFFFF) pageDirty = true;
            if ((a % 64 == 63 || a == last) && pageDirty) {
                const int start = a & 0xFFC0;
                for (int w = start; w <= a; ++w) {
                    tx("Y40" + hex4(w % 64) + hex2(buf[w] & 0xFF), 50);
                    tx("Y48" + hex4(w % 64) + hex2(buf[w] >> 8), 50);
                }
                QByteArray reply;
                tx("Y4C" + hex4(start) + "00", reply, 50);
                clock_.sleepMs(20);
                if (reply.size() != 4) ShowError(QStringLiteral("Error while writing program memory"));
            }
        } else if (code != ActionCode::Program) {
            int value = 0;
            if (!avrInstruction(0xA0, hh, ll, 0x00, 10, value)) {
                ShowError(QStringLiteral("Error while reading data memory"));
                break;
            }
            if (code == ActionCode::Read) {
                buf[a] = static_cast<uint16_t>(value);
            } else if (code == ActionCode::Verify && value != (word & 0xFF)) {
                ShowError(QStringLiteral("Verify error at $") + hex4s(a) +
                          QStringLiteral(" (Data Memory)"));
            }
        } else {
            bool good;
            if (usb) {
                int echo = 0;
                good = avrInstruction(0xC0, hh, ll, word & 0xFF, 50, echo);
                UsbCommand6(3);
            } else {
                QByteArray reply;
                tx("YC0" + hex4(a) + hex2(word & 0xFF), reply, 50);
                clock_.sleepMs(4);
                good = reply.size() == 4;
            }
            if (!good) ShowError(QStringLiteral("Error while writing data memory"));
        }
    }
    done(memory, code);
}

void TActions::AvrWriteConfigByte(uint8_t value) {
    if (com_.UsbConnected) {
        QByteArray packet = QByteArray::fromHex("04AC000000");
        packet[2] = static_cast<char>(value);
        usbPacket(packet);
    } else {
        tx("YAC" + hex2(value) + "0000", 50);
    }
    clock_.sleepMs(100);
}

void TActions::AvrWriteConfiguration() {
    const int id = deviceId();
    setLabel(QStringLiteral("CONFIGURATION"));
    if (!com_.UsbConnected) {
        sendLabel("    ");
        tx("DCFG ", 10);
        host_.processEvents();
        clock_.sleepMs(200);
    }
    if (hasAvrFuseBox(id)) AvrWriteConfigByte(fuses_.avr.avrFuse ? 0xBE : 0xBF);
    if (isAt90s(id)) {
        uint8_t lock = 0xFF;
        if (fuses_.avr.lockBit1) lock &= ~0x02;
        if (fuses_.avr.lockBit2) lock &= ~0x04;
        AvrWriteConfigByte(lock);
    }
    if (id == 31) {
        if (!serialOnly(usbNoMega())) return;
        ReadMega163Page(devices_, fuses_);
        tx("YACE000" + hex2(devices_.LockByte), 50);
        clock_.sleepMs(20);
        tx("YACA000" + hex2(devices_.FuseLow), 50);
        clock_.sleepMs(20);
        tx("YACA800" + hex2(devices_.FuseHigh), 50);
        clock_.sleepMs(20);
    }
    done(Memory::Configuration, ActionCode::Program);
}

}  // namespace kelvano
