#pragma once
#include <QSerialPort>
#include <memory>

#include "base/SerialPort.h"

namespace kelvano {

// The real serial port: opened and configured with QSerialPort (8N1, no flow control, DTR and
// RTS low); bytes move through the port's native handle with poll(), so that a single-byte
// read returns the moment the byte is there and gives up after its time-out.
//
// Latency: at open the driver is asked for low latency (ASYNC_LOW_LATENCY: a USB-serial
// adapter then hands on received bytes at once instead of after its latency timer); a driver
// that will not is named in openRemark(). A write returns once the bytes are with the driver,
// without waiting for them to drain: the next read's wait starts only when they have crossed
// the line at the port's speed, so a reply is never given up early. Reads take whatever has
// arrived in one call and hand it out byte by byte.
//
// A pseudo-terminal (kelvano-boxsim) has no modem lines: changing DTR or RTS there fails with
// ENOTTY, which is not reported. On a real port every failure is.
class QtSerialPortImpl : public SerialPort {
public:
    QtSerialPortImpl();
    ~QtSerialPortImpl() override;

    void open(const QString& name, int baud) override;
    void close() override;
    bool isOpen() const override;
    void write(const QByteArray& bytes) override;
    int readByte(int timeoutMs) override;
    void purge() override;
    void setRts(bool on) override;
    QString openRemark() const override { return remark_; }

    // True when the open port is a pseudo-terminal.
    bool isPseudoTerminal() const { return pty_; }
    // System calls made to read, since the port opened (for tests and measurements).
    qint64 readCalls() const { return readCalls_; }

private:
    void setModemLine(int line, bool on, int kind);
    void askLowLatency();
    // Waits until bytes can be read or deadlineUs passes; false on the time-out.
    bool fill(qint64 deadlineUs);
    // Bytes written but not yet sent by the driver; -1 when it cannot tell.
    qsizetype queuedOut() const;
    // Moves the end of the line's sending on by `written` bytes, bounded by what it holds.
    void noteQueued(qsizetype written);
    [[noreturn]] void fail(int kind, int code);

    QSerialPort port_;
    int fd_ = -1;
    bool pty_ = false;
    QString remark_;
    QString name_;         // as the caller named it (QSerialPort keeps only the last part)
    qint64 byteUs_ = 0;    // line time of one byte (10 bit times)
    qint64 txDoneUs_ = 0;  // when the bytes written so far have left the port
    QByteArray in_;        // received, not yet handed out from inPos_
    qsizetype inPos_ = 0;
    qint64 readCalls_ = 0;
};

// The port object of the application's factory for every name that is not the simulator.
std::unique_ptr<SerialPort> makeSystemSerialPort();

}  // namespace kelvano
