#pragma once
#include <gtest/gtest.h>

#include <memory>

#include "Fakes.h"
#include "link/uCom.h"

namespace kelvano::test {

// A TCom wired to a scripted box on a fake port, a fake USB driver and recording views, all
// in virtual time.
class LinkFixture : public ::testing::Test {
protected:
    void SetUp() override {
        options.ports = {"/dev/ttyS0", "USB", "usb"};
        options.portIndex = 0;
    }

    TCom& make() {
        com = std::make_unique<TCom>(
            host, clock, view, options, usb,
            [this](const QString& name) {
                factoryNames << name;
                auto p = std::make_unique<FakeSerialPort>(clock);
                port = p.get();
                box.install(*p);
                return p;
            },
            store);
        com->setProgressView(&progress);
        return *com;
    }

    // Connects to a box that is not the QXBASE model (no firmware check), then forgets what
    // the connect wrote and waited for.
    TCom& connectPlainBox() {
        box.id1 = "STRAVINEX QXPLUS";
        make().Connect();
        EXPECT_TRUE(com->linkReady());
        port->writes.clear();
        port->readWaits.clear();
        return *com;
    }

    qint64 elapsed(const std::function<void()>& f) {
        const qint64 start = clock.nowMs();
        f();
        return clock.nowMs() - start;
    }

    VirtualClock clock;
    RecordingHost host;
    RecordingView view;
    RecordingProgress progress;
    Options options;
    FakeUsbBackend usbBackend;
    TUsb usb{&usbBackend};
    FakeBox box;
    ImageStore store{ImageStore::pack({{"QXUSB", "usb"}})};
    FakeSerialPort* port = nullptr;
    QStringList factoryNames;
    std::unique_ptr<TCom> com;
};

}  // namespace kelvano::test
