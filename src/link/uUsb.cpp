#include "link/uUsb.h"

namespace kelvano {

namespace {
// The interface information record: pipe count at byte 12, 20-byte pipe records from 16.
constexpr int kInfoSize = 336;
constexpr int kPipeCountAt = 12;
constexpr int kPipesAt = 16;
constexpr int kPipeSize = 20;
constexpr int kEndpointInPipe = 2;
}  // namespace

bool TUsb::UsbOpen(const QString& name) {
    name_ = name;
    if (!backend_) return false;
    // A second open (connect while connected) starts from a closed device.
    backend_->closeDevice();
    info_.clear();
    for (int k = 0; k < 10; ++k) {
        if (backend_->openDevice(k)) return true;
    }
    return false;
}

void TUsb::UsbClose() {
    if (backend_) backend_->closeDevice();
    info_.clear();
}

bool TUsb::GetPipeInfo() {
    info_.clear();
    if (!backend_ || !backend_->isOpen()) return false;
    QByteArray info;
    if (!backend_->pipeInfo(info)) return false;
    // The record has a fixed size; a short answer is padded so that the pipe count and the
    // records are never read beyond what the driver filled.
    if (info.size() < kInfoSize) info.append(QByteArray(kInfoSize - info.size(), '\0'));
    info_ = info;
    return true;
}

int TUsb::pipeCount() const {
    if (info_.size() < kPipesAt) return 0;
    const auto* p = reinterpret_cast<const uchar*>(info_.constData()) + kPipeCountAt;
    const quint32 n =
        quint32(p[0]) | quint32(p[1]) << 8 | quint32(p[2]) << 16 | quint32(p[3]) << 24;
    // A count larger than the record can hold must not take the scan past its end.
    const quint32 fits = quint32((info_.size() - kPipesAt) / kPipeSize);
    return int(n < fits ? n : fits);
}

int TUsb::FindPipe(int endpoint) const {
    const int n = pipeCount();
    for (int i = 0; i < n; ++i) {
        if (uchar(info_.at(kPipesAt + kPipeSize * i + kEndpointInPipe)) == endpoint) return i;
    }
    return -1;
}

QString TUsb::GetStringDescriptor(int index) {
    if (!backend_ || !backend_->isOpen()) return {};
    QByteArray head;
    if (!backend_->stringDescriptor(index, 1, head) || head.isEmpty()) return {};
    const int length = uchar(head.at(0));
    if (length < 3) return {};
    QByteArray whole;
    if (!backend_->stringDescriptor(index, length, whole)) return {};
    QString text;
    // The low bytes of the 16-bit characters; a device that sends fewer bytes than it
    // announced gives the characters that did arrive.
    for (int i = 2; i < length && i < whole.size(); i += 2) text += QChar(uchar(whole.at(i)));
    return text;
}

bool TUsb::BulkWrite(int pipe, const QByteArray& bytes) {
    if (!backend_ || !backend_->isOpen() || pipe < 0) return false;
    return backend_->bulkWrite(pipe, bytes);
}

int TUsb::BulkRead(int pipe, uint8_t* buffer, int capacity) {
    if (!backend_ || !backend_->isOpen() || pipe < 0 || !buffer || capacity <= 0) return -1;
    const int n = backend_->bulkRead(pipe, buffer, capacity);
    return n < 0 ? -1 : (n > capacity ? capacity : n);
}

int TUsb::DrainIn(int pipe, int timeoutMs, int maxPackets) {
    if (!backend_ || !backend_->isOpen() || pipe < 0) return 0;
    uint8_t buffer[256];
    int dropped = 0;
    while (dropped < maxPackets && backend_->bulkReadWithin(pipe, buffer, 256, timeoutMs) >= 0)
        ++dropped;
    return dropped;
}

}  // namespace kelvano
