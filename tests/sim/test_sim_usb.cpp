// The USB face of the simulated box: driver requests and the bulk packets.
#include <gtest/gtest.h>

#include "sim/SimBox.h"
#include "sim/SimUsbBackend.h"

namespace kelvano {
namespace {

class SimUsb : public ::testing::Test {
protected:
    // The pipe index of an endpoint, found in the pipe table as a driver user would.
    int pipeOf(uint8_t endpoint) {
        QByteArray info;
        if (!usb.pipeInfo(info) || info.size() != 336) return -2;
        const int count = uchar(info[12]);
        for (int i = 0; i < count; ++i)
            if (uchar(info[16 + 20 * i + 2]) == endpoint) return i;
        return -1;
    }
    // One packet out, one reply in; nullopt-like empty + false when no reply.
    QByteArray packet(const QByteArray& hex, int* count = nullptr) {
        EXPECT_TRUE(usb.bulkWrite(out, QByteArray::fromHex(hex)));
        uint8_t buffer[256];
        const int n = usb.bulkRead(in, buffer, 256);
        if (count) *count = n;
        return n < 0 ? QByteArray() : QByteArray(reinterpret_cast<char*>(buffer), n);
    }

    SimBox box{SimBox::Model::Usb, 22};
    SimUsbBackend usb{box};
    int in = -1;
    int out = -1;
};

TEST_F(SimUsb, DeviceOpensWhereItIsAttachedAndDescribesItself) {
    usb.setPresentDevice(2);
    EXPECT_FALSE(usb.openDevice(0));
    EXPECT_FALSE(usb.openDevice(1));
    EXPECT_TRUE(usb.openDevice(2));
    EXPECT_EQ(pipeOf(0x82), 2);
    EXPECT_EQ(pipeOf(0x02), 1);
    EXPECT_EQ(pipeOf(0x81), 0);
    EXPECT_EQ(pipeOf(0x04), -1);

    QByteArray length;
    ASSERT_TRUE(usb.stringDescriptor(2, 1, length));
    ASSERT_EQ(length.size(), 1);
    QByteArray descriptor;
    ASSERT_TRUE(usb.stringDescriptor(2, uchar(length[0]), descriptor));
    QString text;
    for (int i = 2; i < descriptor.size(); i += 2) text += QChar(descriptor[i]);
    EXPECT_EQ(text, "STRAVINEX QXUSB");
    EXPECT_FALSE(usb.stringDescriptor(7, 2, descriptor));

    usb.closeDevice();
    EXPECT_FALSE(usb.isOpen());
    EXPECT_FALSE(usb.bulkWrite(1, QByteArray::fromHex("05")));

    // A serial box is no USB device.
    SimBox serial(SimBox::Model::QxBase);
    SimUsbBackend none(serial);
    EXPECT_FALSE(none.openDevice(0));
}

TEST_F(SimUsb, PacketsIdentifyPollAndProgramAnAvr) {
    ASSERT_TRUE(usb.openDevice(0));
    in = pipeOf(0x82);
    out = pipeOf(0x02);
    const QByteArray serial = packet("0202E020");
    EXPECT_EQ(serial.size(), 32);
    EXPECT_TRUE(serial.startsWith("QXUSB"));
    EXPECT_EQ(packet("0100").size(), 1);
    EXPECT_EQ(packet("05"), QByteArray(1, '\0'));
    box.removeCard();
    EXPECT_EQ(packet("05"), QByteArray(1, '\x06'));
    box.insertCard(22);

    EXPECT_EQ(packet("0102").size(), 1);
    EXPECT_EQ(packet("04AC530000").toHex(), "5300");
    EXPECT_EQ(packet("0430000100").toHex(), "0091");
    EXPECT_EQ(packet("0440001034").toHex(), "0010");  // r0 echoes the address high byte
    EXPECT_EQ(packet("0603").toHex(), "0603");
    EXPECT_EQ(packet("0420001000").toHex(), "0034");
    EXPECT_EQ(box.card().flash[0x10], 0xFF34);
    EXPECT_EQ(packet("04C0000501").toHex(), "0005");
    EXPECT_EQ(box.card().data[5], 0x01);
    EXPECT_EQ(packet("04AC800000").toHex(), "8000");
    EXPECT_EQ(box.card().flash[0x10], 0xFFFF);

    packet("0100");
    EXPECT_EQ(packet("04AC530000").toHex(), "ff");  // not in AVR programming mode
    EXPECT_EQ(packet("77").toHex(), "ff");

    // A reply larger than the reader's buffer is cut to it.
    ASSERT_TRUE(usb.bulkWrite(out, QByteArray::fromHex("0202E020")));
    uint8_t small[8];
    EXPECT_EQ(usb.bulkRead(in, small, 8), 8);
    EXPECT_EQ(usb.bulkRead(in, small, 8), -1);  // nothing more waiting
    EXPECT_EQ(usb.bulkRead(out, small, 8), -1);  // not the in pipe
}

TEST_F(SimUsb, FaultsHitPacketTypes) {
    ASSERT_TRUE(usb.openDevice(0));
    in = pipeOf(0x82);
    out = pipeOf(0x02);
    box.addFault(*SimFault::parse("noanswer,on=05"));
    int count = 0;
    packet("05", &count);
    EXPECT_EQ(count, -1);
    EXPECT_EQ(packet("05", &count).size(), 1);

    box.addFault(*SimFault::parse("short,on=02"));
    EXPECT_EQ(packet("0202E020").size(), 16);
    box.addFault(*SimFault::parse("garble,on=05"));
    EXPECT_EQ(packet("05"), QByteArray(1, '\x5A'));

    box.addFault(*SimFault::parse("lostlink,on=06"));
    EXPECT_FALSE(usb.bulkWrite(out, QByteArray::fromHex("0603")));
    EXPECT_FALSE(usb.bulkWrite(out, QByteArray::fromHex("05")));
    uint8_t buffer[4];
    EXPECT_EQ(usb.bulkRead(in, buffer, 4), -1);
    ASSERT_EQ(box.trace().size(), 5);  // nothing reaches a box whose link is gone
    EXPECT_EQ(box.trace().last().channel, SimBox::TraceEntry::Channel::Usb);
    EXPECT_EQ(box.trace().last().note, "lostlink");
}

}  // namespace
}  // namespace kelvano
