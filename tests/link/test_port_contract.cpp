// One contract for the SerialPort and UsbBackend implementations the link is given: the
// simulated box in virtual time, the real port (QtSerialPortImpl) over kelvano-boxsim's
// pseudo-terminal, and the scripted USB fake the link tests rely on.
#include <QProcess>

#include "LinkFixture.h"
#include "link/QtSerialPortImpl.h"
#include "sim/SimSerialPort.h"
#include "sim/SimUsbBackend.h"

namespace kelvano::test {
namespace {

// kelvano-boxsim on a pseudo-terminal whose path is the first line of its output.
class BoxSimProcess {
public:
    explicit BoxSimProcess(const QStringList& args) {
        proc_.start(QStringLiteral(KELVANO_BIN_DIR "/kelvano-boxsim"), args);
        if (!proc_.waitForStarted(5000)) return;
        while (!proc_.canReadLine() && proc_.waitForReadyRead(5000)) {
        }
        path_ = QString::fromLocal8Bit(proc_.readLine()).trimmed();
    }
    ~BoxSimProcess() {
        proc_.terminate();
        if (!proc_.waitForFinished(3000)) proc_.kill(), proc_.waitForFinished(3000);
    }
    const QString& path() const { return path_; }  // empty when it did not start

private:
    QProcess proc_;
    QString path_;
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
    BoxSimProcess sim{QStringList()};
    QtSerialPortImpl port;
    QString name() const { return sim.path(); }
    static constexpr bool kRealTime = true;
};

template <class Impl>
class SerialPortContract : public ::testing::Test {
protected:
    QByteArray readPrompt() {  // until '>' or 150 ms of silence
        QByteArray out;
        for (int b; (b = impl.port.readByte(150)) >= 0;) {
            out += char(b);
            if (b == '>') break;
        }
        return out;
    }
    Impl impl;
};

using PortImpls = ::testing::Types<SimPortImpl, PtyPortImpl>;
TYPED_TEST_SUITE(SerialPortContract, PortImpls);

TYPED_TEST(SerialPortContract, OpenTalkPurgeTimeOutClose) {
    SerialPort& p = this->impl.port;
    Clock& clock = this->impl.clock;
    ASSERT_FALSE(this->impl.name().isEmpty()) << "kelvano-boxsim did not start";
    p.open(this->impl.name(), 115200);
    ASSERT_TRUE(p.isOpen());
    EXPECT_NO_THROW(p.setRts(true));  // a terminal without modem lines is no fault
    EXPECT_NO_THROW(p.setRts(false));

    // A byte is returned as soon as it is there, not at the end of the time-out.
    const qint64 start = clock.nowMs();
    p.write("QXAT\r");
    const int first = p.readByte(2000);
    ASSERT_NE(first, -1);
    EXPECT_LT(clock.nowMs() - start, 1000);
    EXPECT_TRUE((char(first) + this->readPrompt()).endsWith('>'));
    p.write("QXAT!V#\r");
    const QByteArray id = this->readPrompt();
    EXPECT_TRUE(id.contains("QXBASE")) << id.constData();
    EXPECT_GE(id.count('\r'), 3);

    // Purge discards what has arrived; the line works on afterwards.
    p.write("QXAT!V#\r");
    clock.sleepMs(100);
    p.purge();
    EXPECT_EQ(p.readByte(30), -1);
    p.write("QXAT\r");
    EXPECT_TRUE(this->readPrompt().endsWith('>'));

    for (int wait : {15, 90}) {
        const qint64 before = clock.nowMs();
        EXPECT_EQ(p.readByte(wait), -1);
        const qint64 spent = clock.nowMs() - before;
        EXPECT_GE(spent, TypeParam::kRealTime ? wait - 1 : wait);
        EXPECT_LE(spent, TypeParam::kRealTime ? wait + 500 : wait);  // a busy machine wakes late
    }

    p.close();
    EXPECT_NO_THROW(p.close());
    EXPECT_FALSE(p.isOpen());
    EXPECT_THROW(p.readByte(10), PortError);
    EXPECT_THROW(p.write("x"), PortError);
    EXPECT_THROW(p.purge(), PortError);
}

struct FakeUsbImpl {
    FakeUsbBackend backend;
    FakeUsbImpl() { backend.endpoints = {0x81, 0x02, 0x82}; }
    void expectAnswer(const QByteArray& a) { backend.readReplies.push_back(a); }  // no box behind it
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
    EXPECT_FALSE(b.openDevice(5));
    ASSERT_TRUE(b.openDevice(0));
    TUsb usb(&b);
    ASSERT_TRUE(usb.GetPipeInfo());
    const int in = usb.FindPipe(0x82), out = usb.FindPipe(0x02);
    ASSERT_GE(in, 0);
    ASSERT_GE(out, 0);

    QByteArray d;  // string descriptor 2: the length byte alone, then the whole
    ASSERT_TRUE(b.stringDescriptor(2, 1, d));
    ASSERT_TRUE(d.size() == 1 && b.stringDescriptor(2, uchar(d[0]), d));
    EXPECT_EQ(d.size(), uchar(d[0]));
    // The card-state packet is answered by one byte; nothing further waits, nothing hangs.
    this->impl.expectAnswer(QByteArray(1, 0));
    ASSERT_TRUE(b.bulkWrite(out, QByteArray(1, 5)));
    uint8_t buffer[256];
    EXPECT_EQ(b.bulkRead(in, buffer, 256), 1);
    EXPECT_EQ(b.bulkRead(in, buffer, 256), -1);
    b.closeDevice();
    b.closeDevice();
    EXPECT_FALSE(b.isOpen());
}

}  // namespace
}  // namespace kelvano::test
