#include "LinkFixture.h"

namespace kelvano::test {
namespace {

using Connect = LinkFixture;


TEST_F(Connect, PlainBoxIdentifiesGoesToCommandModeAndDisconnects) {
    options.loadAtCon = true;
    box.id1 = "STRAVINEX QXPLUS";
    TCom& c = make();
    c.Connect();
    EXPECT_TRUE(factoryNames == QStringList{"/dev/ttyS0"} && port->openedBaud == 115200);
    EXPECT_EQ(port->writes, (QList<QByteArray>{"QXAT\r", "QXAT!V#\r", "QXAT\r", "QXAT%\r"}));
    EXPECT_EQ(view.pane, "STRAVINEX QXPLUS * V2.10 *  Serial: 0012345");
    EXPECT_EQ(c.firmware(), TCom::Firmware::NotQxBase);
    EXPECT_TRUE(!options.portListEnabled && c.keepAliveTimer().isActive() && view.fastOpens == 1);

    c.Disconnect();
    c.Disconnect();  // the second changes nothing
    EXPECT_EQ(port->rts, (std::vector<bool>{true, false}));
    EXPECT_EQ(view.updates, (QStringList{"connected", "disconnected"}));
    EXPECT_TRUE(!c.portOpen() && view.pane.isEmpty() && options.portListEnabled);

    // A box that is gone by now: RTS fails, the port is closed all the same.
    box = FakeBox();
    connectPlainBox();
    port->failRts = EIO;
    com->Disconnect();
    EXPECT_TRUE(!com->portOpen() && host.errors.isEmpty());
}

TEST_F(Connect, FailuresNameThePortErrorOrLeaveASilentBoxWithoutKeepAlive) {
    options.loadAtCon = true;
    const std::tuple<const char*, std::function<void()>, QString> cases[] = {
        {"no such port", [&] { failOpen = true; }, "Unable to open com port (win error code: 2)"},
        // "usb" in lower case is a serial port name, not the USB model.
        {"no prompt", [&] { options.portIndex = 2, box.syncAnswersLeft = 0; }, "SetCommTimeouts failed (win error code: 8)"},
        {"id stops", [&] { box.answerId = false; }, "ReadFile function failed (win error code: 3)"},
        {"silent after id", [&] { box.id1 = "OTHER", box.syncAnswersLeft = 1; }, ""},  // stays open
    };
    for (const auto& [what, arrange, error] : cases) {
        SCOPED_TRACE(what);
        box = FakeBox(), failOpen = false, options.portIndex = 0, host.errors.clear();
        arrange();
        TCom& c = make();
        c.keepAliveTimer().start();
        c.Connect();
        const QString shown = host.errors.join('|');
        EXPECT_TRUE(error.isEmpty() ? shown.isEmpty()
                                    : shown.startsWith("Can't connect to Programmer\rErrorcode: " + error +
                                                       "\r\rKelvano is written for:\r") && host.errors.size() == 1)
            << shown.toStdString();
        EXPECT_EQ(c.portOpen(), error.isEmpty());
        EXPECT_FALSE(c.linkReady());
        EXPECT_FALSE(c.keepAliveTimer().isActive());
    }
    EXPECT_EQ(factoryNames.mid(0, 2), (QStringList{"/dev/ttyS0", "usb"}));
}

// Uploads that go through are checked against the simulator (test_sim_link.cpp).
TEST_F(Connect, QxBaseFirmwareUploadFailsOrIsRefused) {
    // The box stops answering during the upload.
    options.loadAtCon = true;
    // Version (bytes 19, 20) and revision (21) of the images are 0909, 09: not the box's 0102, 03.
    store = ImageStore(ImageStore::pack({{"QXBASE", QByteArray(100, 9)}}));
    box.syncAnswersLeft = 3;
    make().Connect();
    EXPECT_EQ(host.errors, QStringList{"Can't upload to QXBASE\rError #253"});
    EXPECT_EQ(box.uploadLines.size(), 2);
    EXPECT_FALSE(com->portOpen() || view.progressShown);
    EXPECT_EQ(com->firmware(), TCom::Firmware::Failed);

    // One byte beyond the four-digit upload addresses is refused before anything is sent;
    // the largest image that fits ends at address FFFF.
    for (int size : {0x8001, 0x8000}) {
        SCOPED_TRACE(size);
        host.errors.clear(), box = FakeBox();
        store = ImageStore(ImageStore::pack({{"QXBASE", QByteArray(size, 9)}}));
        make().Connect();
        EXPECT_EQ(host.errors.size(), size == 0x8000 ? 0 : 2);
        EXPECT_EQ(box.uploadLines.size(), size == 0x8000 ? 0x800 : 0);
    }
    EXPECT_TRUE(box.uploadLines.last().startsWith("QXATUFFF0") && box.uploadLines.last().size() == 9 + 32 + 1);
}

}  // namespace
}  // namespace kelvano::test
