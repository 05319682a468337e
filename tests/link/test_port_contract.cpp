// One contract for the SerialPort and UsbBackend implementations the link is given: the
// simulated box in virtual time, the real port (QtSerialPortImpl) over kelvano-boxsim's
// pseudo-terminal, and the scripted USB fake, which then stands in for broken USB set-ups.
#include <QProcess>
#include <cstring>

#include "LinkFixture.h"
#include "link/QtSerialPortImpl.h"
#include "sim/SimSerialPort.h"
#include "sim/SimUsbBackend.h"

namespace kelvano::test {
namespace {

struct SimPortImpl {
    VirtualClock clock;
    SimBox box;
    SimSerialPort port{box, clock};
    QString name() const { return "SIM"; }
    static constexpr bool kRealTime = false;
};

// kelvano-boxsim on a pseudo-terminal whose path is the first line of its output.
struct PtyPortImpl {
    PtyPortImpl() {
        sim.start(QStringLiteral(KELVANO_BIN_DIR "/kelvano-boxsim"), QStringList());
        while (sim.waitForStarted(5000) && !sim.canReadLine() && sim.waitForReadyRead(5000)) {
        }
    }
    ~PtyPortImpl() { sim.terminate(), sim.waitForFinished(3000); }
    QString name() {
        return path.isEmpty() ? path = QString::fromLocal8Bit(sim.readLine()).trimmed() : path;
    }
    static constexpr bool kRealTime = true;
    QProcess sim;
    QString path;
    RealClock clock;
    QtSerialPortImpl port;
};

template <class Impl>
class SerialPortContract : public ::testing::Test {
protected:
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
    // A byte is returned as soon as it is there, not at the end of the time-out.
    const qint64 start = clock.nowMs();
    p.write("QXAT!V#\r");
    const int first = p.readByte(2000);
    EXPECT_LT(clock.nowMs() - start, 1000);
    QByteArray id(1, char(first));
    for (int b; (b = p.readByte(150)) >= 0 && b != '>';) id += char(b);
    EXPECT_TRUE(id.contains("QXBASE")) << id.constData();
    // Purge discards what has arrived.
    p.write("QXAT!V#\r");
    clock.sleepMs(100);
    p.purge();
    EXPECT_EQ(p.readByte(30), -1);
    const qint64 before = clock.nowMs();
    EXPECT_EQ(p.readByte(90), -1);
    const qint64 spent = clock.nowMs() - before;  // a busy machine wakes late
    EXPECT_TRUE(TypeParam::kRealTime ? spent >= 89 && spent <= 590 : spent == 90) << spent;
    p.close();
    EXPECT_NO_THROW(p.close());
    EXPECT_THROW(p.readByte(10), PortError);
    EXPECT_THROW(p.write("x"), PortError);
    EXPECT_THROW(p.purge(), PortError);
}

class FakeUsbBackend : public UsbBackend {
public:
    int present = 0, openK = -1;  // the device number that opens (-1: none)
    std::vector<int> endpoints{0x81, 0x02, 0x82};
    bool failPipeInfo = false, failWrites = false, replied = true;

    bool openDevice(int k) override { return (openK = k == present ? k : -1) >= 0; }
    void closeDevice() override { openK = -1; }
    bool isOpen() const override { return openK >= 0; }
    bool pipeInfo(QByteArray& info) override {
        info = QByteArray(336, '\0');
        info[12] = char(endpoints.size());
        for (size_t i = 0; i < endpoints.size(); ++i) info[16 + 20 * i + 2] = char(endpoints[i]);
        return !failPipeInfo;
    }
    bool stringDescriptor(int index, int length, QByteArray& out) override {
        return index == 2 &&
               (out = QByteArray::fromHex("0803515855534200").left(length), true);  // "QXUSB"
    }
    bool bulkWrite(int, const QByteArray&) override { return !failWrites && !(replied = false); }
    int bulkRead(int, uint8_t* buffer, int) override {  // every packet is answered by a single 0
        return replied ? -1 : (replied = true, buffer[0] = 0, 1);
    }
};

struct FakeUsbImpl {
    FakeUsbBackend backend;
};
struct SimUsbImpl {
    SimBox box{SimBox::Model::Usb};
    SimUsbBackend backend{box};
};

// The real port's own behaviour on a paced kelvano-boxsim: what it tells the DEBUG memo, how
// few reads a reply costs, and a wait that starts when the command has crossed the line.
TEST(RealSerialPort, LowLatencyRemarkChunkedReadsAndWaitsAfterTheLineTime) {
    QProcess sim;
    sim.start(QStringLiteral(KELVANO_BIN_DIR "/kelvano-boxsim"), {"--baud", "1200"});
    ASSERT_TRUE(sim.waitForReadyRead(5000));
    const QString tty = QString::fromLocal8Bit(sim.readLine()).trimmed();
    QtSerialPortImpl port;
    port.open(tty, 1200);
    // A pseudo-terminal has no such setting: noted, not an error.
    EXPECT_EQ(port.openRemark(), "Serial port " + tty.mid(5) +
                                     ": no low latency from the driver (" +
                                     QString::fromLocal8Bit(std::strerror(ENOTTY)) + ")");

    // At 1200 baud the 8 bytes of the command take 67 ms to cross, the first answer byte 8 ms
    // more: a 40 ms wait that started at the write would be over before it came.
    port.write("QXAT!V#\r");
    EXPECT_EQ(port.readByte(40), 'S');
    // The rest of the identity: at 1200 baud a byte comes every 8 ms, one read each; what
    // has piled up meanwhile comes in one read.
    RealClock().sleepMs(150);  // about 18 bytes arrive meanwhile
    const qint64 callsBefore = port.readCalls();
    QByteArray rest;
    for (int b; (b = port.readByte(150)) >= 0 && b != '>';) rest += char(b);
    EXPECT_TRUE(rest.startsWith("TRAVINEX QXBASE\rKELVANO BOX SIMULATOR\rSIM-000001"))
        << rest.constData();
    EXPECT_LT(port.readCalls() - callsBefore, qint64(rest.size()) - 10);
    port.close();
    sim.terminate(), sim.waitForFinished(3000);
}

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
    ASSERT_TRUE(in >= 0 && out >= 0);

    QByteArray d;  // string descriptor 2: the length byte alone, then the whole
    ASSERT_TRUE(b.stringDescriptor(2, 1, d) && d.size() == 1 &&
                b.stringDescriptor(2, uchar(d[0]), d));
    EXPECT_EQ(d.size(), uchar(d[0]));
    // The card-state packet is answered by one byte; nothing further waits, nothing hangs.
    ASSERT_TRUE(b.bulkWrite(out, QByteArray(1, 5)));
    uint8_t buffer[256];
    EXPECT_EQ(b.bulkRead(in, buffer, 256), 1);
    EXPECT_EQ(b.bulkRead(in, buffer, 256), -1);
    b.closeDevice();
    EXPECT_FALSE(b.isOpen());
}

using UsbSetUp = LinkFixture;

TEST_F(UsbSetUp, AMissingPieceShowsTheNotFoundMessage) {
    options.portIndex = 1;  // "USB"
    options.loadAtCon = true;
    FakeUsbBackend fake;
    usb.setBackend(&fake);
    const std::pair<const char*, std::function<void()>> cases[] = {
        {"no device", [&] { fake.present = -1; }},
        {"no QXUSB image",
         [&] {
             store = ImageStore(ImageStore::pack({{"QXBASE", "x"}}));
         }},
        {"no pipe table", [&] { fake.failPipeInfo = true; }},
        {"no endpoint 0x82",
         [&] {
             fake.endpoints = {0x02, 0x81};
         }},
        {"no endpoint 0x02", [&] { fake.endpoints = {0x82}; }},
        // The box does not take its first packet: no half-open link that claims to be up.
        {"first packet refused", [&] { fake.failWrites = true; }},
    };
    for (const auto& [what, arrange] : cases) {
        SCOPED_TRACE(what);
        fake = FakeUsbBackend();
        store = ImageStore(ImageStore::pack({{"QXUSB", "usb"}}));
        host.errors.clear(), view.updates.clear();
        arrange();
        make().Connect();
        EXPECT_EQ(host.errors,
                  QStringList{"STRAVINEX-USB not found!\r\rPlease connect your Stravinex "
                              "to the USB port\ror install the USB device driver."});
        EXPECT_FALSE(com->linkReady() || fake.isOpen());
        EXPECT_EQ(view.updates, QStringList{"disconnected"});
    }
    EXPECT_TRUE(factoryNames.isEmpty());
}

}  // namespace
}  // namespace kelvano::test
