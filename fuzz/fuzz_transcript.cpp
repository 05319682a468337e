// Transcript reader and the replaying boxes: any bytes as a transcript, serial or USB. A text
// that is refused names its line; one that is read is played back by the boxes, both with
// exactly the requests it records and to the program's own connect, which stays within what
// a connect may do (never up without an identity of the box's form).
#include <QCoreApplication>
#include <memory>

#include "FuzzCheck.h"
#include "base/Clock.h"
#include "base/Host.h"
#include "base/MainView.h"
#include "base/Options.h"
#include "link/ImageStore.h"
#include "link/uCom.h"
#include "link/uUsb.h"
#include "sim/ReplayBox.h"
#include "sim/ReplayScript.h"
#include "sim/ReplayUsbBackend.h"
#include "sim/SimSerialPort.h"

using namespace kelvano;

namespace {

class QuietHost : public Host {
public:
    void showError(const QString&) override {}
    bool askOkAbort(const QString&, const QString&) override { return true; }
    void beep() override {}
    void processEvents() override {}
};

// The report agrees with the box's state.
void checkReport(bool failed, bool finished, const QString& report) {
    if (failed) FUZZ_CHECK(report.startsWith(QLatin1String("line ")));
    if (finished) FUZZ_CHECK(report.isEmpty());
    if (!failed && !finished) FUZZ_CHECK(report.startsWith(QLatin1String("line ")));
}

// The recorded writes, in pieces of one to three bytes.
void playSerial(const ReplayScript& script) {
    ReplayBox box(script);
    for (const auto& item : script.items) {
        if (item.kind != ReplayScript::Item::Kind::Send) continue;
        const int piece = 1 + item.line % 3;
        for (qsizetype at = 0; at < item.bytes.size(); at += piece)
            for (const SimLine::Output& out : box.receiveSerial(item.bytes.mid(at, piece)))
                FUZZ_CHECK(out.delayMs >= 0);
    }
    checkReport(box.failed(), box.finished(), box.report());
}

// Exactly the recorded USB requests: the replay plays to its end.
void playUsb(const ReplayScript& script) {
    using Kind = ReplayScript::UsbItem::Kind;
    ReplayUsbBackend usb(script);
    std::vector<uint8_t> buffer;
    for (const auto& item : script.usbItems) {
        QByteArray out;
        switch (item.kind) {
            case Kind::Open:
                FUZZ_CHECK(usb.openDevice(item.a) == item.ok);
                break;
            case Kind::Close:
                usb.closeDevice();
                break;
            case Kind::Pipes:
                FUZZ_CHECK(usb.pipeInfo(out) == item.ok);
                break;
            case Kind::String:
                FUZZ_CHECK(usb.stringDescriptor(item.a, item.b, out) == item.ok);
                break;
            case Kind::Out:
                FUZZ_CHECK(usb.bulkWrite(item.a, item.bytes) == item.ok);
                break;
            case Kind::In:
                if (item.b <= 0 || item.b > 4096) return;  // no caller asks for such reads
                buffer.assign(size_t(item.b), 0);
                FUZZ_CHECK((usb.bulkRead(item.a, buffer.data(), item.b) >= 0) == item.ok);
                break;
        }
    }
    FUZZ_CHECK(usb.finished() && !usb.failed());
    checkReport(usb.failed(), usb.finished(), usb.report());
}

// The program's connect, in virtual time, against the transcript's box.
void connect(const ReplayScript& script) {
    QuietHost host;
    VirtualClock clock;
    NullMainView view;
    Options options;
    options.ports = {script.usb ? QStringLiteral("USB") : QStringLiteral("/dev/ttyS0")};
    options.portIndex = 0;
    ReplayBox serialBox(script);
    ReplayUsbBackend usbBox(script);
    TUsb usb(&usbBox);
    TCom com(
        host, clock, view, options, usb,
        [&](const QString&) { return std::make_unique<SimSerialPort>(serialBox, clock); },
        ImageStore(ImageStore::pack({{QStringLiteral("QXUSB"), QByteArray("usb")}})));
    com.Connect();
    if (com.linkReady() && !com.UsbConnected) {
        FUZZ_CHECK(com.IdLine1.startsWith(QLatin1String("STRAVINEX ")) ||
                   com.IdLine1.startsWith(QLatin1String("QX")));
        FUZZ_CHECK(!com.IdLine3.trimmed().isEmpty() && !com.IdLine3.trimmed().contains(' '));
    }
    com.Disconnect();
    FUZZ_CHECK(!com.linkReady());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    static QCoreApplication app(*argc, *argv);  // the keep-alive timer wants one
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray text(reinterpret_cast<const char*>(data), qsizetype(size));
    QString error;
    const std::optional<ReplayScript> script = ReplayScript::parse(text, &error);
    if (!script) {
        FUZZ_CHECK(error.startsWith(QLatin1String("line ")));
        return 0;
    }
    FUZZ_CHECK(script->usb == !script->usbItems.isEmpty());
    playSerial(*script);
    if (script->usb) playUsb(*script);
    connect(*script);
    return 0;
}
