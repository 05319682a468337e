// The link against the simulated box: in virtual time through SimSerialPort and
// SimUsbBackend, and in real time through QtSerialPortImpl over kelvano-boxsim's terminal.
#include <gtest/gtest.h>

#include <QElapsedTimer>

#include "BoxSimProcess.h"
#include "Fakes.h"
#include "link/QtSerialPortImpl.h"
#include "link/uCom.h"
#include "sim/SimSerialPort.h"
#include "sim/SimUsbBackend.h"

namespace kelvano::test {
namespace {

class SimLink : public ::testing::Test {
protected:
    void SetUp() override {
        options.ports = {"SIM", "USB"};
        options.portIndex = 0;
    }
    TCom& make(ImageStore store = ImageStore(ImageStore::builtInData())) {
        com = std::make_unique<TCom>(
            host, clock, view, options, usb,
            [this](const QString&) { return std::make_unique<SimSerialPort>(box, clock); },
            std::move(store));
        com->setProgressView(&progress);
        return *com;
    }
    static QByteArray firmware(int size, uint16_t version, uint8_t revision) {
        QByteArray image(size, '\0');
        for (int i = 22; i < size; ++i) image[i] = char((i * 31) ^ (i >> 8));
        image[19] = char(version >> 8);
        image[20] = char(version & 0xFF);
        image[21] = char(revision);
        return image;
    }

    VirtualClock clock;
    RecordingHost host;
    RecordingView view;
    RecordingProgress progress;
    Options options;
    SimBox box{SimBox::Model::QxBase};
    SimUsbBackend usbBackend{box};
    TUsb usb{&usbBackend};
    std::unique_ptr<TCom> com;
};

TEST_F(SimLink, QxBaseConnectsUploadsFirmwareAndTalksCommandFrames) {
    const QByteArray image = firmware(1000, 0x0200, 0x07);
    TCom& c = make(ImageStore(ImageStore::pack({{"QXBASE", image}, {"QXUSB", "u"}})));
    c.Connect();
    ASSERT_TRUE(c.linkReady()) << host.errors.join("|").toStdString();
    EXPECT_TRUE(c.IsQxBase);
    EXPECT_EQ(view.pane, "STRAVINEX QXBASE * KELVANO BOX SIMULATOR *  Serial: SIM-000001");
    EXPECT_EQ(c.firmware(), TCom::Firmware::Uploaded);
    EXPECT_EQ(box.firmwareVersion(), 0x0200);
    EXPECT_EQ(box.firmwareRevision(), 0x07);
    EXPECT_EQ(box.firmwareLinesReceived(), (1000 + 15) / 16);
    // The box holds the image with the header the upload wrote.
    const QByteArray held = box.firmwareMemory().left(1000);
    EXPECT_EQ(held.mid(4), image.mid(4));
    EXPECT_EQ(uchar(held[2]) | uchar(held[3]) << 8, 996);
    uint sum = 0;
    for (int i = 2; i < 1000; ++i) sum += uchar(held[i]);
    EXPECT_EQ(uchar(held[0]) | uchar(held[1]) << 8, int(sum & 0xFFFF));
    EXPECT_TRUE(box.inCommandMode());

    // Command frames: the card state, a refused command, the keep-alive.
    QByteArray reply;
    EXPECT_EQ(c.Transact("K", reply, 0), 1);
    EXPECT_EQ(reply, "0");
    box.removeCard();
    EXPECT_EQ(c.Transact("K", reply, 0), 1);
    EXPECT_EQ(reply, "6");
    EXPECT_EQ(c.Transact("?", reply, 0), 255);
    c.KeepAlive();
    EXPECT_EQ(c.MissCount, 0);

    // Connecting again finds the firmware current and uploads nothing.
    c.Disconnect();
    EXPECT_FALSE(c.portOpen());
    c.Connect();
    ASSERT_TRUE(c.linkReady());
    EXPECT_EQ(c.firmware(), TCom::Firmware::Current);
    EXPECT_EQ(box.firmwareLinesReceived(), (1000 + 15) / 16);
}

TEST_F(SimLink, SerialModelSkipsTheFirmware) {
    box.setModel(SimBox::Model::Serial);
    TCom& c = make();
    c.Connect();
    ASSERT_TRUE(c.linkReady());
    EXPECT_FALSE(c.IsQxBase);
    EXPECT_EQ(c.IdLine1, "STRAVINEX QX200");
    EXPECT_EQ(c.firmware(), TCom::Firmware::NotQxBase);

    c.Disconnect();
    EXPECT_FALSE(c.portOpen());
    EXPECT_EQ(view.updates, (QStringList{"connected", "disconnected"}));
    EXPECT_TRUE(host.errors.isEmpty());
}

TEST_F(SimLink, UsbModelConnectsAndDisconnects) {
    box.setModel(SimBox::Model::Usb);
    options.portIndex = 1;
    TCom& c = make();
    c.Connect();
    ASSERT_TRUE(c.UsbConnected) << host.errors.join("|").toStdString();
    EXPECT_EQ(c.PipeOut, SimUsbBackend::kPipeOut);
    EXPECT_EQ(c.PipeIn, SimUsbBackend::kPipeIn);
    EXPECT_EQ(view.pane, box.usbName());
    QString snr = "SNR: ";
    for (char ch : box.usbSerialNumber()) snr += QString("%1 ").arg(uchar(ch), 2, 16, QChar('0')).toUpper();
    EXPECT_EQ(view.debug, QStringList{snr});
    EXPECT_EQ(view.updates, QStringList{"connected"});

    c.Disconnect();
    EXPECT_FALSE(usbBackend.isOpen());
    EXPECT_EQ(view.updates, (QStringList{"connected", "disconnected"}));

}

TEST(SimLinkRealTime, ConnectsThroughARealPortToTheBoxOnAPseudoTerminal) {
    BoxSimProcess sim({"--model", "qxbase"});
    ASSERT_FALSE(sim.path().isEmpty()) << "kelvano-boxsim did not start";
    RealClock clock;
    RecordingHost host;
    RecordingView view;
    Options options;
    options.ports = {sim.path()};
    options.portIndex = 0;
    TUsb usb;
    TCom c(host, clock, view, options, usb, [](const QString&) { return makeSystemSerialPort(); },
           ImageStore(ImageStore::builtInData()));

    // The terminal has no modem lines: RTS changes fail there with ENOTTY, which is no fault.
    {
        QtSerialPortImpl port;
        port.open(sim.path(), 115200);
        EXPECT_TRUE(port.isPseudoTerminal());
        EXPECT_NO_THROW(port.setRts(true));
        EXPECT_NO_THROW(port.setRts(false));
    }

    QElapsedTimer t;
    t.start();
    c.Connect();
    ASSERT_TRUE(c.linkReady()) << host.errors.join("|").toStdString();
    EXPECT_EQ(view.pane, "STRAVINEX QXBASE * KELVANO BOX SIMULATOR *  Serial: SIM-000001");
    EXPECT_LT(t.elapsed(), 5000);  // no run of time-outs on the way

    QByteArray reply;
    for (int i = 0; i < 20; ++i) {
        ASSERT_EQ(c.Transact("K", reply, 0), 1);
        ASSERT_EQ(reply, "0");
    }
    // Silence is a time-out of the wait asked for, not of anything longer.
    t.restart();
    c.SendText("Q");  // half a frame: the box waits for the rest and says nothing
    EXPECT_EQ(c.ReadByte(20), -1);
    EXPECT_GE(t.elapsed(), 59);
    EXPECT_LT(t.elapsed(), 1000);

    c.KeepAlive();
    c.KeepAlive();
    EXPECT_EQ(c.MissCount, 0);
    c.Disconnect();
    EXPECT_FALSE(c.portOpen());
    EXPECT_TRUE(host.errors.isEmpty());
}

}  // namespace
}  // namespace kelvano::test
