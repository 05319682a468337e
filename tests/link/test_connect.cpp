#include <QTemporaryDir>

#include "LinkFixture.h"
#include "cli/CliRun.h"

namespace kelvano::test {
namespace {

using Connect = LinkFixture;

TEST_F(Connect, PlainBoxIdentifiesGoesToCommandModeAndDisconnects) {
    options.loadAtCon = true;
    box.id1 = "STRAVINEX QXPLUS";
    TCom& c = make();
    c.Connect();
    EXPECT_TRUE(port->openedName == "/dev/ttyS0" && port->openedBaud == 115200);
    EXPECT_EQ(port->writes, (QList<QByteArray>{"QXAT\r", "QXAT!V#\r", "QXAT\r", "QXAT%\r"}));
    EXPECT_EQ(view.pane, "STRAVINEX QXPLUS * V2.10 *  Serial: 0012345");
    EXPECT_EQ(c.firmware(), TCom::Firmware::NotQxBase);
    EXPECT_TRUE(!options.portListEnabled && c.keepAliveTimer().isActive() && view.fastOpens == 1);
    // Not the simulated box, yet an ordinary loader may go onto its card.
    EXPECT_EQ(c.loaderRefusal("FUNLOAD", "KELVANO-SIM-DEMO-LOADEX FUNLOAD"), "");

    c.Disconnect();
    c.Disconnect();  // the second changes nothing
    EXPECT_EQ(port->rts, (std::vector<bool>{true, false}));
    EXPECT_EQ(view.updates, (QStringList{"connected", "disconnected"}));
    EXPECT_TRUE(!c.portOpen() && view.pane.isEmpty() && options.portListEnabled);
}

TEST_F(Connect, FailuresNameThePortErrorAfterTheirWaitsOrLeaveASilentBoxWithoutKeepAlive) {
    options.loadAtCon = true;
    const std::tuple<const char*, std::function<void()>, QString, qint64> cases[] = {
        // The system's words for its error number and the port's name follow the number; the
        // box's own silences keep their fixed numbers alone.
        {"no such port", [&] { box.failOpen = true; },
         "Unable to open com port (win error code: 2): No such file or directory on /dev/ttyS0", 0},
        // "usb" in lower case is a serial port name, not the USB model; an identity may name only
        // the model.
        {"no prompt", [&] { options.portIndex = 2, box.syncAnswersLeft = 0; },
         "SetCommTimeouts failed (win error code: 8)", 1500},
        {"id stops", [&] { box.answerId = false; }, "ReadFile function failed (win error code: 3)",
         150},
        {"silent after id", [&] { box.id1 = "QX200 rev B", box.syncAnswersLeft = 1; }, "", 1500},
    };
    for (const auto& [what, arrange, error, took] : cases) {
        SCOPED_TRACE(what);
        box = FakeBox(), options.portIndex = 0, host.errors.clear();
        arrange();
        TCom& c = make();
        c.keepAliveTimer().start();
        EXPECT_EQ(elapsed([&] { c.Connect(); }), took);
        const QString shown = host.errors.join('|');
        EXPECT_TRUE(error.isEmpty() ? shown.isEmpty()
                                    : shown.startsWith("Can't connect to Programmer\rErrorcode: " +
                                                       error + "\r\rKelvano is written for:\r") &&
                                          host.errors.size() == 1)
            << shown.toStdString();
        EXPECT_EQ(c.portOpen(), error.isEmpty());
        EXPECT_FALSE(c.linkReady() || c.keepAliveTimer().isActive());
    }
}

TEST_F(Connect, AnAnswerWithoutTheFormOfAnIdentityIsAskedOnceMoreThenRefused) {
    // The answer to the first ask, given twice unless `once`: then the box's usual identity.
    const std::pair<QByteArray, bool> answers[] = {
        // a late box's prompts, or another sender's bytes in front of the identity, once
        {">>>STRAVINEX QXBASE\rV2.10\r0012345\r", true},
        {"HELLOHELSTRAVINEX QXBASE\rV2.10\r0012345\r", true},
        // noise with line ends of its own moves the box's lines down
        {"HELLO\rSTRAVINEX QXBASE\rV2.10\r0012345\r", false},
        {"HELLOHELSTRAVINEX QXBASE\rV2.10\r0012345\r", false},
        // noise or an echo that starts like an identity
        {"QXATQXATSTRAVINEX QXBASE\rV2.10\r0012345\r", false},
        {"QXBAQXBASTRAVINEX QXBASE\rV2.10\r0012345\r", false},
        {"STRAVINEX QXBASTRAVINEX QXBASE\rV2.10\r0012345\r", false},
        {"QXBASEQXBASE\rV2.10\r0012345\r", false},
        {"QXbase\rV2.10\r0012345\r", false},
        {"STRAVINEX QXBASE\rQXAT!V#\r0012345\r", false},
        {"STRAVINEX QXBASE\rV2.10\r0012345 HELLO\r", false},
        {"STRAVINEX QXBASE\rV2.10\r0012345>", false},
        {"STRAVINEX QXBASE\r\r0012345\r", false},
        {"STRAVINEX QXBASE\r" + QByteArray(65, 'V') + "\r0012345\r", false},
    };
    for (const auto& [answer, once] : answers) {
        SCOPED_TRACE(answer.toStdString());
        box = FakeBox(), host.errors.clear(), view.pane = "untouched";
        box.id1 = "STRAVINEX QXPLUS";
        box.idAnswers = once ? QList<QByteArray>{answer} : QList<QByteArray>{answer, answer};
        make().Connect();
        EXPECT_EQ(port->writes.count("QXAT!V#\r"), 2);
        EXPECT_EQ(view.pane, once ? "STRAVINEX QXPLUS * V2.10 *  Serial: 0012345" : "");
        EXPECT_TRUE(com->linkReady() == once && com->portOpen() == once);
        EXPECT_TRUE(!once || com->firmware() == TCom::Firmware::NotQxBase);
        EXPECT_TRUE(
            once ? host.errors.isEmpty()
                 : host.errors.size() == 1 &&
                       host.errors[0].startsWith("Can't connect to Programmer\rErrorcode: "
                                                 "the box did not identify itself (answer \""))
            << host.errors.join('|').toStdString();
    }
}

// A USB box whose pieces each test can take away.
struct FakeUsbBackend : UsbBackend {
    int present = 0, openK = -1;  // the device number that opens (-1: none)
    std::vector<int> endpoints{0x81, 0x02, 0x82};
    bool failPipeInfo = false, failWrites = false;

    bool openDevice(int k) override { return (openK = k == present ? k : -1) >= 0; }
    void closeDevice() override { openK = -1; }
    bool isOpen() const override { return openK >= 0; }
    bool pipeInfo(QByteArray& info) override {
        info = QByteArray(336, '\0');
        info[12] = char(endpoints.size());
        for (size_t i = 0; i < endpoints.size(); ++i) info[16 + 20 * i + 2] = char(endpoints[i]);
        return !failPipeInfo;
    }
    bool stringDescriptor(int, int, QByteArray&) override { return false; }
    bool bulkWrite(int, const QByteArray&) override { return !failWrites; }
    int bulkRead(int, uint8_t* buffer, int) override { return buffer[0] = 0, 1; }
};

// The header the upload writes: bytes 0-1 the little-endian sum of bytes 2 to the end (taken
// after bytes 2-3 hold the length), bytes 2-3 the length minus 4, little-endian. The box then
// runs that version: the next connect leaves it.
TEST_F(Connect, QxBaseFirmwareUploadWritesLengthAndChecksumIntoTheHeader) {
    QByteArray image(40, '\0');
    for (int i = 0; i < 40; ++i) image[i] = char(i + 1);  // version 1415, revision 16
    store = ImageStore(ImageStore::pack({{"QXBASE", image}}));
    make().Connect();
    // Length 36 = 0x0024; sum 0x24 + 0x00 + (5 + 6 + ... + 40) = 846 = 0x034E.
    EXPECT_EQ(box.uploadLines, (QList<QByteArray>{"QXATU80004E03240005060708090A0B0C0D0E0F10\r",
                                                  "QXATU80101112131415161718191A1B1C1D1E1F20\r",
                                                  "QXATU80202122232425262728\r"}));
    EXPECT_EQ(port->writes.count("QXATQ\r"), 2);  // asked before and after
    EXPECT_TRUE(com->firmware() == TCom::Firmware::Uploaded && host.errors.isEmpty());
    EXPECT_TRUE(com->linkReady() && !view.progressShown);
    box.uploadLines.clear(), box.commandMode = false;  // the box starts again, in prompt mode
    make().Connect();
    EXPECT_TRUE(box.uploadLines.isEmpty() && port->writes.count("QXATQ\r") == 1);
    EXPECT_TRUE(com->firmware() == TCom::Firmware::Current && host.errors.isEmpty());
}

TEST_F(Connect, QxBaseFirmwareIsLeftWhenCurrentOrReportedWithTheLinkClosedWhenItCannotGoUp) {
    const QString noUpload = "Can't upload to QXBASE\rError #253";
    // Version (bytes 19, 20) and revision (21) of these images are 0909, 09; the box reports
    // 0102, 03 unless told otherwise.
    const std::tuple<const char*, int, std::function<void()>, int, QString, TCom::Firmware>
        cases[] = {
            {"box stops answering", 100, [&] { box.syncAnswersLeft = 3; }, 2, noUpload,
             TCom::Firmware::Failed},
            {"box refuses the lines", 40, [&] { box.takeUpload = false; }, 3,
             noUpload + "\r\rThe box refused the firmware: after the upload it still reports "
                        "version 010203, not 090909.",
             TCom::Firmware::Refused},
            {"port fails", 100, [&] { box.breakPortAt = "QXATU8010"; }, 2,
             "Can't connect to Programmer\rErrorcode: WriteFile function failed (win",
             TCom::Firmware::Failed},
            // Beyond the four-digit addresses from 8000: refused before anything is sent.
            {"too large", 0x8001, [] {}, 0,
             "QXBASE firmware image of 32769 bytes refused: it must hold 22 to 32768 bytes.|" +
                 noUpload,
             TCom::Firmware::Failed},
            {"largest", 0x8000, [] {}, 0x800, "", TCom::Firmware::Uploaded},
        };
    for (const auto& [what, size, arrange, lines, error, state] : cases) {
        SCOPED_TRACE(what);
        box = FakeBox(), host.errors.clear();
        store = ImageStore(ImageStore::pack({{"QXBASE", QByteArray(size, 9)}}));
        arrange();
        make().Connect();
        EXPECT_EQ(box.uploadLines.size(), lines);
        EXPECT_TRUE(error.isEmpty() ? host.errors.isEmpty()
                                    : host.errors.join('|').startsWith(error))
            << host.errors.join('|').toStdString();
        EXPECT_EQ(com->firmware(), state);
        EXPECT_EQ(com->portOpen(), error.isEmpty());
        EXPECT_FALSE(view.progressShown);
        const QByteArray lastAtFFF0 = "QXATUFFF0" + QByteArray(16, 9).toHex() + '\r';
        EXPECT_TRUE(size != 0x8000 || box.uploadLines.value(lines - 1) == lastAtFFF0);
    }
}

// The USB model: every missing piece ends in the same message, with no link left half up. The
// box is looked for only with the store's QXUSB entry: a damaged store is named.
TEST_F(Connect, UsbWithAMissingPieceShowsTheNotFoundMessage) {
    options.portIndex = 1;  // "USB"
    options.loadAtCon = true;
    FakeUsbBackend fake;
    usb.setBackend(&fake);
    QTemporaryDir dir;
    const std::tuple<const char*, std::function<void()>, QString> cases[] = {
        {"no device", [&] { fake.present = -1; }, ""},
        {"no QXUSB image", [&] { store = ImageStore(); }, ""},
        {"damaged store",
         [&] { store = ImageStore::fromFile(writeFile(dir, "kelvano.store", {})); },
         "\r\rThe image store " + dir.filePath("kelvano.store") +
             " is damaged: the file is empty."},
        {"no pipe table", [&] { fake.failPipeInfo = true; }, ""},
        {"no endpoint 0x82", [&] { fake.endpoints.pop_back(); }, ""},
        {"no endpoint 0x02", [&] { fake.endpoints = {0x82}; }, ""},
        {"first packet refused", [&] { fake.failWrites = true; }, ""},
    };
    for (const auto& [what, arrange, named] : cases) {
        SCOPED_TRACE(what);
        fake = FakeUsbBackend();
        store = ImageStore(ImageStore::pack({{"QXUSB", "usb"}}));
        host.errors.clear(), view.updates.clear();
        arrange();
        make().Connect();
        EXPECT_EQ(host.errors,
                  QStringList{"STRAVINEX-USB not found!\r\rPlease connect your Stravinex "
                              "to the USB port\ror install the USB device driver." +
                              named});
        EXPECT_FALSE(com->linkReady() || fake.isOpen());
        EXPECT_EQ(view.updates, QStringList{"disconnected"});
    }
    EXPECT_EQ(port, nullptr);  // no serial port was made
}

}  // namespace
}  // namespace kelvano::test
