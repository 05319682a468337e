// The card's serial EEPROM: directly through the box on the cards that wire it to the box
// ("M3"), through a loader program in the controller on all others ("M4").
#include "actions/ActionTexts.h"
#include "actions/uActions.h"

namespace kelvano {

using namespace actiontext;

namespace {

QString loaderName(int deviceId) {
    switch (deviceId) {
        case 11: case 12: return QStringLiteral("DS9LOAD");
        case 15: return QStringLiteral("PICLOAD");
        case 22: case 23: return QStringLiteral("AVRLOAD");
        default: return QStringLiteral("FUNLOAD");
    }
}

QString missingLoader(const QString& name) {
    return QStringLiteral("The EEPROM loader \"%1\" is missing from the image store.").arg(name);
}

}  // namespace

void TActions::InstallAvrLoader() {
    // Checked before the erase: a card must not lose its program for a loader that can't
    // be installed.
    if (!serialOnly(usbNoEeprom())) return;
    const int id = deviceId();
    const QString name = loaderName(id);
    QByteArray image;
    if (!com_.store().LoadImage(name, image)) {
        ShowError(missingLoader(name));
        return;
    }

    EraseDevice();
    AvrIdentify(id, true);
    if (!aborted_) {
        SetActionTitle(ActionCode::Program);
        setLabel(QStringLiteral("INSTALLING LOADER"));
        tx("DLOAD", 10);
        const int last = static_cast<int>(image.size()) - 1;
        beginLoop(last);
        for (int i = 0; i <= last && !aborted_; ++i) {
            step(i + 1);
            const QByteArray op = (i % 2 == 0) ? "Y40" : "Y48";
            const uint8_t byte = static_cast<uint8_t>(image[i]);
            QByteArray reply;
            if (id == 31) {
                tx(op + hex4((i / 2) % 64) + hex2(byte), 50);
                if (i % 128 == 127 || i == last) {
                    tx("Y4C" + hex4((i / 2) & 0xFFC0) + "00", reply, 50);
                    clock_.sleepMs(20);
                    if (reply.size() != 4) ShowError(QStringLiteral("Error while writing program memory"));
                }
            } else {
                tx(op + hex4(i / 2) + hex2(byte), reply, 50);
                clock_.sleepMs(4);
                if (reply.size() != 4) ShowError(QStringLiteral("Error while uploading EEPROM loader"));
            }
        }
    }
    if (aborted_) return;
    // Lock the card so that it starts the loader.
    if (id == 31) {
        tx("YACE000FC", 50);
        clock_.sleepMs(20);
        tx("YACA000F0", 50);
        clock_.sleepMs(20);
        tx("YACA800FF", 50);
        clock_.sleepMs(20);
    } else {
        tx("YACBF0000", 50);
        clock_.sleepMs(20);
        tx("YACF90000", 50);
        clock_.sleepMs(20);
        tx("M0", 500);
        clock_.sleepMs(20);
        tx("M5", 500);
    }
}

void TActions::InstallPicLoader() {
    if (!serialOnly(usbNoEeprom())) return;
    const QString name = loaderName(deviceId());
    QByteArray image;
    if (!com_.store().LoadImage(name, image)) {
        ShowError(missingLoader(name));
        return;
    }

    EraseDevice();
    if (aborted_) return;
    SetActionTitle(ActionCode::Program);
    setLabel(QStringLiteral("INSTALLING LOADER"));
    tx("M2", 500);
    tx("DLOAD", 10);
    const int last = static_cast<int>(image.size()) - 1;
    beginLoop(last);
    for (int i = 0; i <= last && !aborted_; i += 2) {
        step(i + 1);
        // An odd last byte is paired with a blank high half.
        const unsigned high = i + 1 <= last ? static_cast<uint8_t>(image[i + 1]) : 0x3F;
        const unsigned word = static_cast<uint8_t>(image[i]) + 256 * high;
        QByteArray reply;
        int value = 0;
        tx("L00" + hex4(word), reply, 30);
        if (!hexReply(reply, 4, value) || static_cast<unsigned>(value) != word)
            ShowError(QStringLiteral("Error while uploading EEPROM loader"));
        tx("I", 10);
    }
    if (aborted_) return;
    tx("M2", 500);
    tx("P003FFF", 10);
    for (int k = 0; k < 7; ++k) tx("I", 10);
    tx(isPic876(deviceId()) ? "L000D09" : "L000001", 30);
}

// Common start of the loader's EEPROM loops: "M4" must be answered "load" by the loader.
bool TActions::startLoaderEeprom() {
    QByteArray reply;
    tx("M4", reply, 500);
    if (reply != "load") {
        ShowError(QStringLiteral("EEPROM loader doesn't work"));
        return false;
    }
    sendLabel("EEP:");
    beginLoop(devices_.EepBuf.length() - 1);
    return true;
}

// The loader answers every X or Q with two hex digits; a miss is retried at once, six tries.
bool TActions::loaderExchange(const QByteArray& command, int wait, int& value) {
    QByteArray reply;
    for (int attempt = 0; attempt < 6; ++attempt) {
        tx(command, reply, wait);
        if (hexReply(reply, 2, value)) return true;
    }
    return false;
}

void TActions::LoaderWriteEeprom() {
    if (!serialOnly(usbNoEeprom())) return;
    setLabel(QStringLiteral("EEPROM MEMORY"));
    if (!startLoaderEeprom()) return;
    TBufArray& buf = devices_.EepBuf;
    const int last = buf.length() - 1;
    for (int a = 0; a <= last && !aborted_; ++a) {
        step(a);
        sendAddressEvery16(a, last);
        const unsigned byte = buf[a] & 0xFF;
        int value = -1;
        if (!loaderExchange("X" + hex4(a) + hex2(byte), 100, value) ||
            static_cast<unsigned>(value) != byte)
            ShowError(QStringLiteral("Error while writing EEPROM Memory"));
    }
    done(Memory::ExternalEeprom, ActionCode::Program);
}

void TActions::LoaderReadEeprom() {
    if (!serialOnly(usbNoEeprom())) return;
    SetActionTitle(ActionCode::Read);
    setLabel(QStringLiteral("EEPROM MEMORY"));
    if (!startLoaderEeprom()) return;
    TBufArray& buf = devices_.EepBuf;
    const int last = buf.length() - 1;
    for (int a = 0; a <= last && !aborted_; ++a) {
        step(a);
        sendAddressEvery16(a, last);
        int value = 0;
        if (!loaderExchange("Q" + hex4(a), 50, value)) {
            ShowError(QStringLiteral("Error reading EEPROM Memory"));
            break;
        }
        buf[a] = static_cast<uint16_t>(value);
    }
    done(Memory::ExternalEeprom, ActionCode::Read);
}

void TActions::EepromOperation(ActionCode code) {
    SetActionTitle(code);
    setLabel(QStringLiteral("EEPROM MEMORY"));
    if (!serialOnly(usbNoEeprom())) return;
    tx("M3", 500);
    TBufArray& buf = devices_.EepBuf;
    const int last = buf.length() - 1;
    beginLoop(last);
    sendLabel("EEP:");
    const bool large = last > 2047;
    const QByteArray write = large ? "w" : "W";
    const QByteArray read = large ? "g" : "G";
    for (int a = 0; a <= last && !aborted_; ++a) {
        step(a);
        sendAddressEvery16(a, last);
        QByteArray reply;
        if (code == ActionCode::Program) {
            if (tx(write + hex4(a) + hex2(buf[a] & 0xFF), reply, 50) != 0)
                ShowError(QStringLiteral("Error while writing EEPROM Memory"));
            continue;
        }
        int value = 0;
        tx(read + hex4(a), reply, 10);
        if (!hexReply(reply, 2, value)) {
            ShowError(QStringLiteral("Error while reading EEPROM memory"));
            break;
        }
        if (code == ActionCode::Read) {
            buf[a] = static_cast<uint16_t>(value);
        } else if (code == ActionCode::Verify && value != (buf[a] & 0xFF)) {
            ShowError(QStringLiteral("Verify error at $") + hex4s(a) +
                      QStringLiteral(" (EEPROM Memory)"));
        }
    }
    done(Memory::ExternalEeprom, code);
}

}  // namespace kelvano
