#pragma once
#include <QByteArray>
#include <QString>
#include <cstdint>
#include <memory>

#include "base/UsbBackend.h"

namespace kelvano {

// The USB transport of the QXUSB box, over a UsbBackend (libusb, the simulated box, fakes).
// Nothing here throws; every request reports failure by its result. Without a backend every
// request fails.
class TUsb {
public:
    explicit TUsb(UsbBackend* backend = nullptr) : backend_(backend) {}
    void setBackend(UsbBackend* backend) { backend_ = backend; }
    UsbBackend* backend() const { return backend_; }

    // Opens the first of the boxes 0 to 9 that opens (closing any device opened before).
    // `name` is kept for the messages only.
    bool UsbOpen(const QString& name);
    // Closes the device if it is open; a second call does nothing.
    void UsbClose();
    // Reads the interface information record (the pipe table) of the open device.
    bool GetPipeInfo();
    // Pipes in the record of the last GetPipeInfo (0 before one succeeded).
    int pipeCount() const;
    // Lowest pipe index with that endpoint address, -1 when none.
    int FindPipe(int endpoint) const;
    // The descriptor's text (the low bytes of its characters); empty when it cannot be read.
    QString GetStringDescriptor(int index);
    bool BulkWrite(int pipe, const QByteArray& bytes);
    // Reads one reply of at most `capacity` bytes. Bytes received, or -1.
    int BulkRead(int pipe, uint8_t* buffer, int capacity);
    // Reads and drops the replies waiting on the pipe, each awaited at most timeoutMs, at most
    // maxPackets of them. Returns how many were dropped.
    int DrainIn(int pipe, int timeoutMs, int maxPackets = 8);

    const QString& deviceName() const { return name_; }

private:
    UsbBackend* backend_;
    QString name_;
    QByteArray info_;  // interface information of the last GetPipeInfo
};

}  // namespace kelvano
