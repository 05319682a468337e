#include "sim/SimUsbBackend.h"

#include <cstring>

namespace kelvano {

namespace {

struct PipeRecord {
    uint16_t maxPacket;
    uint8_t endpoint;
    uint8_t type;  // 2 bulk, 3 interrupt
};

constexpr PipeRecord kPipes[] = {{8, 0x81, 3}, {64, 0x02, 2}, {64, 0x82, 2}};

}  // namespace

SimUsbBackend::SimUsbBackend(SimBox& box) : box_(box) {}

bool SimUsbBackend::openDevice(int k) {
    if (k < 0 || k > 9 || k != present_ || box_.model() != SimBox::Model::Usb || box_.linkLost())
        return false;
    openIndex_ = k;
    replies_.clear();
    return true;
}

void SimUsbBackend::closeDevice() {
    openIndex_ = -1;
    replies_.clear();
}

bool SimUsbBackend::pipeInfo(QByteArray& info) {
    if (!isOpen() || box_.linkLost()) return false;
    info = QByteArray(336, '\0');
    const int count = int(std::size(kPipes));
    info[12] = char(count);
    for (int i = 0; i < count; ++i) {
        const int at = 16 + 20 * i;
        info[at] = char(kPipes[i].maxPacket & 0xFF);
        info[at + 1] = char(kPipes[i].maxPacket >> 8);
        info[at + 2] = char(kPipes[i].endpoint);
        info[at + 3] = char(kPipes[i].type);
    }
    return true;
}

bool SimUsbBackend::stringDescriptor(int index, int length, QByteArray& out) {
    if (!isOpen() || box_.linkLost() || length <= 0) return false;
    QString text;
    if (index == 1)
        text = "STRAVINEX";
    else if (index == 2)
        text = box_.usbName();
    else
        return false;
    QByteArray descriptor;
    descriptor += char(2 + 2 * text.size());
    descriptor += char(3);
    for (QChar c : text) {
        descriptor += char(c.unicode() & 0xFF);
        descriptor += char(c.unicode() >> 8);
    }
    out = descriptor.left(length);
    return true;
}

bool SimUsbBackend::bulkWrite(int pipe, const QByteArray& bytes) {
    if (!isOpen() || pipe != kPipeOut || box_.linkLost()) return false;
    // The box keeps one answer buffer: a new packet replaces an answer nobody fetched, as the
    // program's connect sends "01 00" twice and reads only the second answer.
    if (!queued_) replies_.clear();
    if (std::optional<QByteArray> reply = box_.receiveUsb(bytes)) replies_.push_back(*reply);
    return !box_.linkLost();
}

int SimUsbBackend::bulkRead(int pipe, uint8_t* buffer, int capacity) {
    if (!isOpen() || pipe != kPipeIn || box_.linkLost() || replies_.empty()) return -1;
    const QByteArray reply = replies_.front();
    replies_.pop_front();
    const int n = std::min(capacity, int(reply.size()));
    if (n > 0) std::memcpy(buffer, reply.constData(), size_t(n));
    return n;
}

}  // namespace kelvano
