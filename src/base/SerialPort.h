#pragma once
#include <QByteArray>
#include <QString>
#include <functional>
#include <memory>

namespace kelvano {

// What the link needs of a serial port. Implementations: the real port (QSerialPort), the
// simulated box (port "SIM"), scripted fakes in the tests. Every failure of the port itself
// throws PortError with the kind named below; a time-out is not a failure.
// The link calls every member from the user-interface thread, one call at a time.
class SerialPort {
public:
    virtual ~SerialPort() = default;

    // Opens the port named `name` with `baud` baud, 8 data bits, no parity, 1 stop bit, no
    // flow control of any kind, DTR and RTS low. Throws PortError::Open when the port cannot
    // be opened (system code 2 when it does not exist), SetState or Setup when it cannot be
    // configured.
    virtual void open(const QString& name, int baud) = 0;
    // Closes the port; safe to call when it is closed. Never throws.
    virtual void close() = 0;
    virtual bool isOpen() const = 0;

    // Writes every byte and returns when they are sent. Throws PortError::Write.
    virtual void write(const QByteArray& bytes) = 0;
    // Returns the next received byte (0..255) as soon as one is there, or -1 when none
    // arrived within timeoutMs. Throws PortError::Read when the port fails.
    virtual int readByte(int timeoutMs) = 0;
    // Discards everything in the input and output buffers. Throws PortError::Purge.
    virtual void purge() = 0;
    // Raises (true) or drops (false) RTS. Throws PortError::Escape.
    virtual void setRts(bool on) = 0;
    // A remark about the last open for the DEBUG memo (a setting the driver would not take,
    // such as low latency); empty when there is none. Never an error.
    virtual QString openRemark() const { return {}; }
};

// Makes the port object for a port name chosen by the user ("SIM", "/dev/ttyUSB0", ...).
using SerialPortFactory = std::function<std::unique_ptr<SerialPort>(const QString& name)>;

}  // namespace kelvano
