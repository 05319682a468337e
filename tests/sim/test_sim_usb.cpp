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
    // One packet out, one reply in; empty when no reply came.
    QByteArray packet(const QByteArray& hex) {
        EXPECT_TRUE(usb.bulkWrite(out, QByteArray::fromHex(hex)));
        uint8_t buffer[256];
        const int n = usb.bulkRead(in, buffer, 256);
        return n < 0 ? QByteArray() : QByteArray(reinterpret_cast<char*>(buffer), n);
    }

    SimBox box{SimBox::Model::Usb, 22};
    SimUsbBackend usb{box};
    int in = -1;
    int out = -1;
};

TEST_F(SimUsb, DeviceOpensWhereItIsAttachedAndDescribesItself) {
    usb.setPresentDevice(2);
    EXPECT_FALSE(usb.openDevice(1));
    ASSERT_TRUE(usb.openDevice(2));
    EXPECT_EQ(pipeOf(0x82), 2);
    EXPECT_EQ(pipeOf(0x02), 1);
    EXPECT_EQ(pipeOf(0x04), -1);
    QByteArray length, descriptor;
    ASSERT_TRUE(usb.stringDescriptor(2, 1, length) && length.size() == 1);
    ASSERT_TRUE(usb.stringDescriptor(2, uchar(length[0]), descriptor));
    EXPECT_EQ(QString::fromUtf16(reinterpret_cast<const char16_t*>(descriptor.constData() + 2),
                                 (descriptor.size() - 2) / 2),
              "STRAVINEX QXUSB");
    usb.closeDevice();
    EXPECT_FALSE(usb.bulkWrite(1, QByteArray::fromHex("05")));
    SimBox serial(SimBox::Model::QxBase);  // a serial box is no USB device
    EXPECT_FALSE(SimUsbBackend(serial).openDevice(0));
}

TEST_F(SimUsb, PacketsIdentifyPollAndProgramAnAvr) {
    ASSERT_TRUE(usb.openDevice(0));
    in = pipeOf(0x82);
    out = pipeOf(0x02);
    const QByteArray serial = packet("0202E020");
    EXPECT_TRUE(serial.size() == 32 && serial.startsWith("QXUSB"));
    EXPECT_EQ(packet("05").toHex(), "00");
    box.removeCard();
    EXPECT_EQ(packet("05").toHex(), "06");
    box.insertCard(22);
    // AVR programming mode; r0 echoes the address high byte; "0603" is a chip erase.
    for (const auto& [sent, reply] : {std::pair{"0102", "00"},
                                      {"04AC530000", "5300"},
                                      {"0430000100", "0091"},
                                      {"0440001034", "0010"},
                                      {"0603", "0603"},
                                      {"0420001000", "0034"},
                                      {"04C0000501", "0005"},
                                      {"04A0000500", "0001"},
                                      {"04AC800000", "8000"},
                                      {"0100", "00"},
                                      {"04AC530000", "ff"},
                                      {"77", "ff"}})
        EXPECT_EQ(packet(sent).toHex(), reply) << sent;
    EXPECT_EQ(box.card().flash[0x10], 0xFFFF);  // erased
    EXPECT_EQ(box.card().data[5], 0xFF);

    // A reply larger than the reader's buffer is cut to it.
    ASSERT_TRUE(usb.bulkWrite(out, QByteArray::fromHex("0202E020")));
    uint8_t small[8];
    EXPECT_EQ(usb.bulkRead(in, small, 8), 8);
    EXPECT_EQ(usb.bulkRead(in, small, 8), -1);   // nothing more waiting
    EXPECT_EQ(usb.bulkRead(out, small, 8), -1);  // not the in pipe
}

TEST_F(SimUsb, FaultsHitPacketTypes) {
    ASSERT_TRUE(usb.openDevice(0));
    in = pipeOf(0x82);
    out = pipeOf(0x02);
    box.addFault(*SimFault::parse("noanswer,on=05"));
    EXPECT_EQ(packet("05"), "");
    EXPECT_EQ(packet("05").size(), 1);

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
