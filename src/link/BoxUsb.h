#pragma once
#include <array>

#include "link/BoxInterface.h"

namespace kelvano {

// The box on USB: each operation is one packet written to the command pipe and its reply read
// from the reply pipe. The USB model carries the card poll, the two modes of AVR programming
// and the AVR instructions of the AT90S cards; the PIC commands, the card's EEPROM (directly or
// through a loader), the ATmega page writes and fuse bytes and the display have no packet
// form: supports() says so, and those operations send nothing. This file is the one place
// that knows the packets.
class BoxUsb final : public BoxInterface {
public:
    explicit BoxUsb(TCom& com) : com_(com) {}

    bool supports(BoxFeature feature) const override;
    CardPoll pollCard() override;
    bool display(Field, const QByteArray&, bool) override { return true; }
    BoxReply setMode(BoxMode mode) override;
    void closeAction() override;

    BoxReply avrInstruction(AvrInstruction in) override;
    BoxReply avrWrite(AvrInstruction in) override;

    BoxReply picLoad(bool, uint16_t) override { return unsupported(); }
    BoxReply picRead(bool) override { return unsupported(); }
    bool picIncrement() override { return false; }
    bool picToConfiguration() override { return false; }
    BoxReply picBulkErase() override { return unsupported(); }
    BoxReply picDeviceId() override { return unsupported(); }

    BoxReply eepromRead(int, bool) override { return unsupported(); }
    BoxReply eepromWrite(int, uint8_t, bool) override { return unsupported(); }
    BoxReply loaderRead(int) override { return unsupported(); }
    BoxReply loaderWrite(int, uint8_t) override { return unsupported(); }
    bool loaderImage(const QString& name, QByteArray& image) const override;
    QString loaderRefusal(const QString& name, const QByteArray& image) const override;

    void reportLinkError(const PortError& error) override;
    void disconnect() override;

    // Whether an AVR instruction has a packet form.
    static bool hasPacket(AvrInstruction in);

private:
    static BoxReply unsupported() {
        BoxReply r;
        r.supported = false;
        return r;
    }
    // One packet out, its reply into reply_; the number of reply bytes, -1 when it failed.
    int packet(const QByteArray& bytes);

    TCom& com_;
    std::array<uint8_t, 256> reply_{};
};

}  // namespace kelvano
