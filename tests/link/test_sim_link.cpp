// The link against the simulated box: in virtual time through SimSerialPort and
// SimUsbBackend, and kelvano-cli info. (The real port over kelvano-boxsim's terminal is in
// test_port_contract.cpp and, end to end, in the kelvano-cli action tests.)
#include "LinkFixture.h"
#include "sim/SimSerialPort.h"
#include "sim/SimUsbBackend.h"

namespace kelvano::test {
namespace {

class SimLink : public ::testing::Test {
protected:
    TCom& make(ImageStore store = ImageStore(ImageStore::builtInData())) {
        options.ports = {"SIM", "USB"};
        com = std::make_unique<TCom>(
            host, clock, view, options, usb,
            [this](const QString&) { return std::make_unique<SimSerialPort>(box, clock); }, std::move(store));
        com->setProgressView(&view);
        return *com;
    }
    QStringList traced() const {
        QStringList out;
        for (const auto& e : box.trace()) out << QString::fromLatin1(e.received.toHex());
        return out;
    }

    VirtualClock clock;
    RecordingHost host;
    RecordingView view;
    Options options;
    SimBox box{SimBox::Model::QxBase};
    SimUsbBackend usbBackend{box};
    TUsb usb{&usbBackend};
    std::unique_ptr<TCom> com;
};

TEST_F(SimLink, QxBaseConnectsUploadsFirmwareOnceAndTalksCommandFrames) {
    QByteArray image(1000, '\0');
    for (int i = 22; i < image.size(); ++i) image[i] = char((i * 31) ^ (i >> 8));
    image[19] = 0x02, image[20] = 0x00, image[21] = 0x07;
    TCom& c = make(ImageStore(ImageStore::pack({{"QXBASE", image}, {"QXUSB", "u"}})));
    c.Connect();
    ASSERT_TRUE(c.linkReady()) << host.errors.join("|").toStdString();
    EXPECT_EQ(view.pane, "STRAVINEX QXBASE * KELVANO BOX SIMULATOR *  Serial: SIM-000001");
    EXPECT_EQ(c.firmware(), TCom::Firmware::Uploaded);
    EXPECT_EQ(box.firmwareVersion(), 0x0200);
    EXPECT_EQ(box.firmwareRevision(), 0x07);
    EXPECT_EQ(box.firmwareLinesReceived(), 63);
    // The box holds the image with the length and sum the upload put into its header.
    EXPECT_EQ(box.firmwareMemory().mid(4, 996), image.mid(4));
    EXPECT_EQ(uchar(box.firmwareMemory()[2]) | uchar(box.firmwareMemory()[3]) << 8, 996);

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
    c.Connect();
    ASSERT_TRUE(c.linkReady());
    EXPECT_EQ(c.firmware(), TCom::Firmware::Current);
    EXPECT_EQ(box.firmwareLinesReceived(), 63);
}

TEST_F(SimLink, SerialModelSkipsTheFirmware) {
    box.setModel(SimBox::Model::Serial);
    TCom& c = make();
    c.Connect();
    ASSERT_TRUE(c.linkReady());
    EXPECT_EQ(c.IdLine1, "STRAVINEX QX200");
    EXPECT_EQ(c.firmware(), TCom::Firmware::NotQxBase);
    EXPECT_FALSE(traced().contains(QByteArray("QXATQ\r").toHex()));
    c.Disconnect();
    EXPECT_FALSE(c.portOpen());
    EXPECT_EQ(view.updates, (QStringList{"connected", "disconnected"}));
    EXPECT_TRUE(host.errors.isEmpty());
}

TEST_F(SimLink, UsbModelConnectsWithItsPacketsAndDisconnects) {
    box.setModel(SimBox::Model::Usb);
    options.portIndex = 1;
    options.loadAtCon = true;
    TCom& c = make();
    c.Connect();
    ASSERT_TRUE(c.linkReady()) << host.errors.join("|").toStdString();
    EXPECT_EQ(c.PipeOut, SimUsbBackend::kPipeOut);
    EXPECT_EQ(c.PipeIn, SimUsbBackend::kPipeIn);
    EXPECT_EQ(view.pane, box.usbName());
    EXPECT_EQ(traced(), (QStringList{"0202e020", "0100", "0100"}));
    QString snr = "SNR: ";  // two upper-case digits and a blank per byte
    for (char ch : box.usbSerialNumber()) snr += QString("%1 ").arg(uchar(ch), 2, 16, QChar('0')).toUpper();
    EXPECT_EQ(view.debug, QStringList{snr});
    EXPECT_EQ(view.updates, QStringList{"connected"});
    EXPECT_EQ(view.fastOpens, 1);
    EXPECT_FALSE(c.keepAliveTimer().isActive());  // no keep-alive over USB

    c.Disconnect();
    EXPECT_FALSE(usbBackend.isOpen());
    EXPECT_FALSE(c.linkReady());
    EXPECT_EQ(view.updates, (QStringList{"connected", "disconnected"}));
    EXPECT_EQ(view.pane, "");
}

TEST(InfoCommand, PrintsTheIdentityOrTheErrorBoxText) {
    const auto cli = [](const QStringList& args, QString* out, QString* err) {
        QProcess p;
        p.start(QStringLiteral(KELVANO_BIN_DIR "/kelvano-cli"), args);
        if (!p.waitForFinished(20000)) return -1;
        *out = QString::fromLocal8Bit(p.readAllStandardOutput());
        *err = QString::fromLocal8Bit(p.readAllStandardError());
        return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    };
    QString out, err;
    EXPECT_EQ(cli({"--port", "SIM", "info"}, &out, &err), 0) << err.toStdString();
    EXPECT_TRUE(out.startsWith("Box: STRAVINEX QXBASE * KELVANO BOX SIMULATOR *  Serial: SIM-000001\n"));
    EXPECT_TRUE(out.contains("Firmware: not checked (no QXBASE firmware in the image store)"));

    EXPECT_EQ(cli({"--port", "/dev/kelvano-no-such-port", "info"}, &out, &err), 1);
    EXPECT_TRUE(out.isEmpty());
    EXPECT_TRUE(err.startsWith("Can't connect to Programmer\nErrorcode: Unable to open com port "
                               "(win error code: 2)\n"))
        << err.toStdString();
    EXPECT_EQ(cli({"info"}, &out, &err), 2);
}

}  // namespace
}  // namespace kelvano::test
