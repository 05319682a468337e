#include "sim/SimSerialPort.h"

#include "base/PortError.h"

namespace kelvano {

namespace {
constexpr int kBoxBaud = 115200;
constexpr int kNoSuchFile = 2;
constexpr int kBadHandle = 9;
constexpr int kIoError = 5;
}  // namespace

SimSerialPort::SimSerialPort(SimLine& box, Clock& clock) : box_(box), clock_(clock) {}

void SimSerialPort::open(const QString& name, int baud) {
    if (box_.linkLost()) throw PortError(PortError::Open, kNoSuchFile, name);
    name_ = name;
    deaf_ = baud != kBoxBaud;
    input_.clear();
    open_ = true;
}

void SimSerialPort::close() {
    open_ = false;
    input_.clear();
}

void SimSerialPort::checkLink(int kind) const {
    if (!open_) throw PortError(kind, kBadHandle, name_);
    if (box_.linkLost()) throw PortError(kind, kIoError, name_);
}

void SimSerialPort::write(const QByteArray& bytes) {
    checkLink(PortError::Write);
    // The write returns when the last byte has left; the box acts on the complete bytes.
    const qint64 sendUs = byteTimeUs() * bytes.size();
    if (sendUs > 0) clock_.sleepMs(int((sendUs + 999) / 1000));
    if (deaf_) return;
    const QList<SimLine::Output> answers = box_.receiveSerial(bytes);
    if (box_.linkLost()) throw PortError(PortError::Write, kIoError, name_);
    qint64 at = nowUs();
    if (!input_.empty()) at = std::max(at, input_.back().atUs);
    for (const SimLine::Output& answer : answers) {
        at += qint64(answer.delayMs) * 1000;
        for (char c : answer.bytes) {
            at += byteTimeUs();
            input_.push_back(Pending{c, at});
        }
    }
}

int SimSerialPort::readByte(int timeoutMs) {
    checkLink(PortError::Read);
    if (!input_.empty()) {
        const Pending next = input_.front();
        const qint64 waitUs = next.atUs - nowUs();
        if (waitUs <= 0 || waitUs <= qint64(timeoutMs) * 1000) {
            if (waitUs > 0) clock_.sleepMs(int((waitUs + 999) / 1000));
            input_.pop_front();
            return uchar(next.byte);
        }
    }
    clock_.sleepMs(timeoutMs);
    return -1;
}

void SimSerialPort::purge() {
    checkLink(PortError::Purge);
    const qint64 now = nowUs();
    while (!input_.empty() && input_.front().atUs <= now) input_.pop_front();
}

void SimSerialPort::setRts(bool) { checkLink(PortError::Escape); }

}  // namespace kelvano
