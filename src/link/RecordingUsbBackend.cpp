#include "link/RecordingUsbBackend.h"

namespace kelvano {

namespace {
QString okFail(bool ok) { return ok ? QStringLiteral("ok") : QStringLiteral("fail"); }
}  // namespace

bool RecordingUsbBackend::openDevice(int k) {
    const bool ok = inner_.openDevice(k);
    recorder_.event(QStringLiteral("usb-open"), QStringLiteral("%1 %2").arg(k).arg(okFail(ok)));
    return ok;
}

void RecordingUsbBackend::closeDevice() {
    recorder_.event(QStringLiteral("usb-close"));
    inner_.closeDevice();
}

bool RecordingUsbBackend::pipeInfo(QByteArray& info) {
    const bool ok = inner_.pipeInfo(info);
    recorder_.bytesEvent(QStringLiteral("usb-pipes"), okFail(ok), ok ? info : QByteArray());
    return ok;
}

bool RecordingUsbBackend::stringDescriptor(int index, int length, QByteArray& out) {
    const bool ok = inner_.stringDescriptor(index, length, out);
    recorder_.bytesEvent(QStringLiteral("usb-string"),
                         QStringLiteral("%1 %2 %3").arg(index).arg(length).arg(okFail(ok)),
                         ok ? out : QByteArray());
    return ok;
}

bool RecordingUsbBackend::bulkWrite(int pipe, const QByteArray& bytes) {
    const bool ok = inner_.bulkWrite(pipe, bytes);
    recorder_.bytesEvent(QStringLiteral("usb-out"),
                         QStringLiteral("%1 %2").arg(pipe).arg(okFail(ok)), bytes);
    return ok;
}

int RecordingUsbBackend::bulkRead(int pipe, uint8_t* buffer, int capacity) {
    return recordIn(pipe, buffer, capacity, inner_.bulkRead(pipe, buffer, capacity));
}

int RecordingUsbBackend::bulkReadWithin(int pipe, uint8_t* buffer, int capacity, int timeoutMs) {
    return recordIn(pipe, buffer, capacity,
                    inner_.bulkReadWithin(pipe, buffer, capacity, timeoutMs));
}

int RecordingUsbBackend::recordIn(int pipe, const uint8_t* buffer, int capacity, int n) {
    const QByteArray got =
        n > 0 ? QByteArray(reinterpret_cast<const char*>(buffer), qMin(n, capacity)) : QByteArray();
    recorder_.bytesEvent(QStringLiteral("usb-in"),
                         QStringLiteral("%1 %2 %3")
                             .arg(pipe)
                             .arg(capacity)
                             .arg(n < 0 ? QStringLiteral("fail") : QString::number(n)),
                         got);
    return n;
}

}  // namespace kelvano
