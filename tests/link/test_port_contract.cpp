// One contract for every SerialPort and every UsbBackend the link can be given: the scripted
// fakes, the simulated box, and the real port (QtSerialPortImpl) over kelvano-boxsim's
// pseudo-terminal.
#include <gtest/gtest.h>

#include <memory>

#include "BoxSimProcess.h"
#include "Fakes.h"
#include "link/QtSerialPortImpl.h"
#include "sim/SimSerialPort.h"
#include "sim/SimUsbBackend.h"

namespace kelvano::test {
namespace {

// ---- SerialPort implementations ---------------------------------------------------------------

struct FakePortImpl {
    VirtualClock clock;
    FakeBox box;
    FakeSerialPort port{clock};
    FakePortImpl() { box.install(port); }
    QString name() const { return "FAKE"; }
    static constexpr bool kRealTime = false;
};

struct SimPortImpl {
    VirtualClock clock;
    SimBox box;
    SimSerialPort port{box, clock};
    QString name() const { return "SIM"; }
    static constexpr bool kRealTime = false;
};

struct PtyPortImpl {
    RealClock clock;
    BoxSimProcess sim;
    QtSerialPortImpl port;
    QString name() const { return sim.path(); }
    static constexpr bool kRealTime = true;
};

template <class Impl>
class SerialPortContract : public ::testing::Test {
protected:
    void SetUp() override {
        impl = std::make_unique<Impl>();
        ASSERT_FALSE(impl->name().isEmpty()) << "kelvano-boxsim did not start";
    }
    SerialPort& port() { return impl->port; }
    Clock& clock() { return impl->clock; }
    // Reads until '>' or 150 ms of silence.
    QByteArray readPrompt() {
        QByteArray out;
        for (int b; (b = port().readByte(150)) >= 0;) {
            out += char(b);
            if (b == '>') break;
        }
        return out;
    }
    std::unique_ptr<Impl> impl;
};

using PortImpls = ::testing::Types<FakePortImpl, SimPortImpl, PtyPortImpl>;
TYPED_TEST_SUITE(SerialPortContract, PortImpls);

TYPED_TEST(SerialPortContract, OpenTalkClose) {
    SerialPort& p = this->port();
    EXPECT_FALSE(p.isOpen());
    p.open(this->impl->name(), 115200);
    EXPECT_TRUE(p.isOpen());
    EXPECT_NO_THROW(p.setRts(true));
    EXPECT_NO_THROW(p.setRts(false));
    p.purge();

    // A byte is returned as soon as it is there, not at the end of the time-out.
    const qint64 start = this->clock().nowMs();
    p.write("QXAT\r");
    const int first = p.readByte(2000);
    ASSERT_NE(first, -1);
    EXPECT_LT(this->clock().nowMs() - start, 1000);
    const QByteArray answer = first == '>' ? QByteArray(">") : char(first) + this->readPrompt();
    EXPECT_TRUE(answer.endsWith('>')) << answer.constData();

    // Identification comes back as lines; every byte arrives in order.
    p.write("QXAT!V#\r");
    const QByteArray id = this->readPrompt();
    EXPECT_TRUE(id.contains("QXBASE")) << id.constData();
    EXPECT_GE(id.count('\r'), 3);

    p.close();
    EXPECT_FALSE(p.isOpen());
    EXPECT_NO_THROW(p.close());
    EXPECT_THROW(p.readByte(10), PortError);
    EXPECT_THROW(p.write("x"), PortError);
    EXPECT_THROW(p.purge(), PortError);
}

TYPED_TEST(SerialPortContract, SilenceTimesOutAfterTheWaitAskedFor) {
    SerialPort& p = this->port();
    p.open(this->impl->name(), 115200);
    for (int wait : {15, 45, 90}) {
        const qint64 start = this->clock().nowMs();
        EXPECT_EQ(p.readByte(wait), -1);
        const qint64 spent = this->clock().nowMs() - start;
        if (TypeParam::kRealTime) {
            EXPECT_GE(spent, wait - 1);
            EXPECT_LT(spent, wait + 500);  // a busy machine may wake us late
        } else {
            EXPECT_EQ(spent, wait);
        }
    }
}

TYPED_TEST(SerialPortContract, PurgeDiscardsWhatHasArrived) {
    SerialPort& p = this->port();
    p.open(this->impl->name(), 115200);
    p.write("QXAT!V#\r");
    this->clock().sleepMs(100);
    p.purge();
    EXPECT_EQ(p.readByte(30), -1);
    // The line still works afterwards.
    p.write("QXAT\r");
    EXPECT_TRUE(this->readPrompt().endsWith('>'));
}

TEST(QtSerialPortImpl, MissingPortCannotBeOpened) {
    QtSerialPortImpl p;
    try {
        p.open("/dev/kelvano-no-such-port", 115200);
        ADD_FAILURE() << "opened a missing port";
    } catch (const PortError& e) {
        EXPECT_EQ(e.kind(), PortError::Open);
        EXPECT_EQ(e.systemCode(), 2);
        EXPECT_EQ(e.text(), "Unable to open com port (win error code: 2)");
    }
    EXPECT_FALSE(p.isOpen());
    EXPECT_THROW(p.setRts(true), PortError);
}

// ---- UsbBackend implementations ---------------------------------------------------------------

struct FakeUsbImpl {
    FakeUsbBackend backend;
    FakeUsbImpl() {
        backend.present = {0};
        backend.endpoints = {0x81, 0x02, 0x82};
    }
    // Queues the box's answer to the next packet (the fake has no box behind it).
    void expectAnswer(const QByteArray& a) { backend.readReplies.push_back(a); }
};

struct SimUsbImpl {
    SimBox box{SimBox::Model::Usb};
    SimUsbBackend backend{box};
    void expectAnswer(const QByteArray&) {}
};

template <class Impl>
class UsbBackendContract : public ::testing::Test {
protected:
    Impl impl;
};

using UsbImpls = ::testing::Types<FakeUsbImpl, SimUsbImpl>;
TYPED_TEST_SUITE(UsbBackendContract, UsbImpls);

TYPED_TEST(UsbBackendContract, PipeTableDescriptorsAndPackets) {
    UsbBackend& b = this->impl.backend;
    EXPECT_FALSE(b.isOpen());
    QByteArray info;
    EXPECT_FALSE(b.openDevice(5));
    ASSERT_TRUE(b.openDevice(0));
    EXPECT_TRUE(b.isOpen());

    ASSERT_TRUE(b.pipeInfo(info));
    ASSERT_EQ(info.size(), 336);
    const int pipes = uchar(info[12]);
    int in = -1, out = -1;
    for (int i = 0; i < pipes; ++i) {
        const int ep = uchar(info[16 + 20 * i + 2]);
        if (ep == 0x82 && in < 0) in = i;
        if (ep == 0x02 && out < 0) out = i;
    }
    ASSERT_GE(in, 0);
    ASSERT_GE(out, 0);

    // String descriptor 2: the length byte alone, then the whole descriptor.
    QByteArray d;
    ASSERT_TRUE(b.stringDescriptor(2, 1, d));
    ASSERT_EQ(d.size(), 1);
    const int length = uchar(d[0]);
    ASSERT_GE(length, 4);
    ASSERT_TRUE(b.stringDescriptor(2, length, d));
    EXPECT_EQ(d.size(), length);
    EXPECT_EQ(d[1], char(3));

    // The card-state packet is answered by one byte on the in pipe.
    this->impl.expectAnswer(QByteArray(1, 0));
    ASSERT_TRUE(b.bulkWrite(out, QByteArray(1, 5)));
    uint8_t buffer[256];
    EXPECT_EQ(b.bulkRead(in, buffer, 256), 1);
    // Nothing further is waiting: a read fails instead of hanging.
    EXPECT_EQ(b.bulkRead(in, buffer, 256), -1);

    b.closeDevice();
    EXPECT_FALSE(b.isOpen());
    b.closeDevice();
    EXPECT_FALSE(b.isOpen());
}

}  // namespace
}  // namespace kelvano::test
