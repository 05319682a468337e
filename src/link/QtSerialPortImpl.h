#pragma once
#include <QSerialPort>
#include <memory>

#include "base/SerialPort.h"

namespace kelvano {

// The real serial port: opened and configured with QSerialPort (8N1, no flow control, DTR and
// RTS low); bytes move through the port's native handle with poll(), so that a single-byte
// read returns the moment the byte is there and gives up after its time-out.
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

    // True when the open port is a pseudo-terminal.
    bool isPseudoTerminal() const { return pty_; }

private:
    void setModemLine(int line, bool on, int kind);
    [[noreturn]] void fail(int kind, int code);

    QSerialPort port_;
    int fd_ = -1;
    bool pty_ = false;
};

// The port object of the application's factory for every name that is not the simulator.
std::unique_ptr<SerialPort> makeSystemSerialPort();

}  // namespace kelvano
