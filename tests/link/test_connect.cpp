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
        {"no prompt", [&] { options.portIndex = 2, box.syncAnswersLeft = 0; },
         "SetCommTimeouts failed (win error code: 8)"},
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
                                    : shown.startsWith("Can't connect to Programmer\rErrorcode: " +
                                                       error + "\r\rKelvano is written for:\r") &&
                                          host.errors.size() == 1)
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
    EXPECT_TRUE(box.uploadLines.last().startsWith("QXATUFFF0") &&
                box.uploadLines.last().size() == 9 + 32 + 1);
    EXPECT_EQ(com->firmware(), TCom::Firmware::Uploaded);
}

// The header the upload writes: bytes 0-1 the little-endian sum of bytes 2 to the end (taken
// after bytes 2-3 hold the length), bytes 2-3 the length minus 4, little-endian.
TEST_F(Connect, UploadWritesLengthAndChecksumIntoTheHeader) {
    QByteArray image(40, '\0');
    for (int i = 0; i < 40; ++i) image[i] = char(i + 1);  // version 1415, revision 16
    store = ImageStore(ImageStore::pack({{"QXBASE", image}}));
    make().Connect();
    // Length 36 = 0x0024; sum 0x24 + 0x00 + (5 + 6 + ... + 40) = 846 = 0x034E.
    EXPECT_EQ(box.uploadLines, (QList<QByteArray>{"QXATU80004E03240005060708090A0B0C0D0E0F10\r",
                                                  "QXATU80101112131415161718191A1B1C1D1E1F20\r",
                                                  "QXATU80202122232425262728\r"}));
    EXPECT_EQ(com->firmware(), TCom::Firmware::Uploaded);
    EXPECT_TRUE(host.errors.isEmpty());
}

TEST_F(Connect, UploadTheBoxAnswersWithErrorIsReportedAsRefused) {
    store = ImageStore(ImageStore::pack({{"QXBASE", QByteArray(40, 9)}}));
    box.takeUpload = false;  // every line answered, the version stays 0102 03
    make().Connect();
    EXPECT_EQ(box.uploadLines.size(), 3);
    EXPECT_EQ(port->writes.count("QXATQ\r"), 2);  // asked again after the upload
    EXPECT_EQ(
        host.errors,
        QStringList{"Can't upload to QXBASE\rError #253\r\rThe box refused the "
                    "firmware: after the upload it still reports version 010203, not 090909."});
    EXPECT_EQ(com->firmware(), TCom::Firmware::Refused);
    EXPECT_EQ(TCom::firmwareText(TCom::Firmware::Refused),
              "upload refused by the box (it still reports its old version)");
    EXPECT_FALSE(com->portOpen() || view.progressShown);
}

TEST_F(Connect, PortErrorDuringTheUploadClosesTheProgressWindow) {
    store = ImageStore(ImageStore::pack({{"QXBASE", QByteArray(100, 9)}}));
    box.script = [this](FakeSerialPort& p, const QByteArray& w) {
        if (w.startsWith("QXATU8010")) p.failWrite = true;  // the next write fails
        return false;
    };
    make().Connect();
    EXPECT_EQ(box.uploadLines.size(), 2);
    EXPECT_EQ(host.errors.size(), 1);
    EXPECT_TRUE(host.errors.value(0).startsWith(
        "Can't connect to Programmer\rErrorcode: WriteFile function failed"));
    EXPECT_FALSE(view.progressShown);
    EXPECT_FALSE(com->portOpen());
}

// A box that keeps sending without a prompt or line end cannot hold the connect: each prompt
// step ends within its bound and the connect fails with the usual message.
TEST_F(Connect, EndlessBytesWithoutPromptEndTheConnectInBoundedTime) {
    struct Case {
        const char* what;
        bool onSync;   // the noise answers "QXAT\r" (else the identity request)
        int gapMs;     // between noise bytes
        qint64 maxMs;  // the whole connect
        QString error;
    };
    const Case cases[] = {
        // 14 ms apart: under the 15 ms sync wait, so only the sync's own bound ends it.
        {"sync, steady", true, 14, 3100, "SetCommTimeouts failed (win error code: 8)"},
        {"sync, at once", true, 0, 200, "SetCommTimeouts failed (win error code: 8)"},
        // The identity line: 140 ms apart ends by its time bound (2 s), 1 ms apart by its
        // length (128 characters).
        {"line, slow", false, 140, 2300, "ReadFile function failed (win error code: 3)"},
        {"line, fast", false, 1, 300, "ReadFile function failed (win error code: 3)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        box = FakeBox(), host.errors.clear();
        box.script = [&c](FakeSerialPort& p, const QByteArray& w) {
            if (w != (c.onSync ? "QXAT\r" : "QXAT!V#\r")) return false;
            for (int i = 0; i < 4000; ++i) p.send("A", qint64(c.gapMs) * i);
            return true;
        };
        const qint64 took = elapsed([&] { make().Connect(); });
        EXPECT_LE(took, c.maxMs);
        EXPECT_EQ(host.errors.size(), 1);
        EXPECT_TRUE(
            host.errors.value(0).startsWith("Can't connect to Programmer\rErrorcode: " + c.error))
            << host.errors.value(0).toStdString();
        EXPECT_FALSE(com->portOpen());
    }
}

TEST_F(Connect, PromptsInPlaceOfTheIdentityAreRetriedOnceThenRefused) {
    box.id1 = "STRAVINEX QXPLUS";
    // A late box: the first identity answer is nothing but prompts.
    box.idAnswers = {">>>"};
    make().Connect();
    EXPECT_EQ(port->writes.count("QXAT!V#\r"), 2);
    EXPECT_TRUE(host.errors.isEmpty());
    EXPECT_EQ(view.pane, "STRAVINEX QXPLUS * V2.10 *  Serial: 0012345");
    EXPECT_TRUE(com->linkReady());

    const QByteArray blank[] = {"\r\n\r\n\r\n", "> \r>\r0012345\r", "A\rB\r>"};
    for (const QByteArray& answer : blank) {
        SCOPED_TRACE(answer.toStdString());
        box = FakeBox(), host.errors.clear(), view.pane = "untouched";
        box.idAnswers = {answer, answer};
        make().Connect();
        EXPECT_EQ(port->writes.count("QXAT!V#\r"), 2);
        EXPECT_EQ(host.errors.size(), 1);
        EXPECT_TRUE(host.errors.value(0).startsWith(
            "Can't connect to Programmer\rErrorcode: the box did not identify itself (answer \""))
            << host.errors.value(0).toStdString();
        EXPECT_FALSE(com->portOpen() || com->linkReady());
        EXPECT_TRUE(view.pane.isEmpty());
    }
}

}  // namespace
}  // namespace kelvano::test
