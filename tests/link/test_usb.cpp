#include "LinkFixture.h"
#include "link/LibusbBackend.h"

namespace kelvano::test {
namespace {

const char kNotFound[] =
    "STRAVINEX-USB not found!\r\rPlease connect your Stravinex to the USB port\r"
    "or install the USB device driver.";

TEST(Usb, OpensTheFirstPresentDeviceAndReadsItsPipeTable) {
    FakeUsbBackend b;
    TUsb usb(&b);
    b.present = {2, 5};
    ASSERT_TRUE(usb.UsbOpen("ezusb"));
    EXPECT_EQ(b.openAttempts, (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(b.openK, 2);

    // Before the pipe table is read there are no pipes.
    EXPECT_EQ(usb.FindPipe(0x02), -1);
    b.endpoints = {0x81, 0x02, 0x82, 0x02};
    ASSERT_TRUE(usb.GetPipeInfo());
    EXPECT_EQ(usb.FindPipe(0x02), 1);  // the lowest index wins
    EXPECT_EQ(usb.FindPipe(0x82), 2);
    EXPECT_EQ(usb.FindPipe(0x86), -1);

    // A pipe count beyond what the 336-byte record holds stops at its last record.
    b.endpoints.assign(40, 0x01);
    ASSERT_TRUE(usb.GetPipeInfo());
    EXPECT_EQ(usb.pipeCount(), 16);
    EXPECT_EQ(usb.FindPipe(0x02), -1);

    b.failPipeInfo = true;
    EXPECT_FALSE(usb.GetPipeInfo());
    EXPECT_EQ(usb.FindPipe(0x01), -1);

    usb.UsbClose();
    EXPECT_FALSE(b.isOpen());
    usb.UsbClose();
    b.present = {};
    EXPECT_FALSE(usb.UsbOpen("ezusb"));
    EXPECT_EQ(b.openAttempts.size(), 3u + 10u);

    TUsb none;
    EXPECT_FALSE(none.UsbOpen("ezusb"));
    EXPECT_EQ(none.BulkRead(0, nullptr, 0), -1);
}

TEST(Usb, StringDescriptorIsReadByLengthThenWhole) {
    FakeUsbBackend b;
    TUsb usb(&b);
    ASSERT_TRUE(usb.UsbOpen("ezusb"));

    b.descriptor = FakeUsbBackend::stringDescriptorBytes("ABCD");  // length 10
    EXPECT_EQ(usb.GetStringDescriptor(2), "ABCD");
    EXPECT_EQ(b.descriptorRequests, (std::vector<std::pair<int, int>>{{2, 1}, {2, 10}}));

    b.descriptor = FakeUsbBackend::stringDescriptorBytes("");  // length 2: no characters
    EXPECT_EQ(usb.GetStringDescriptor(2), "");
    // Only the low byte of each character counts; an odd length drops the lone byte.
    b.descriptor = QByteArray::fromHex("0703" "41" "01" "E9" "00" "5A");
    EXPECT_EQ(usb.GetStringDescriptor(2), QString("A") + QChar(0xE9) + "Z");
    // A device that announces more than it sends gives what arrived.
    b.descriptor = QByteArray::fromHex("1403" "4100" "4200");
    EXPECT_EQ(usb.GetStringDescriptor(2), "AB");
    EXPECT_EQ(usb.GetStringDescriptor(1), "");  // the request fails
}

using UsbConnect = LinkFixture;

TEST_F(UsbConnect, ConnectsIdentifiesAndListsTheSerialNumber) {
    options.portIndex = 1;  // "USB"
    options.loadAtCon = true;
    usbBackend.descriptor = FakeUsbBackend::stringDescriptorBytes("STRAVINEX QXUSB");
    QByteArray snr(32, '\0');
    for (int i = 0; i < 32; ++i) snr[i] = char(0xF0 + i);
    usbBackend.readReplies = {snr, QByteArray(32, 'x')};
    TCom& c = make();
    c.Connect();

    EXPECT_TRUE(c.UsbSelected);
    EXPECT_TRUE(c.UsbConnected);
    EXPECT_TRUE(c.linkReady());
    EXPECT_TRUE(factoryNames.isEmpty());
    EXPECT_EQ(c.PipeIn, 0);
    EXPECT_EQ(c.PipeOut, 1);
    EXPECT_EQ(view.pane, "STRAVINEX QXUSB");
    ASSERT_EQ(usbBackend.bulkWrites.size(), 3u);
    EXPECT_EQ(usbBackend.bulkWrites[0], (std::pair<int, QByteArray>{1, QByteArray::fromHex("0202E020")}));
    EXPECT_EQ(usbBackend.bulkWrites[1].second, QByteArray::fromHex("0100"));
    EXPECT_EQ(usbBackend.bulkWrites[2].second, QByteArray::fromHex("0100"));
    EXPECT_EQ(usbBackend.bulkReads, (std::vector<int>{0, 0}));
    // Two upper-case digits and a blank per byte, the bytes past 0xFF wrapping to 00..0F.
    QString expected = "SNR: ";
    for (char ch : snr) expected += QString("%1 ").arg(uchar(ch), 2, 16, QChar('0')).toUpper();
    EXPECT_EQ(view.debug, QStringList{expected});
    EXPECT_TRUE(expected.contains(" 0F "));
    EXPECT_EQ(view.updates, QStringList{"connected"});
    EXPECT_EQ(view.fastOpens, 1);
    EXPECT_FALSE(c.keepAliveTimer().isActive());  // no keep-alive over USB
    EXPECT_TRUE(host.errors.isEmpty());

    c.Disconnect();
    EXPECT_FALSE(usbBackend.isOpen());
    EXPECT_FALSE(c.UsbConnected);
    EXPECT_EQ(view.updates, (QStringList{"connected", "disconnected"}));
    EXPECT_EQ(view.pane, "");
}

TEST_F(UsbConnect, EveryMissingPieceIsTheNotFoundMessage) {
    options.portIndex = 1;
    options.loadAtCon = true;
    struct Case {
        const char* what;
        std::function<void()> arrange;
    };
    const std::vector<Case> cases = {
        {"no device", [&] { usbBackend.present = {}; }},
        {"no QXUSB image", [&] { store = ImageStore(ImageStore::pack({{"QXBASE", "x"}})); }},
        {"no pipe table", [&] { usbBackend.failPipeInfo = true; }},
        {"no endpoint 0x82", [&] { usbBackend.endpoints = {0x02, 0x81}; }},
        {"no endpoint 0x02", [&] { usbBackend.endpoints = {0x82}; }},
        // The box does not take its first packet: no half-open link that claims to be up.
        {"first packet refused", [&] { usbBackend.failWritesFrom = 0; }},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        usbBackend = FakeUsbBackend();
        store = ImageStore(ImageStore::pack({{"QXUSB", "usb"}}));
        host.errors.clear();
        view.updates.clear();
        view.fastOpens = 0;
        k.arrange();
        TCom& c = make();
        c.Connect();
        EXPECT_EQ(host.errors, QStringList{kNotFound});
        EXPECT_FALSE(c.UsbConnected);
        EXPECT_FALSE(usbBackend.isOpen());
        EXPECT_EQ(view.updates, QStringList{"disconnected"});
        EXPECT_EQ(view.fastOpens, 0);
        EXPECT_LE(usbBackend.bulkWrites.size(), 1u);
    }
}

}  // namespace
}  // namespace kelvano::test


namespace kelvano::test {
namespace {

TEST(LibusbBackend, KnowsTheEzUsbIdsAndFailsQuietlyWithoutABox) {
    LibusbBackend plain;
    EXPECT_TRUE(plain.isKnown(0x0547, 0x2131));
    EXPECT_FALSE(plain.isKnown(0x1234, 0x5678));
    LibusbBackend extended({{0x1234, 0x5678}, {0x0547, 0x2131}});
    EXPECT_TRUE(extended.isKnown(0x1234, 0x5678));
    EXPECT_EQ(extended.knownIds().size(), LibusbBackend::defaultIds().size() + 1);

    // This machine has no box at number 9 (nor anything with an unknown id): every request
    // fails by its result, nothing hangs.
    LibusbBackend none;
    EXPECT_FALSE(none.openDevice(9));
    EXPECT_FALSE(none.isOpen());
    QByteArray info;
    EXPECT_FALSE(none.pipeInfo(info));
    EXPECT_FALSE(none.stringDescriptor(2, 1, info));
    EXPECT_FALSE(none.bulkWrite(0, "x"));
    uint8_t buffer[4];
    EXPECT_EQ(none.bulkRead(1, buffer, 4), -1);
    none.closeDevice();

    TUsb usb(&none);
    EXPECT_EQ(usb.GetStringDescriptor(2), "");
}

}  // namespace
}  // namespace kelvano::test
