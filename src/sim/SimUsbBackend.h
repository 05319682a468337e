#pragma once
#include <deque>

#include "base/UsbBackend.h"
#include "sim/SimBox.h"

namespace kelvano {

// The USB face of a SimBox of model Usb: one box attached as device 0 (settable), a pipe
// table of three pipes (0: interrupt endpoint 0x81, 1: bulk out 0x02, 2: bulk in 0x82),
// string descriptor 1 "STRAVINEX", 2 the box's name. A packet written on the out pipe is
// answered at once; the answer waits for a bulk read on the in pipe (in one answer buffer, or
// in a queue, see setQueuedReplies). There is no clock here:
// a read with no answer waiting fails at once, as a driver time-out would.
class SimUsbBackend : public UsbBackend {
public:
    explicit SimUsbBackend(SimBox& box);

    // Which device index (0..9) the box appears at; -1: no box attached.
    void setPresentDevice(int k) { present_ = k; }
    int openedDevice() const { return openIndex_; }
    // False (default): the box keeps one answer buffer, a new packet replaces an answer nobody
    // fetched. True: answers queue up on the in pipe and each read takes the oldest.
    void setQueuedReplies(bool queued) { queued_ = queued; }
    bool queuedReplies() const { return queued_; }
    int pendingReplies() const { return int(replies_.size()); }

    bool openDevice(int k) override;
    void closeDevice() override;
    bool isOpen() const override { return openIndex_ >= 0; }
    bool pipeInfo(QByteArray& info) override;
    bool stringDescriptor(int index, int length, QByteArray& out) override;
    bool bulkWrite(int pipe, const QByteArray& bytes) override;
    int bulkRead(int pipe, uint8_t* buffer, int capacity) override;

    static constexpr int kPipeOut = 1;
    static constexpr int kPipeIn = 2;

private:
    SimBox& box_;
    int present_ = 0;
    int openIndex_ = -1;
    bool queued_ = false;
    std::deque<QByteArray> replies_;
};

}  // namespace kelvano
