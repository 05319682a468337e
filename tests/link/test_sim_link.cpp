// The link against the simulated box in virtual time, through SimSerialPort and SimUsbBackend,
// and kelvano-cli info. (The real port over a pseudo-terminal: test_port_contract.cpp.)
#include <QProcess>

#include "LinkFixture.h"
#include "sim/SimSerialPort.h"
#include "sim/SimUsbBackend.h"

namespace kelvano::test {
namespace {

// The fixture's views and host, with the simulated box behind the port and the USB driver.
class SimLink : public LinkFixture {
protected:
    TCom& makeSim(ImageStore images = ImageStore(ImageStore::builtInData())) {
        options.ports = {"SIM", "USB"};
        store = std::move(images);
        usb.setBackend(&simUsbBackend);
        return make([this](const QString&) { return std::make_unique<SimSerialPort>(sim, clock); });
    }
    SimBox sim{SimBox::Model::QxBase};
    SimUsbBackend simUsbBackend{sim};
};

TEST_F(SimLink, QxBaseConnectsUploadsFirmwareOnceAndTalksCommandFrames) {
    QByteArray image(1000, '\0');
    for (int i = 22; i < image.size(); ++i) image[i] = char((i * 31) ^ (i >> 8));
    image[19] = 0x02, image[20] = 0x00, image[21] = 0x07;
    TCom& c = makeSim(ImageStore(ImageStore::pack({{"QXBASE", image}, {"QXUSB", "u"}})));
    c.Connect();
    ASSERT_TRUE(c.linkReady()) << host.errors.join("|").toStdString();
    EXPECT_EQ(view.pane, "STRAVINEX QXBASE * KELVANO BOX SIMULATOR *  Serial: SIM-000001");
    EXPECT_EQ(c.firmware(), TCom::Firmware::Uploaded);
    EXPECT_TRUE(sim.firmwareVersion() == 0x0200 && sim.firmwareRevision() == 0x07);
    EXPECT_EQ(sim.firmwareLinesReceived(), 63);
    // The box holds the image with the length and sum the upload put into its header.
    EXPECT_EQ(sim.firmwareMemory().mid(4, 996), image.mid(4));
    EXPECT_EQ(uchar(sim.firmwareMemory()[2]) | uchar(sim.firmwareMemory()[3]) << 8, 996);

    QByteArray reply;
    EXPECT_TRUE(c.Transact("K", reply, 0) == 1 && reply == "0");
    sim.removeCard();
    EXPECT_TRUE(c.Transact("K", reply, 0) == 1 && reply == "6");
    EXPECT_EQ(c.Transact("?", reply, 0), 255);

    // Connecting again finds the firmware current and uploads nothing.
    c.Disconnect();
    c.Connect();
    EXPECT_TRUE(c.linkReady() && c.firmware() == TCom::Firmware::Current);
    EXPECT_EQ(sim.firmwareLinesReceived(), 63);
}

TEST_F(SimLink, SerialModelSkipsTheFirmware) {
    sim.setModel(SimBox::Model::Serial);
    TCom& c = makeSim();
    c.Connect();
    ASSERT_TRUE(c.linkReady());
    EXPECT_EQ(c.IdLine1, "STRAVINEX QX200");
    EXPECT_EQ(c.firmware(), TCom::Firmware::NotQxBase);
    EXPECT_FALSE(sim.traceLines().join('|').contains("QXATQ"));
}

TEST_F(SimLink, UsbModelConnectsWithItsPacketsAndDisconnects) {
    sim.setModel(SimBox::Model::Usb);
    options.portIndex = 1, options.loadAtCon = true;
    TCom& c = makeSim();
    c.Connect();
    ASSERT_TRUE(c.linkReady()) << host.errors.join("|").toStdString();
    QStringList packets;
    for (const auto& e : sim.trace()) packets << e.received.toHex();
    EXPECT_TRUE(c.PipeOut == SimUsbBackend::kPipeOut && c.PipeIn == SimUsbBackend::kPipeIn);
    EXPECT_EQ(view.pane, sim.usbName());
    EXPECT_EQ(packets, (QStringList{"0202e020", "0100", "0100"}));
    QString snr = "SNR: ";  // two upper-case digits and a blank per byte
    for (char ch : sim.usbSerialNumber())
        snr += QString("%1 ").arg(uchar(ch), 2, 16, QChar('0')).toUpper();
    EXPECT_EQ(view.debug, QStringList{snr});
    EXPECT_FALSE(c.keepAliveTimer().isActive());  // no keep-alive over USB
    c.Disconnect();
    EXPECT_FALSE(simUsbBackend.isOpen());
    EXPECT_EQ(view.updates, (QStringList{"connected", "disconnected"}));
}

// The connect sends 01 00 twice and reads one answer. A box that queues its answers must not
// leave the next one stale: after the connect the card-state poll (05) reads this poll's
// answer with either kind of box. The empty slot answers 06, the stale 01 00 answer 00.
TEST_F(SimLink, UsbAnswersStayInStepWhetherTheBoxQueuesThemOrNot) {
    sim.setModel(SimBox::Model::Usb);
    sim.removeCard();
    options.portIndex = 1;
    for (bool queued : {false, true}) {
        SCOPED_TRACE(queued ? "queued" : "one buffer");
        simUsbBackend.setQueuedReplies(queued);
        view.debug.clear();
        TCom& c = makeSim();
        c.Connect();
        ASSERT_TRUE(c.linkReady());
        EXPECT_EQ(simUsbBackend.pendingReplies(), 0);
        EXPECT_EQ(view.debug.size(), queued ? 2 : 1);
        EXPECT_EQ(view.debug.value(1),
                  queued ? "USB: 1 pending answer(s) dropped after the connect" : "");
        for (const QByteArray& poll :
             {QByteArray("\x05", 1), QByteArray("\x06\x03", 2), QByteArray("\x05", 1)}) {
            uint8_t answer[256] = {};
            ASSERT_TRUE(c.usb().BulkWrite(c.PipeOut, poll));
            const int n = c.usb().BulkRead(c.PipeIn, answer, 256);
            EXPECT_EQ(QByteArray(reinterpret_cast<const char*>(answer), n),
                      poll.size() == 1 ? QByteArray("\x06", 1) : QByteArray("\x06\x03", 2));
        }
        c.Disconnect();
    }
}

TEST(InfoCommand, PrintsTheIdentityOrTheErrorBoxText) {
    QProcess sim, none;
    sim.start(QStringLiteral(KELVANO_BIN_DIR "/kelvano-cli"), {"--port", "SIM", "info"});
    none.start(QStringLiteral(KELVANO_BIN_DIR "/kelvano-cli"),
               {"--port", "/dev/kelvano-no-such-port", "info"});
    ASSERT_TRUE(sim.waitForFinished(20000) && none.waitForFinished(20000));
    const QString out = sim.readAllStandardOutput(), err = none.readAllStandardError();
    EXPECT_EQ(sim.exitCode(), 0);
    EXPECT_TRUE(
        out.startsWith("Box: STRAVINEX QXBASE * KELVANO BOX SIMULATOR *  Serial: SIM-000001\n"));
    EXPECT_TRUE(out.contains("Firmware: not checked (no QXBASE firmware in the image store)"));
    EXPECT_EQ(none.exitCode(), 1);
    EXPECT_TRUE(none.readAllStandardOutput().isEmpty() &&
                err.startsWith("Can't connect to Programmer\nErrorcode: Unable to open com port "
                               "(win error code: 2)\n"))
        << err.toStdString();
}

}  // namespace
}  // namespace kelvano::test
