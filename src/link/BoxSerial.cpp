// The serial command lines of the box, as the actions use them (waits in units of 3 ms).
#include "link/BoxSerial.h"

#include "base/PortError.h"
#include "link/uCom.h"

namespace kelvano {

namespace {

QByteArray hex(unsigned v, int digits) {
    return QByteArray::number(v, 16).toUpper().rightJustified(digits, '0').right(digits);
}

// The value of a reply of exactly `digits` hex digits; false for anything else, so that no
// value is made up from garbage.
bool hexValue(const QByteArray& reply, int digits, int& value) {
    if (reply.size() != digits) return false;
    int v = 0;
    for (char c : reply) {
        int d;
        if (c >= '0' && c <= '9')
            d = c - '0';
        else if (c >= 'A' && c <= 'F')
            d = c - 'A' + 10;
        else if (c >= 'a' && c <= 'f')
            d = c - 'a' + 10;
        else
            return false;
        v = v * 16 + d;
    }
    value = v;
    return true;
}

// Waits of the AVR instructions: Programming Enable 200, Chip Erase 500, the memory reads
// 10, everything else 50.
int avrWait(AvrInstruction in) {
    if (in.b1 == 0xAC && in.b2 == 0x53) return 200;
    if (in.b1 == 0xAC && in.b2 == 0x80) return 500;
    if (in.b1 == 0x28 || in.b1 == 0x20 || in.b1 == 0xA0) return 10;
    return 50;
}

QByteArray avrCommand(AvrInstruction in) {
    return "Y" + hex(in.b1, 2) + hex(in.b2, 2) + hex(in.b3, 2) + hex(in.b4, 2);
}

}  // namespace

BoxReply BoxSerial::exchange(const QByteArray& command, int wait, int digits) {
    QByteArray reply;
    BoxReply r;
    r.answered = com_.Transact(command, reply, wait) != -1;
    r.text = QString::fromLatin1(reply);
    if (digits > 0)
        r.good = hexValue(reply, digits, r.value);
    else
        r.good = r.answered;
    return r;
}

CardPoll BoxSerial::pollCard() {
    QByteArray reply;
    CardPoll poll;
    poll.answered = com_.Transact("K", reply, 20) != -1;
    bool ok = false;
    const int state = reply.trimmed().toInt(&ok, 10);
    if (poll.answered && ok) poll.state = state;
    return poll;
}

bool BoxSerial::display(Field field, const QByteArray& four, bool quick) {
    if (field == Field::Label && com_.IsQxBase) return true;
    return com_.Transact((field == Field::Label ? "d" : "D") + four, quick ? 0 : 10) != -1;
}

BoxReply BoxSerial::setMode(BoxMode mode) {
    BoxReply r = exchange("M" + QByteArray::number(static_cast<int>(mode)), 500, 0);
    if (mode == BoxMode::Loader) r.good = r.text == QLatin1String("load");
    return r;
}

void BoxSerial::closeAction() {
    if (!com_.portOpen()) return;
    try {
        com_.Transact("M0", 500);
        com_.Transact("D----", 0);
        if (!com_.IsQxBase) com_.Transact("d    ", 0);
    } catch (...) {
    }
}

BoxReply BoxSerial::avrInstruction(AvrInstruction in) {
    BoxReply r = exchange(avrCommand(in), avrWait(in), 4);
    r.value &= 0xFF;
    return r;
}

BoxReply BoxSerial::avrWrite(AvrInstruction in) {
    BoxReply r = exchange(avrCommand(in), 50, 0);
    com_.clock().sleepMs(4);
    r.good = r.text.size() == 4;
    return r;
}

BoxReply BoxSerial::picLoad(bool dataMemory, uint16_t word) {
    return exchange((dataMemory ? "L01" : "L00") + hex(word, 4), 30, 4);
}

BoxReply BoxSerial::picRead(bool dataMemory) { return exchange(dataMemory ? "R05" : "R04", 10, 4); }

bool BoxSerial::picIncrement() { return com_.Transact("I", 10) != -1; }

bool BoxSerial::picToConfiguration() { return com_.Transact("P003FFF", 10) != -1; }

BoxReply BoxSerial::picBulkErase() {
    QByteArray reply;
    BoxReply r;
    const int length = com_.Transact("ErA", reply, 500);
    r.answered = length != -1;
    r.good = r.answered && length != 255;  // 255: refused
    return r;
}

// "P003FFF" puts the counter on the first ID location (2000); six increments reach 2006.
BoxReply BoxSerial::picDeviceId() {
    picToConfiguration();
    for (int i = 0; i < 6; ++i) picIncrement();
    return picRead(false);
}

BoxReply BoxSerial::eepromRead(int address, bool wide) {
    return exchange((wide ? "g" : "G") + hex(unsigned(address), 4), 10, 2);
}

BoxReply BoxSerial::eepromWrite(int address, uint8_t byte, bool wide) {
    QByteArray reply;
    BoxReply r;
    const int length =
        com_.Transact((wide ? "w" : "W") + hex(unsigned(address), 4) + hex(byte, 2), reply, 50);
    r.answered = length != -1;
    r.good = length == 0;
    return r;
}

BoxReply BoxSerial::loaderRead(int address) {
    return exchange("Q" + hex(unsigned(address), 4), 50, 2);
}

BoxReply BoxSerial::loaderWrite(int address, uint8_t byte) {
    return exchange("X" + hex(unsigned(address), 4) + hex(byte, 2), 100, 2);
}

bool BoxSerial::loaderImage(const QString& name, QByteArray& image) const {
    return com_.store().LoadImage(name, image);
}

QString BoxSerial::loaderRefusal(const QString& name, const QByteArray& image) const {
    return com_.loaderRefusal(name, image);
}

void BoxSerial::reportLinkError(const PortError& error) { com_.ReportLinkError(error); }

void BoxSerial::disconnect() {
    try {
        com_.Disconnect();
    } catch (...) {
    }
}

}  // namespace kelvano
