#pragma once
#include <QByteArray>
#include <QString>
#include <cstdint>
#include <memory>

#include "base/UsbBackend.h"

namespace kelvano {

// The USB transport of the QXUSB box, over a UsbBackend (libusb, the simulated box, fakes).
class TUsb {
public:
    explicit TUsb(UsbBackend* backend = nullptr) : backend_(backend) {}
    void setBackend(UsbBackend* backend) { backend_ = backend; }
    UsbBackend* backend() const { return backend_; }

    // Opens the first of the boxes 0 to 9 that opens. `name` is kept for the messages only.
    bool UsbOpen(const QString& name);
    void UsbClose();
    bool GetPipeInfo();
    // Lowest pipe index with that endpoint address, -1 when none.
    int FindPipe(int endpoint) const;
    // The descriptor's text (the low bytes of its characters); empty when it cannot be read.
    QString GetStringDescriptor(int index);
    bool BulkWrite(int pipe, const QByteArray& bytes);
    // Bytes received, or -1.
    int BulkRead(int pipe, uint8_t* buffer, int capacity);

private:
    UsbBackend* backend_;
    QByteArray info_;  // interface information of the last GetPipeInfo
};

}  // namespace kelvano
