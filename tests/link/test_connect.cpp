#include "LinkFixture.h"

namespace kelvano::test {
namespace {

using Connect = LinkFixture;

QByteArray firmwareImage(int size, int version, int revision) {
    QByteArray image(size, '\0');
    for (int i = 4; i < size; ++i) image[i] = char(i * 13 + 1);
    image[19] = char(version >> 8);
    image[20] = char(version & 0xFF);
    image[21] = char(revision);
    return image;
}

const char kConnectFailure[] =
    "Can't connect to Programmer\rErrorcode: %1\r\rKelvano is written for:\r";

TEST_F(Connect, PlainBoxIdentifiesAndGoesStraightToCommandMode) {
    options.loadAtCon = true;
    TCom& c = make();
    box.id1 = "STRAVINEX QXPLUS";
    c.Connect();

    EXPECT_EQ(factoryNames, QStringList{"/dev/ttyS0"});
    EXPECT_EQ(port->openedBaud, 115200);
    EXPECT_EQ(port->writes, (QList<QByteArray>{"QXAT\r", "QXAT!V#\r", "QXAT\r", "QXAT%\r"}));
    EXPECT_EQ(c.IdLine1, "STRAVINEX QXPLUS");
    EXPECT_EQ(c.IdLine2, "V2.10");
    EXPECT_EQ(c.IdLine3, "0012345");
    EXPECT_FALSE(c.IsQxBase);
    EXPECT_EQ(view.pane, "STRAVINEX QXPLUS * V2.10 *  Serial: 0012345");
    EXPECT_EQ(port->rts, std::vector<bool>{true});
    EXPECT_EQ(view.updates, QStringList{"connected"});
    EXPECT_FALSE(options.portListEnabled);
    EXPECT_TRUE(c.keepAliveTimer().isActive());
    EXPECT_EQ(c.MissCount, 0);
    EXPECT_EQ(view.fastOpens, 1);
    EXPECT_EQ(c.firmware(), TCom::Firmware::NotQxBase);
    EXPECT_TRUE(host.errors.isEmpty());
    EXPECT_GE(host.pumps, 2);

    // Disconnect drops RTS and shows the disconnected state; a second one changes nothing.
    c.Disconnect();
    EXPECT_FALSE(c.portOpen());
    EXPECT_EQ(port->rts, (std::vector<bool>{true, false}));
    EXPECT_EQ(view.updates, (QStringList{"connected", "disconnected"}));
    EXPECT_EQ(view.pane, "");
    EXPECT_TRUE(options.portListEnabled);
    c.Disconnect();
    EXPECT_EQ(view.updates.size(), 2);
}

TEST_F(Connect, FailuresBeforeIdentificationNameThePortError) {
    // The port cannot be opened: the window never shows the connected state.
    TCom& c = make();
    options.portIndex = 2;  // "usb": lower case is a serial port name, not the USB model
    box.answerSync = false;
    c.keepAliveTimer().start();
    c.Connect();
    EXPECT_EQ(factoryNames, QStringList{"usb"});
    EXPECT_FALSE(c.UsbSelected);
    EXPECT_TRUE(usbBackend.openAttempts.empty());
    // A box that never answers the prompt: a hundred attempts, then the time-out text.
    ASSERT_EQ(host.errors.size(), 1);
    EXPECT_TRUE(host.errors[0].startsWith(
        QString(kConnectFailure).arg("SetCommTimeouts failed (win error code: 8)")));
    EXPECT_EQ(host.errors[0].count('\r'), 6);
    EXPECT_EQ(port->writes.size(), 100);
    EXPECT_EQ(view.updates, (QStringList{"connected", "disconnected"}));
    EXPECT_FALSE(c.portOpen());
    EXPECT_FALSE(c.keepAliveTimer().isActive());

    // No such port.
    host.errors.clear();
    view.updates.clear();
    options.portIndex = 0;
    box.answerSync = true;
    com = std::make_unique<TCom>(host, clock, view, options, usb,
                                 [this](const QString&) {
                                     auto p = std::make_unique<FakeSerialPort>(clock);
                                     p->failOpen = true;
                                     return p;
                                 },
                                 store);
    options.loadAtCon = true;
    com->Connect();
    ASSERT_EQ(host.errors.size(), 1);
    EXPECT_TRUE(host.errors[0].startsWith(
        QString(kConnectFailure).arg("Unable to open com port (win error code: 2)")));
    EXPECT_TRUE(view.updates.isEmpty());
    EXPECT_EQ(view.fastOpens, 0);

    // The identification stops after two lines.
    host.errors.clear();
    make();
    box.answerId = false;
    com->Connect();
    ASSERT_EQ(host.errors.size(), 1);
    EXPECT_TRUE(host.errors[0].startsWith(
        QString(kConnectFailure).arg("ReadFile function failed (win error code: 3)")));
    EXPECT_FALSE(com->portOpen());
}

TEST_F(Connect, SilentBoxAfterIdentificationLeavesThePortOpenWithoutKeepAlive) {
    options.loadAtCon = true;
    box.id1 = "OTHER";
    box.syncAnswersLeft = 1;  // answers the first sync only
    TCom& c = make();
    c.Connect();
    EXPECT_TRUE(c.portOpen());
    EXPECT_FALSE(c.linkReady());
    EXPECT_FALSE(c.keepAliveTimer().isActive());
    EXPECT_EQ(view.updates, QStringList{"connected"});
    EXPECT_EQ(view.fastOpens, 0);
    EXPECT_TRUE(host.errors.isEmpty());
    EXPECT_FALSE(port->writes.contains("QXAT%\r"));
}

TEST_F(Connect, QxBaseWithoutCarriedFirmwareSkipsTheCheck) {
    TCom& c = make();
    c.Connect();
    EXPECT_TRUE(c.IsQxBase);
    EXPECT_TRUE(c.linkReady());
    EXPECT_FALSE(port->writes.contains("QXATQ\r"));
    EXPECT_EQ(c.firmware(), TCom::Firmware::NoImage);
    ASSERT_EQ(view.debug.size(), 1);
    EXPECT_TRUE(view.debug[0].contains("QXBASE")) << view.debug[0].toStdString();
    EXPECT_TRUE(host.errors.isEmpty());
}

TEST_F(Connect, QxBaseWithOtherFirmwareGetsTheWholeImage) {
    const QByteArray image = firmwareImage(40, 0x0102, 0x04);  // revision differs
    store = ImageStore(ImageStore::pack({{"QXBASE", image}}));
    TCom& c = make();
    c.Connect();
    EXPECT_TRUE(c.linkReady());
    EXPECT_EQ(c.firmware(), TCom::Firmware::Uploaded);
    EXPECT_EQ(progress.captions, QStringList{"Uploading to QXBASE..."});
    EXPECT_FALSE(progress.shown);
    EXPECT_EQ(progress.total, 40);

    // Header: length - 4 in bytes 2-3, then the sum of bytes 2.. in bytes 0-1.
    QByteArray sent = image;
    sent[2] = 36;
    sent[3] = 0;
    uint sum = 0;
    for (int i = 2; i < 40; ++i) sum += uchar(sent[i]);
    sent[0] = char(sum & 0xFF);
    sent[1] = char(sum >> 8);
    ASSERT_EQ(box.uploadLines.size(), 3);
    EXPECT_EQ(box.uploadLines[0], "QXATU8000" + sent.mid(0, 16).toHex().toUpper() + "\r");
    EXPECT_EQ(box.uploadLines[1], "QXATU8010" + sent.mid(16, 16).toHex().toUpper() + "\r");
    EXPECT_EQ(box.uploadLines[2], "QXATU8020" + sent.mid(32, 8).toHex().toUpper() + "\r");
    // A prompt sync before every line, one after the last and the final one.
    const qsizetype q = port->writes.indexOf("QXATQ\r");
    EXPECT_EQ(port->writes.mid(q + 1),
              (QList<QByteArray>{"QXAT\r", box.uploadLines[0], "QXAT\r", box.uploadLines[1], "QXAT\r",
                                 box.uploadLines[2], "QXAT\r", "QXAT\r", "QXAT\r", "QXAT%\r"}));
}

TEST_F(Connect, FirmwareUploadFailuresDisconnectWithTheUploadMessage) {
    // The box stops answering during the upload.
    store = ImageStore(ImageStore::pack({{"QXBASE", firmwareImage(100, 0x0999, 0)}}));
    box.syncAnswersLeft = 3;
    options.loadAtCon = true;
    TCom& c = make();
    c.Connect();
    EXPECT_EQ(host.errors, QStringList{"Can't upload to QXBASE\rError #253"});
    EXPECT_EQ(box.uploadLines.size(), 2);
    EXPECT_FALSE(c.portOpen());
    EXPECT_FALSE(progress.shown);
    EXPECT_EQ(view.updates, (QStringList{"connected", "disconnected"}));
    EXPECT_EQ(view.fastOpens, 0);
    EXPECT_EQ(c.firmware(), TCom::Firmware::Failed);

    // An image beyond the four-digit upload addresses is refused before anything is sent.
    host.errors.clear();
    box = FakeBox();
    store = ImageStore(ImageStore::pack({{"QXBASE", firmwareImage(0x8001, 1, 1)}}));
    make().Connect();
    ASSERT_EQ(host.errors.size(), 2);
    EXPECT_TRUE(host.errors[0].contains("32769"));
    EXPECT_EQ(host.errors[1], "Can't upload to QXBASE\rError #253");
    EXPECT_FALSE(port->writes.contains("QXATQ\r"));
    EXPECT_TRUE(box.uploadLines.isEmpty());

    // The largest image that fits ends at address FFFF.
    host.errors.clear();
    box = FakeBox();
    store = ImageStore(ImageStore::pack({{"QXBASE", firmwareImage(0x8000, 1, 1)}}));
    make().Connect();
    EXPECT_TRUE(host.errors.isEmpty());
    ASSERT_EQ(box.uploadLines.size(), 0x800);
    EXPECT_TRUE(box.uploadLines.last().startsWith("QXATUFFF0"));
    EXPECT_EQ(box.uploadLines.last().size(), 9 + 32 + 1);
}

TEST_F(Connect, DisconnectLetsGoOfABoxThatIsGone) {
    TCom& c = connectPlainBox();
    port->failRts = EIO;
    c.Disconnect();
    EXPECT_FALSE(c.portOpen());
    EXPECT_FALSE(view.connected);
    EXPECT_TRUE(host.errors.isEmpty());

    // With nothing open, Disconnect only stops the keep-alive and empties the pane.
    view.updates.clear();
    view.pane = "x";
    c.keepAliveTimer().start();
    c.Disconnect();
    EXPECT_FALSE(c.keepAliveTimer().isActive());
    EXPECT_EQ(view.pane, "");
    EXPECT_TRUE(view.updates.isEmpty());
}

}  // namespace
}  // namespace kelvano::test
