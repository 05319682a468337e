#pragma once
#include "link/BoxInterface.h"

namespace kelvano {

// The box on the serial line: each operation is one command line handed to TCom::Transact
// ("@" + command out, a length-prefixed reply back) with the wait the box is allowed for it.
// This file is the one place that knows the command letters and the waits.
class BoxSerial final : public BoxInterface {
public:
    explicit BoxSerial(TCom& com) : com_(com) {}

    bool supports(BoxFeature) const override { return true; }
    CardPoll pollCard() override;
    bool display(Field field, const QByteArray& four, bool quick) override;
    BoxReply setMode(BoxMode mode) override;
    void closeAction() override;

    BoxReply avrInstruction(AvrInstruction in) override;
    BoxReply avrWrite(AvrInstruction in) override;

    BoxReply picLoad(bool dataMemory, uint16_t word) override;
    BoxReply picRead(bool dataMemory) override;
    bool picIncrement() override;
    bool picToConfiguration() override;
    BoxReply picBulkErase() override;
    BoxReply picDeviceId() override;

    BoxReply eepromRead(int address, bool wide) override;
    BoxReply eepromWrite(int address, uint8_t byte, bool wide) override;
    BoxReply loaderRead(int address) override;
    BoxReply loaderWrite(int address, uint8_t byte) override;
    bool loaderImage(const QString& name, QByteArray& image) const override;
    QString loaderRefusal(const QString& name, const QByteArray& image) const override;

    void reportLinkError(const PortError& error) override;
    void disconnect() override;

private:
    // One exchange; `digits` > 0: good when the reply is exactly that many hex digits.
    BoxReply exchange(const QByteArray& command, int wait, int digits);

    TCom& com_;
};

}  // namespace kelvano
