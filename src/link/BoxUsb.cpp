// The USB packets of the box, as the actions use them: 01 mode, 04 AVR instruction,
// 05 card state, 06 03 after a memory write.
#include "link/BoxUsb.h"

#include "base/PortError.h"
#include "link/uCom.h"

namespace kelvano {

namespace {
QString hex2(unsigned v) { return QString::number(v & 0xFF, 16).toUpper().rightJustified(2, u'0'); }
}  // namespace

bool BoxUsb::supports(BoxFeature feature) const { return feature == BoxFeature::AvrInstructions; }

bool BoxUsb::hasPacket(AvrInstruction in) {
    if (in.b1 == 0x4C || in.b1 == 0x50) return false;  // page write, fuse low read
    if (in.b1 == 0x58 && in.b2 == 0x08) return false;  // fuse high read
    if (in.b1 == 0xAC && (in.b2 == 0xE0 || in.b2 == 0xA0 || in.b2 == 0xA8)) return false;
    return true;
}

int BoxUsb::packet(const QByteArray& bytes) {
    TUsb& usb = com_.usb();
    if (!usb.BulkWrite(com_.PipeOut, bytes)) return -1;
    return usb.BulkRead(com_.PipeIn, reply_.data(), static_cast<int>(reply_.size()));
}

CardPoll BoxUsb::pollCard() {
    const int count = packet(QByteArray(1, '\x05'));
    CardPoll poll;
    // A failed transfer is a box that does not answer; a reply of another length only says
    // that there is no card.
    poll.answered = count >= 0;
    poll.state = count == 1 ? reply_[0] : -1;
    return poll;
}

BoxReply BoxUsb::setMode(BoxMode mode) {
    if (mode != BoxMode::Idle && mode != BoxMode::Avr) return unsupported();
    BoxReply r;
    r.answered = r.good = packet(QByteArray::fromHex(mode == BoxMode::Idle ? "0100" : "0102")) >= 0;
    return r;
}

void BoxUsb::closeAction() { packet(QByteArray::fromHex("0100")); }

BoxReply BoxUsb::avrInstruction(AvrInstruction in) {
    if (!hasPacket(in)) return unsupported();
    QByteArray bytes(5, '\x04');
    bytes[1] = static_cast<char>(in.b1);
    bytes[2] = static_cast<char>(in.b2);
    bytes[3] = static_cast<char>(in.b3);
    bytes[4] = static_cast<char>(in.b4);
    const int count = packet(bytes);
    BoxReply r;
    r.answered = count >= 0;
    if (count >= 2) {
        r.good = reply_[0] == in.b2;
        r.value = reply_[1];
        r.text = hex2(reply_[0]) + hex2(reply_[1]);
    }
    return r;
}

BoxReply BoxUsb::avrWrite(AvrInstruction in) {
    BoxReply r = avrInstruction(in);
    if (r.supported) packet(QByteArray::fromHex("0603"));
    return r;
}

bool BoxUsb::loaderImage(const QString& name, QByteArray& image) const {
    return com_.store().LoadImage(name, image);
}

QString BoxUsb::loaderRefusal(const QString& name, const QByteArray& image) const {
    return com_.loaderRefusal(name, image);
}

void BoxUsb::reportLinkError(const PortError& error) { com_.ReportLinkError(error); }

void BoxUsb::disconnect() {
    try {
        com_.Disconnect();
    } catch (...) {
    }
}

}  // namespace kelvano
