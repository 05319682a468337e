#include "LinkFixture.h"
#include "link/LibusbBackend.h"

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

TEST_F(Connect, PlainBoxIdentifiesGoesToCommandModeAndDisconnects) {
    options.loadAtCon = true;
    box.id1 = "STRAVINEX QXPLUS";
    TCom& c = make();
    c.Connect();
    EXPECT_EQ(factoryNames, QStringList{"/dev/ttyS0"});
    EXPECT_EQ(port->openedBaud, 115200);
    EXPECT_EQ(port->writes, (QList<QByteArray>{"QXAT\r", "QXAT!V#\r", "QXAT\r", "QXAT%\r"}));
    EXPECT_EQ(view.pane, "STRAVINEX QXPLUS * V2.10 *  Serial: 0012345");
    EXPECT_FALSE(c.IsQxBase);
    EXPECT_EQ(c.firmware(), TCom::Firmware::NotQxBase);
    EXPECT_EQ(port->rts, std::vector<bool>{true});
    EXPECT_EQ(view.updates, QStringList{"connected"});
    EXPECT_FALSE(options.portListEnabled);
    EXPECT_TRUE(c.keepAliveTimer().isActive());
    EXPECT_EQ(view.fastOpens, 1);
    EXPECT_TRUE(host.errors.isEmpty());

    c.Disconnect();
    c.Disconnect();  // the second changes nothing
    EXPECT_FALSE(c.portOpen());
    EXPECT_EQ(port->rts, (std::vector<bool>{true, false}));
    EXPECT_EQ(view.updates, (QStringList{"connected", "disconnected"}));
    EXPECT_EQ(view.pane, "");
    EXPECT_TRUE(options.portListEnabled);

    // A box that is gone by now: RTS fails, the port is closed all the same.
    box = FakeBox();
    connectPlainBox();
    port->failRts = EIO;
    com->Disconnect();
    EXPECT_FALSE(com->portOpen());
    EXPECT_TRUE(host.errors.isEmpty());
}

TEST_F(Connect, FailuresNameThePortErrorOrLeaveASilentBoxWithoutKeepAlive) {
    options.loadAtCon = true;
    struct Case {
        const char* what;
        std::function<void()> arrange;
        QString error;  // "" for none
        QStringList updates;
        bool portOpen;
    };
    const QStringList both{"connected", "disconnected"};
    const Case cases[] = {
        {"no such port", [&] { failOpen = true; }, "Unable to open com port (win error code: 2)", {}, false},
        // "usb" in lower case is a serial port name, not the USB model.
        {"no prompt", [&] { options.portIndex = 2, box.syncAnswersLeft = 0; },
         "SetCommTimeouts failed (win error code: 8)", both, false},
        {"id stops", [&] { box.answerId = false; }, "ReadFile function failed (win error code: 3)", both, false},
        {"silent after id", [&] { box.id1 = "OTHER", box.syncAnswersLeft = 1; }, "", {"connected"}, true},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        box = FakeBox();
        failOpen = false;
        options.portIndex = 0;
        host.errors.clear();
        view.updates.clear();
        view.fastOpens = 0;
        k.arrange();
        TCom& c = make();
        c.keepAliveTimer().start();
        c.Connect();
        if (k.error.isEmpty()) {
            EXPECT_TRUE(host.errors.isEmpty());
        } else {
            ASSERT_EQ(host.errors.size(), 1);
            EXPECT_TRUE(host.errors[0].startsWith("Can't connect to Programmer\rErrorcode: " + k.error +
                                                  "\r\rKelvano is written for:\r"));
        }
        EXPECT_EQ(view.updates, k.updates);
        EXPECT_EQ(c.portOpen(), k.portOpen);
        EXPECT_FALSE(c.linkReady());
        EXPECT_FALSE(c.keepAliveTimer().isActive());
        EXPECT_EQ(view.fastOpens, 0);
        EXPECT_TRUE(usbBackend.openAttempts.empty());
    }
    EXPECT_EQ(factoryNames.mid(0, 2), (QStringList{"/dev/ttyS0", "usb"}));
}

TEST_F(Connect, QxBaseFirmwareIsSkippedUploadedOrRefused) {
    // No firmware carried: no check.
    make().Connect();
    EXPECT_TRUE(com->linkReady());
    EXPECT_FALSE(port->writes.contains("QXATQ\r"));
    EXPECT_EQ(com->firmware(), TCom::Firmware::NoImage);
    EXPECT_EQ(view.debug.size(), 1);

    // Another revision: the whole image goes up, one sync before each line.
    const QByteArray image = firmwareImage(40, 0x0102, 0x04);
    store = ImageStore(ImageStore::pack({{"QXBASE", image}}));
    box = FakeBox();
    make().Connect();
    EXPECT_TRUE(com->linkReady());
    EXPECT_EQ(com->firmware(), TCom::Firmware::Uploaded);
    EXPECT_EQ(view.captions, QStringList{"Uploading to QXBASE..."});
    EXPECT_FALSE(view.progressShown);
    EXPECT_EQ(view.progressTotal, 40);
    QByteArray sent = image;  // length - 4 in bytes 2-3, the sum of bytes 2.. in bytes 0-1
    sent[2] = 36;
    uint sum = 0;
    for (int i = 2; i < 40; ++i) sum += uchar(sent[i]);
    sent[0] = char(sum & 0xFF);
    sent[1] = char(sum >> 8);
    const QList<QByteArray> lines{"QXATU8000" + sent.mid(0, 16).toHex().toUpper() + "\r",
                                  "QXATU8010" + sent.mid(16, 16).toHex().toUpper() + "\r",
                                  "QXATU8020" + sent.mid(32).toHex().toUpper() + "\r"};
    EXPECT_EQ(port->writes.mid(port->writes.indexOf("QXATQ\r") + 1),
              (QList<QByteArray>{"QXAT\r", lines[0], "QXAT\r", lines[1], "QXAT\r", lines[2], "QXAT\r",
                                 "QXAT\r", "QXAT\r", "QXAT%\r"}));

    // The box stops answering during the upload.
    options.loadAtCon = true;
    store = ImageStore(ImageStore::pack({{"QXBASE", firmwareImage(100, 0x0999, 0)}}));
    box = FakeBox();
    box.syncAnswersLeft = 3;
    view.updates.clear();
    make().Connect();
    EXPECT_EQ(host.errors, QStringList{"Can't upload to QXBASE\rError #253"});
    EXPECT_EQ(box.uploadLines.size(), 2);
    EXPECT_FALSE(com->portOpen());
    EXPECT_FALSE(view.progressShown);
    EXPECT_EQ(view.updates, (QStringList{"connected", "disconnected"}));
    EXPECT_EQ(view.fastOpens, 0);
    EXPECT_EQ(com->firmware(), TCom::Firmware::Failed);

    // One byte beyond the four-digit upload addresses is refused before anything is sent;
    // the largest image that fits ends at address FFFF.
    for (int size : {0x8001, 0x8000}) {
        SCOPED_TRACE(size);
        host.errors.clear();
        box = FakeBox();
        store = ImageStore(ImageStore::pack({{"QXBASE", firmwareImage(size, 1, 1)}}));
        make().Connect();
        EXPECT_EQ(port->writes.contains("QXATQ\r"), size == 0x8000);
        EXPECT_EQ(host.errors.size(), size == 0x8000 ? 0 : 2);
        EXPECT_EQ(box.uploadLines.size(), size == 0x8000 ? 0x800 : 0);
    }
    EXPECT_TRUE(box.uploadLines.last().startsWith("QXATUFFF0"));
    EXPECT_EQ(box.uploadLines.last().size(), 9 + 32 + 1);
}

TEST(Usb, OpensTheFirstPresentDeviceReadsPipesAndDescriptors) {
    FakeUsbBackend b;
    TUsb usb(&b);
    b.present = {2, 5};
    ASSERT_TRUE(usb.UsbOpen("ezusb"));
    EXPECT_EQ(b.openAttempts, (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(usb.FindPipe(0x02), -1);  // no pipe table read yet
    b.endpoints = {0x81, 0x02, 0x82, 0x02};
    ASSERT_TRUE(usb.GetPipeInfo());
    EXPECT_EQ(usb.FindPipe(0x02), 1);  // the lowest index wins
    EXPECT_EQ(usb.FindPipe(0x82), 2);
    EXPECT_EQ(usb.FindPipe(0x86), -1);
    b.endpoints.assign(40, 0x01);  // a count beyond the 336-byte record stops at its end
    ASSERT_TRUE(usb.GetPipeInfo());
    EXPECT_EQ(usb.pipeCount(), 16);
    b.failPipeInfo = true;
    EXPECT_FALSE(usb.GetPipeInfo());
    EXPECT_EQ(usb.FindPipe(0x01), -1);

    // Descriptors: the length byte first, then the whole; the low byte of each character,
    // what arrived of a descriptor that announced more.
    b.descriptor = FakeUsbBackend::stringDescriptorBytes("ABCD");  // length 10
    EXPECT_EQ(usb.GetStringDescriptor(2), "ABCD");
    EXPECT_EQ(b.descriptorRequests, (std::vector<std::pair<int, int>>{{2, 1}, {2, 10}}));
    b.descriptor = FakeUsbBackend::stringDescriptorBytes("");
    EXPECT_EQ(usb.GetStringDescriptor(2), "");
    b.descriptor = QByteArray::fromHex("070341" "01" "E9" "00" "5A");
    EXPECT_EQ(usb.GetStringDescriptor(2), QString("A") + QChar(0xE9) + "Z");
    b.descriptor = QByteArray::fromHex("1403" "4100" "4200");
    EXPECT_EQ(usb.GetStringDescriptor(2), "AB");
    EXPECT_EQ(usb.GetStringDescriptor(1), "");  // the request fails

    usb.UsbClose();
    usb.UsbClose();
    EXPECT_FALSE(b.isOpen());
    b.present = {};
    EXPECT_FALSE(usb.UsbOpen("ezusb"));
    EXPECT_EQ(b.openAttempts.size(), 3u + 10u);

    // Without a backend, or with libusb and no box at number 9, everything fails quietly.
    TUsb none;
    EXPECT_FALSE(none.UsbOpen("ezusb"));
    EXPECT_EQ(none.BulkRead(0, nullptr, 0), -1);
    LibusbBackend libusb;
    EXPECT_FALSE(libusb.openDevice(9));
    EXPECT_FALSE(TUsb(&libusb).BulkWrite(0, "x"));
    EXPECT_EQ(TUsb(&libusb).GetStringDescriptor(2), "");
}

TEST_F(Connect, UsbWithAMissingPieceShowsTheNotFoundMessage) {
    options.portIndex = 1;  // "USB"
    options.loadAtCon = true;
    const std::pair<const char*, std::function<void()>> cases[] = {
        {"no device", [&] { usbBackend.present = {}; }},
        {"no QXUSB image", [&] { store = ImageStore(ImageStore::pack({{"QXBASE", "x"}})); }},
        {"no pipe table", [&] { usbBackend.failPipeInfo = true; }},
        {"no endpoint 0x82", [&] { usbBackend.endpoints = {0x02, 0x81}; }},
        {"no endpoint 0x02", [&] { usbBackend.endpoints = {0x82}; }},
        // The box does not take its first packet: no half-open link that claims to be up.
        {"first packet refused", [&] { usbBackend.failWritesFrom = 0; }},
    };
    for (const auto& [what, arrange] : cases) {
        SCOPED_TRACE(what);
        usbBackend = FakeUsbBackend();
        store = ImageStore(ImageStore::pack({{"QXUSB", "usb"}}));
        host.errors.clear();
        view.updates.clear();
        arrange();
        TCom& c = make();
        c.Connect();
        EXPECT_EQ(host.errors, QStringList{"STRAVINEX-USB not found!\r\rPlease connect your Stravinex "
                                           "to the USB port\ror install the USB device driver."});
        EXPECT_FALSE(c.UsbConnected);
        EXPECT_FALSE(usbBackend.isOpen());
        EXPECT_EQ(view.updates, QStringList{"disconnected"});
        EXPECT_EQ(view.fastOpens, 0);
        EXPECT_LE(usbBackend.bulkWrites.size(), 1u);
        EXPECT_TRUE(factoryNames.isEmpty());
    }
}

}  // namespace
}  // namespace kelvano::test
