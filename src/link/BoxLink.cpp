// makeBox: the box behind a TCom, serial or USB as the link is connected at each call.
#include "link/BoxSerial.h"
#include "link/BoxUsb.h"
#include "link/uCom.h"

namespace kelvano {

namespace {

class BoxLink final : public BoxInterface {
public:
    explicit BoxLink(TCom& com) : com_(com), serial_(com), usb_(com) {}

    bool supports(BoxFeature f) const override { return box().supports(f); }
    CardPoll pollCard() override { return box().pollCard(); }
    bool display(Field f, const QByteArray& four, bool quick) override {
        return box().display(f, four, quick);
    }
    BoxReply setMode(BoxMode mode) override { return box().setMode(mode); }
    void closeAction() override { box().closeAction(); }
    BoxReply avrInstruction(AvrInstruction in) override { return box().avrInstruction(in); }
    BoxReply avrWrite(AvrInstruction in) override { return box().avrWrite(in); }
    BoxReply picLoad(bool data, uint16_t word) override { return box().picLoad(data, word); }
    BoxReply picRead(bool data) override { return box().picRead(data); }
    bool picIncrement() override { return box().picIncrement(); }
    bool picToConfiguration() override { return box().picToConfiguration(); }
    BoxReply picBulkErase() override { return box().picBulkErase(); }
    BoxReply picDeviceId() override { return box().picDeviceId(); }
    BoxReply eepromRead(int a, bool wide) override { return box().eepromRead(a, wide); }
    BoxReply eepromWrite(int a, uint8_t b, bool wide) override {
        return box().eepromWrite(a, b, wide);
    }
    BoxReply loaderRead(int a) override { return box().loaderRead(a); }
    BoxReply loaderWrite(int a, uint8_t b) override { return box().loaderWrite(a, b); }
    bool loaderImage(const QString& name, QByteArray& image) const override {
        return box().loaderImage(name, image);
    }
    QString loaderRefusal(const QString& name, const QByteArray& image) const override {
        return box().loaderRefusal(name, image);
    }
    void reportLinkError(const PortError& e) override { box().reportLinkError(e); }
    void disconnect() override { box().disconnect(); }

private:
    BoxInterface& box() { return com_.UsbConnected ? static_cast<BoxInterface&>(usb_) : serial_; }
    const BoxInterface& box() const {
        return com_.UsbConnected ? static_cast<const BoxInterface&>(usb_) : serial_;
    }

    TCom& com_;
    BoxSerial serial_;
    BoxUsb usb_;
};

}  // namespace

std::unique_ptr<BoxInterface> makeBox(TCom& com) { return std::make_unique<BoxLink>(com); }

}  // namespace kelvano
