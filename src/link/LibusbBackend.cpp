#include "link/LibusbBackend.h"

#include <libusb.h>

namespace kelvano {

namespace {
constexpr int kInfoSize = 336;
constexpr int kMaxPipes = (kInfoSize - 16) / 20;
}  // namespace

QList<LibusbBackend::UsbId> LibusbBackend::defaultIds() {
    return {
        {0x0547, 0x2131},  // EZ-USB (AN2131), as the box leaves the factory
        {0x0547, 0x2235},  // EZ-USB FX (AN2235)
        {0x0547, 0x2236},  // EZ-USB FX (AN2236)
        {0x04B4, 0x8613},  // EZ-USB FX2 (CY7C68013)
    };
}

LibusbBackend::LibusbBackend(const QList<UsbId>& extraIds) : ids_(defaultIds()) {
    for (const UsbId& id : extraIds)
        if (!ids_.contains(id)) ids_.append(id);
    if (libusb_init(&ctx_) != 0) ctx_ = nullptr;
}

LibusbBackend::~LibusbBackend() {
    closeDevice();
    if (ctx_) libusb_exit(ctx_);
}

bool LibusbBackend::openDevice(int k) {
    closeDevice();
    if (!ctx_ || k < 0) return false;
    libusb_device** list = nullptr;
    const ssize_t count = libusb_get_device_list(ctx_, &list);
    if (count < 0) return false;
    int seen = 0;
    for (ssize_t i = 0; i < count; ++i) {
        libusb_device_descriptor desc{};
        if (libusb_get_device_descriptor(list[i], &desc) != 0) continue;
        if (!isKnown(desc.idVendor, desc.idProduct)) continue;
        if (seen++ != k) continue;
        if (libusb_open(list[i], &handle_) != 0) handle_ = nullptr;
        break;
    }
    libusb_free_device_list(list, 1);
    if (!handle_) return false;

    libusb_set_auto_detach_kernel_driver(handle_, 1);
    claimed_ = libusb_claim_interface(handle_, 0) == 0;
    if (!claimed_ || !readPipes()) {
        closeDevice();
        return false;
    }
    return true;
}

bool LibusbBackend::readPipes() {
    pipes_.clear();
    libusb_config_descriptor* config = nullptr;
    if (libusb_get_active_config_descriptor(libusb_get_device(handle_), &config) != 0) return false;
    if (config->bNumInterfaces > 0 && config->interface[0].num_altsetting > 0) {
        const libusb_interface_descriptor& alt = config->interface[0].altsetting[0];
        for (int e = 0; e < alt.bNumEndpoints && int(pipes_.size()) < kMaxPipes; ++e) {
            const libusb_endpoint_descriptor& ep = alt.endpoint[e];
            if ((ep.bmAttributes & LIBUSB_TRANSFER_TYPE_MASK) != LIBUSB_TRANSFER_TYPE_BULK)
                continue;
            pipes_.push_back({ep.bEndpointAddress, ep.wMaxPacketSize});
        }
    }
    libusb_free_config_descriptor(config);
    return true;
}

void LibusbBackend::closeDevice() {
    if (!handle_) return;
    if (claimed_) libusb_release_interface(handle_, 0);
    claimed_ = false;
    libusb_close(handle_);
    handle_ = nullptr;
    pipes_.clear();
}

bool LibusbBackend::pipeInfo(QByteArray& info) {
    if (!handle_) return false;
    info = QByteArray(kInfoSize, '\0');
    const auto n = quint32(pipes_.size());
    for (int b = 0; b < 4; ++b) info[12 + b] = char((n >> (8 * b)) & 0xFF);
    for (size_t i = 0; i < pipes_.size(); ++i) {
        const qsizetype at = 16 + 20 * static_cast<qsizetype>(i);
        info[at] = char(pipes_[i].maxPacket & 0xFF);
        info[at + 1] = char(pipes_[i].maxPacket >> 8);
        info[at + 2] = char(pipes_[i].address);
        info[at + 3] = char(LIBUSB_TRANSFER_TYPE_BULK);
    }
    return true;
}

bool LibusbBackend::stringDescriptor(int index, int length, QByteArray& out) {
    if (!handle_ || index < 0 || index > 255 || length <= 0 || length > 255) return false;
    unsigned char buf[255];
    const int r = libusb_control_transfer(
        handle_,
        uint8_t(int(LIBUSB_ENDPOINT_IN) | int(LIBUSB_REQUEST_TYPE_STANDARD) |
                int(LIBUSB_RECIPIENT_DEVICE)),
        LIBUSB_REQUEST_GET_DESCRIPTOR, uint16_t((LIBUSB_DT_STRING << 8) | index), 0, buf,
        uint16_t(length), unsigned(timeoutMs_));
    if (r < 0) return false;
    out = QByteArray(reinterpret_cast<const char*>(buf), r);
    return true;
}

bool LibusbBackend::bulkWrite(int pipe, const QByteArray& bytes) {
    if (!handle_ || pipe < 0 || size_t(pipe) >= pipes_.size()) return false;
    const uint8_t ep = pipes_[size_t(pipe)].address;
    if (ep & LIBUSB_ENDPOINT_IN) return false;
    int done = 0;
    QByteArray copy = bytes;
    const int r = libusb_bulk_transfer(handle_, ep, reinterpret_cast<unsigned char*>(copy.data()),
                                       int(copy.size()), &done, unsigned(timeoutMs_));
    return r == 0 && done == copy.size();
}

int LibusbBackend::bulkRead(int pipe, uint8_t* buffer, int capacity) {
    return bulkReadWithin(pipe, buffer, capacity, timeoutMs_);
}

int LibusbBackend::bulkReadWithin(int pipe, uint8_t* buffer, int capacity, int timeoutMs) {
    if (!handle_ || pipe < 0 || size_t(pipe) >= pipes_.size() || !buffer || capacity <= 0)
        return -1;
    const uint8_t ep = pipes_[size_t(pipe)].address;
    if (!(ep & LIBUSB_ENDPOINT_IN)) return -1;
    int done = 0;
    const int r = libusb_bulk_transfer(handle_, ep, buffer, capacity, &done,
                                       unsigned(timeoutMs > 0 ? timeoutMs : 1));
    return r == 0 ? done : -1;
}

}  // namespace kelvano
