#pragma once
#include <deque>

#include "base/Clock.h"
#include "base/SerialPort.h"
#include "sim/SimLine.h"

namespace kelvano {

// Port "SIM": a serial line straight into a SimBox, timed by a Clock. A write hands the bytes
// to the box, which answers at once; each answer byte becomes available at a clock time
// (immediately by default, later with a late-first-byte fault or a line speed). With a
// VirtualClock every wait is an advance of virtual time, so tests run in microseconds and
// can assert the waits; with a RealClock it behaves like a line to a real box.
class SimSerialPort : public SerialPort {
public:
    SimSerialPort(SimLine& box, Clock& clock);

    // Any name opens (the box does not care); PortError::Open with code 2 once the link is
    // lost. A baud rate other than the box's 115200 leaves the box deaf: it sees only framing
    // errors and never answers.
    void open(const QString& name, int baud) override;
    void close() override;
    bool isOpen() const override { return open_; }
    // PortError::Write when closed (code 9) or when the link is lost (code 5).
    void write(const QByteArray& bytes) override;
    int readByte(int timeoutMs) override;
    // Discards the bytes that have arrived by now; bytes still on their way arrive later.
    void purge() override;
    void setRts(bool on) override;

    // Paces the box's answers (and the bytes written) at 10 bit times per byte; 0 = no delay.
    void setLineSpeed(int baud) { lineBaud_ = baud; }
    // Bytes queued for reading, arrived or not.
    int pendingBytes() const { return int(input_.size()); }
    QString portName() const { return name_; }

private:
    struct Pending {
        char byte;
        qint64 atUs;  // clock time (µs) at which the byte is there
    };
    void checkLink(int kind) const;
    qint64 nowUs() const { return clock_.nowMs() * 1000; }
    qint64 byteTimeUs() const { return lineBaud_ > 0 ? 10'000'000LL / lineBaud_ : 0; }

    SimLine& box_;
    Clock& clock_;
    bool open_ = false;
    bool deaf_ = false;
    QString name_;
    int lineBaud_ = 0;
    std::deque<Pending> input_;
};

}  // namespace kelvano
