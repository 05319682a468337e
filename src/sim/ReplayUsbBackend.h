#pragma once
#include <QString>

#include "base/UsbBackend.h"
#include "sim/ReplayScript.h"

namespace kelvano {

// Plays the USB box's side of a recorded USB transcript: every request of the driver must be
// the next one the transcript holds (the same request, device index, pipe, descriptor index
// and length, read capacity, and for a packet written the same bytes); it then returns what
// the box returned at the time. The first request that differs is a departure: it is
// reported with the transcript's line, and that request and every one after it fail, as with
// a box that went away.
class ReplayUsbBackend : public UsbBackend {
public:
    explicit ReplayUsbBackend(ReplayScript script);

    bool openDevice(int k) override;
    void closeDevice() override;
    bool isOpen() const override { return open_; }
    bool pipeInfo(QByteArray& info) override;
    bool stringDescriptor(int index, int length, QByteArray& out) override;
    bool bulkWrite(int pipe, const QByteArray& bytes) override;
    int bulkRead(int pipe, uint8_t* buffer, int capacity) override;

    bool failed() const { return failed_; }
    // Every request of the transcript was made.
    bool finished() const { return !failed_ && next_ == script_.usbItems.size(); }
    // "line N: ..." for the departure, or for the request the program did not make when it
    // stopped before the end; empty when the transcript was played to its end.
    QString report() const;
    int departureLine() const { return departureLine_; }

private:
    using Item = ReplayScript::UsbItem;
    // The next item when it is the request described (kind, numbers and, for a packet
    // written, its bytes), else nullptr after noting the departure.
    const Item* take(Item::Kind kind, int a = 0, int b = 0, const QByteArray& bytes = {});
    void depart(const QString& text, int line);

    ReplayScript script_;
    qsizetype next_ = 0;
    bool open_ = false;
    bool failed_ = false;
    int departureLine_ = 0;
    QString departure_;
};

}  // namespace kelvano
