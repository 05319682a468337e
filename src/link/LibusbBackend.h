#pragma once
#include <QList>
#include <QPair>
#include <cstdint>
#include <vector>

#include "base/UsbBackend.h"

struct libusb_context;
struct libusb_device_handle;

namespace kelvano {

// The USB box through libusb-1.0. Device k is the k-th attached device (in the order libusb
// lists them) whose vendor and product id are known: the usual EZ-USB ids plus any given to
// the constructor. The pipe table lists the bulk endpoints of interface 0 in descriptor order.
// Every transfer has a time-out, so a box that stops answering cannot hang the window.
class LibusbBackend : public UsbBackend {
public:
    using UsbId = QPair<uint16_t, uint16_t>;  // vendor, product

    explicit LibusbBackend(const QList<UsbId>& extraIds = {});
    ~LibusbBackend() override;
    LibusbBackend(const LibusbBackend&) = delete;
    LibusbBackend& operator=(const LibusbBackend&) = delete;

    // The ids looked for, the built-in ones first.
    const QList<UsbId>& knownIds() const { return ids_; }
    static QList<UsbId> defaultIds();
    bool isKnown(uint16_t vendor, uint16_t product) const {
        return ids_.contains(UsbId{vendor, product});
    }

    // Time-out of every bulk and control transfer (default 2000 ms).
    void setTimeoutMs(int ms) { timeoutMs_ = ms > 0 ? ms : 1; }
    int timeoutMs() const { return timeoutMs_; }

    bool openDevice(int k) override;
    void closeDevice() override;
    bool isOpen() const override { return handle_ != nullptr; }
    bool pipeInfo(QByteArray& info) override;
    bool stringDescriptor(int index, int length, QByteArray& out) override;
    bool bulkWrite(int pipe, const QByteArray& bytes) override;
    int bulkRead(int pipe, uint8_t* buffer, int capacity) override;
    int bulkReadWithin(int pipe, uint8_t* buffer, int capacity, int timeoutMs) override;

private:
    struct Pipe {
        uint8_t address;
        uint16_t maxPacket;
    };
    bool readPipes();

    QList<UsbId> ids_;
    libusb_context* ctx_ = nullptr;
    libusb_device_handle* handle_ = nullptr;
    bool claimed_ = false;
    std::vector<Pipe> pipes_;
    int timeoutMs_ = 2000;
};

}  // namespace kelvano
