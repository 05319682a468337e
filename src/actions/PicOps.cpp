// PIC controllers through the box: "M2" enters programming mode with the address counter at
// 0, "L00"/"L01" program and read back the location at the counter, "R04"/"R05" read it,
// "I" advances the counter and "P003FFF" moves it to the configuration area.
#include "actions/ActionTexts.h"
#include "actions/uActions.h"

namespace kelvano {

using namespace actiontext;

void TActions::PicMemoryOperation(Memory memory, ActionCode code) {
    SetActionTitle(code);
    if (!serialOnly(usbNoPic())) return;

    if (memory == Memory::Configuration) {
        setLabel(QStringLiteral("CONFIGURATION"));
        sendLabel("    ");
        tx("M2", 500);
        tx("DCFG ", 10);
        tx("P003FFF", 10);
        for (int k = 0; k < 4 && !aborted_; ++k) {
            host_.processEvents();
            QByteArray reply;
            if (code == ActionCode::Program) {
                // Only the low four bits are an ID value: the word stays a 14-bit word.
                const unsigned word = 0x3F80 + (devices_.IdBuf[k] & 0xF);
                if (tx("L00" + hex4(word), reply, 30) != 4 || reply.size() != 4)
                    ShowError(QStringLiteral("Error while writing PIC Configuration"));
                tx("I", 10);
            } else {
                int value = 0;
                tx("R04", reply, 10);
                // A failed read would leave the counter one location behind and shift every
                // later value into the wrong place: report it and stop instead.
                if (!hexReply(reply, 4, value)) {
                    ShowError(QStringLiteral("Error while reading PIC Configuration"));
                    return;
                }
                devices_.IdBuf[k] = static_cast<uint16_t>(value & 0x0F);
                tx("I", 10);
            }
        }
        if (aborted_) return;
        tx("I", 10);
        tx("I", 10);
        tx("I", 10);
        QByteArray reply;
        int value = 0;
        if (code == ActionCode::Program) {
            tx("L00" + hex4(devices_.CfgWord), reply, 30);
            if (!hexReply(reply, 4, value) || value != devices_.CfgWord)
                ShowError(QStringLiteral("Error while writing PIC Configuration"));
        } else {
            tx("R04", reply, 10);
            if (!hexReply(reply, 4, value)) {
                ShowError(QStringLiteral("Error while reading PIC Configuration"));
                return;
            }
            devices_.CfgWord = static_cast<uint16_t>(value);
        }
        clock_.sleepMs(200);
        done(memory, code == ActionCode::Program ? code : ActionCode::Read);
        return;
    }

    const bool flash = memory == Memory::Program;
    TBufArray& buf = flash ? devices_.ProgBuf : devices_.DataBuf;
    const int last = buf.length() - 1;
    setLabel(flash ? QStringLiteral("PROGRAM MEMORY") : QStringLiteral("DATA MEMORY"));
    host_.processEvents();
    tx("M2", 500);
    beginLoop(last);
    sendLabel(flash ? "PRG:" : "DAT:");

    for (int a = 0; a <= last && !aborted_; ++a) {
        step(a);
        sendAddressEvery16(a, last);
        const uint16_t stored = buf[a];
        QByteArray reply;
        int value = 0;
        if (code == ActionCode::Program) {
            if (flash) {
                if (stored != 0x3FFF) {
                    tx("L00" + hex4(stored), reply, 30);
                    if (!hexReply(reply, 4, value) || value != stored)
                        ShowError(QStringLiteral("Error while writing PIC program memory"));
                }
            } else {
                tx("L01" + hex4(stored), reply, 30);
                if (!hexReply(reply, 4, value) || (value & 0xFF) != (stored & 0xFF))
                    ShowError(QStringLiteral("Error while writing PIC data memory"));
            }
            tx("I", 10);
            continue;
        }
        tx(flash ? "R04" : "R05", reply, 10);
        if (!hexReply(reply, 4, value)) {
            ShowError(flash ? QStringLiteral("Error while reading program memory")
                            : QStringLiteral("Error while reading data memory"));
            break;
        }
        if (code == ActionCode::Read) {
            buf[a] = static_cast<uint16_t>(flash ? value : value & 0xFF);
        } else if (flash && code == ActionCode::BlankCheck && value != 0x3FFF) {
            ShowError(QStringLiteral("Device not blank at $") + hex4s(a));
        } else if (code == ActionCode::Verify) {
            const bool differs = flash ? value != stored : (value & 0xFF) != (stored & 0xFF);
            if (differs)
                ShowError(QStringLiteral("Verify error at $") + hex4s(a) +
                          (flash ? QStringLiteral(" (Program Memory)")
                                 : QStringLiteral(" (Data Memory)")));
        }
        tx("I", 10);
    }
    done(memory, code);
}

}  // namespace kelvano
