#pragma once
#include <memory>

#include "base/SerialPort.h"

namespace kelvano {

// A serial port that hands every call to another one; the benchmarks' ports derive from it
// and look at what passes.
class ForwardingPort : public SerialPort {
public:
    explicit ForwardingPort(std::unique_ptr<SerialPort> port) : port_(std::move(port)) {}
    void open(const QString& name, int baud) override { port_->open(name, baud); }
    void close() override { port_->close(); }
    bool isOpen() const override { return port_->isOpen(); }
    void write(const QByteArray& bytes) override { port_->write(bytes); }
    int readByte(int timeoutMs) override { return port_->readByte(timeoutMs); }
    void purge() override { port_->purge(); }
    void setRts(bool on) override { port_->setRts(on); }
    QString openRemark() const override { return port_->openRemark(); }

private:
    std::unique_ptr<SerialPort> port_;
};

}  // namespace kelvano
