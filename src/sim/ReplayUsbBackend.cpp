#include "sim/ReplayUsbBackend.h"

#include <cstring>

namespace kelvano {

namespace {

QString hex(const QByteArray& bytes) {
    return bytes.isEmpty() ? QStringLiteral("nothing")
                           : QString::fromLatin1(bytes.toHex(' ').toUpper());
}

// A request as a person reads it, in the words of the transcript's events.
QString describe(const ReplayScript::UsbItem& item) {
    using Kind = ReplayScript::UsbItem::Kind;
    switch (item.kind) {
        case Kind::Open:
            return QStringLiteral("usb-open %1").arg(item.a);
        case Kind::Close:
            return QStringLiteral("usb-close");
        case Kind::Pipes:
            return QStringLiteral("usb-pipes");
        case Kind::String:
            return QStringLiteral("usb-string %1 %2").arg(item.a).arg(item.b);
        case Kind::Out:
            return QStringLiteral("usb-out %1 %2").arg(item.a).arg(hex(item.bytes));
        case Kind::In:
            return QStringLiteral("usb-in %1 %2").arg(item.a).arg(item.b);
    }
    return {};
}

}  // namespace

ReplayUsbBackend::ReplayUsbBackend(ReplayScript script) : script_(std::move(script)) {}

void ReplayUsbBackend::depart(const QString& text, int line) {
    if (failed_) return;
    failed_ = true;
    departureLine_ = line;
    departure_ = QStringLiteral("line %1: %2").arg(line).arg(text);
}

const ReplayUsbBackend::Item* ReplayUsbBackend::take(Item::Kind kind, int a, int b,
                                                     const QByteArray& bytes) {
    if (failed_) return nullptr;
    // The request in the transcript's words, for a report only.
    const auto asked = [&] {
        Item request;
        request.kind = kind;
        request.a = a;
        request.b = b;
        request.bytes = bytes;
        return describe(request);
    };
    if (next_ >= script_.usbItems.size()) {
        depart(QStringLiteral("the program made the request %1 after the transcript's last one")
                   .arg(asked()),
               script_.lines);
        return nullptr;
    }
    const Item& item = script_.usbItems.at(next_);
    if (item.kind != kind || item.a != a || item.b != b) {
        depart(QStringLiteral("the program made the request %1 where the transcript has %2")
                   .arg(asked(), describe(item)),
               item.line);
        return nullptr;
    }
    if (kind == Item::Kind::Out && item.bytes != bytes) {
        depart(QStringLiteral("the program sent %1 on pipe %2 where the transcript has %3")
                   .arg(hex(bytes))
                   .arg(a)
                   .arg(hex(item.bytes)),
               item.line);
        return nullptr;
    }
    ++next_;
    return &item;
}

bool ReplayUsbBackend::openDevice(int k) {
    const Item* item = take(Item::Kind::Open, k);
    open_ = item && item->ok;
    return open_;
}

void ReplayUsbBackend::closeDevice() {
    // After a departure the driver still tidies up: that is no further departure.
    if (!failed_) take(Item::Kind::Close);
    open_ = false;
}

bool ReplayUsbBackend::pipeInfo(QByteArray& info) {
    const Item* item = take(Item::Kind::Pipes);
    if (!item || !item->ok) return false;
    info = item->bytes;
    return true;
}

bool ReplayUsbBackend::stringDescriptor(int index, int length, QByteArray& out) {
    const Item* item = take(Item::Kind::String, index, length);
    if (!item || !item->ok) return false;
    out = item->bytes;
    return true;
}

bool ReplayUsbBackend::bulkWrite(int pipe, const QByteArray& bytes) {
    const Item* item = take(Item::Kind::Out, pipe, 0, bytes);
    return item && item->ok;
}

int ReplayUsbBackend::bulkRead(int pipe, uint8_t* buffer, int capacity) {
    const Item* item = take(Item::Kind::In, pipe, capacity);
    if (!item || !item->ok) return -1;
    const int n = int(qMin<qsizetype>(item->bytes.size(), capacity));
    if (n > 0) std::memcpy(buffer, item->bytes.constData(), size_t(n));
    return n;
}

QString ReplayUsbBackend::report() const {
    if (failed_) return departure_;
    if (next_ < script_.usbItems.size()) {
        const Item& item = script_.usbItems.at(next_);
        return QStringLiteral("line %1: the program stopped before the transcript's %2")
            .arg(item.line)
            .arg(describe(item));
    }
    return {};
}

}  // namespace kelvano
