#pragma once
#include "base/UsbBackend.h"
#include "link/RecordingTranscript.h"

namespace kelvano {

// A UsbBackend that passes every request to the backend it wraps and, while `recorder`
// records, writes the request and its result to the transcript: usb-open, usb-close,
// usb-pipes, usb-string, usb-out (a packet sent) and usb-in (the reply).
class RecordingUsbBackend : public UsbBackend {
public:
    RecordingUsbBackend(UsbBackend& inner, TranscriptRecorder& recorder)
        : inner_(inner), recorder_(recorder) {}

    bool openDevice(int k) override;
    void closeDevice() override;
    bool isOpen() const override { return inner_.isOpen(); }
    bool pipeInfo(QByteArray& info) override;
    bool stringDescriptor(int index, int length, QByteArray& out) override;
    bool bulkWrite(int pipe, const QByteArray& bytes) override;
    int bulkRead(int pipe, uint8_t* buffer, int capacity) override;
    int bulkReadWithin(int pipe, uint8_t* buffer, int capacity, int timeoutMs) override;

private:
    // Writes the usb-in line of a read that returned `n`; returns `n`.
    int recordIn(int pipe, const uint8_t* buffer, int capacity, int n);

    UsbBackend& inner_;
    TranscriptRecorder& recorder_;
};

}  // namespace kelvano
