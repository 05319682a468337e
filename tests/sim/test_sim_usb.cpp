// The USB face of the simulated box; its name, serial number and card poll: tests/link.
#include <gtest/gtest.h>

#include "sim/SimBox.h"
#include "sim/SimUsbBackend.h"

using namespace kelvano;

TEST(SimUsb, OpensWhereItIsAttachedPacketsProgramAnAvrAndFaultsHitPacketTypes) {
    SimBox box{SimBox::Model::Usb, 22};
    SimUsbBackend usb{box};
    // One packet out on pipe 1 (endpoint 0x02), the reply in from pipe 2 (0x82); "" for none.
    const auto packet = [&](const QByteArray& hex) {
        EXPECT_TRUE(usb.bulkWrite(1, QByteArray::fromHex(hex)));
        uint8_t buffer[256];
        const int n = usb.bulkRead(2, buffer, 256);
        return n < 0 ? QByteArray() : QByteArray(reinterpret_cast<char*>(buffer), n);
    };
    SimBox serial(SimBox::Model::QxBase);  // a serial box is no USB device
    EXPECT_FALSE(SimUsbBackend(serial).openDevice(0));
    usb.setPresentDevice(2);
    EXPECT_FALSE(usb.openDevice(1));
    ASSERT_TRUE(usb.openDevice(2));
    usb.closeDevice();
    EXPECT_FALSE(usb.bulkWrite(1, QByteArray::fromHex("05")));
    ASSERT_TRUE(usb.openDevice(2));
    // "PACKET=REPLY" in hex: AVR mode; r0 echoes the address high byte; "0603" is a chip erase.
    for (const QByteArray& step : QByteArray("0102=00 04AC530000=5300 0430000100=0091 "
                                             "0440001034=0010 0603=0603 0420001000=0034 "
                                             "04C0000501=0005 04A0000500=0001 04AC800000=8000 "
                                             "0100=00 04AC530000=FF 77=FF")
                                      .split(' ')) {
        const QList<QByteArray> sentReply = step.split('=');
        EXPECT_EQ(packet(sentReply[0]).toHex().toUpper(), sentReply[1]) << step.constData();
    }
    EXPECT_EQ(box.card().flash[0x10], 0xFFFF);  // erased
    EXPECT_EQ(box.card().data[5], 0xFF);

    // A reply larger than the reader's buffer is cut to it.
    ASSERT_TRUE(usb.bulkWrite(1, QByteArray::fromHex("0202E020")));
    uint8_t small[8];
    EXPECT_EQ(usb.bulkRead(2, small, 8), 8);
    EXPECT_EQ(usb.bulkRead(2, small, 8), -1);  // nothing more waiting
    EXPECT_EQ(usb.bulkRead(1, small, 8), -1);  // not the in pipe

    // Fault, packet, the reply to it and to the next one: a fault hits one matching packet.
    const std::tuple<const char*, const char*, QByteArray, QByteArray> cases[] = {
        {"noanswer,on=05", "05", "", QByteArray(1, '\0')},
        {"short,on=02", "0202E020", "QXUSB SIM-000003",
         QByteArray("QXUSB SIM-000003").leftJustified(32, '\0')},  // 16 of the 32 bytes
        {"garble,on=05", "05", "\x5A", QByteArray(1, '\0')},
        {"wrong,on=06", "0677", "\x06\x76", "\x06\x77"},  // r1's lowest bit
        {"reply=0633,on=06", "0677", "\x06\x33", "\x06\x77"},
    };
    for (const auto& [fault, sent, reply, plain] : cases) {
        box.addFault(*SimFault::parse(fault));
        EXPECT_EQ(packet(sent), reply) << fault;
        EXPECT_EQ(packet(sent), plain) << fault;
    }
    box.addFault(*SimFault::parse("refuse,on=0102"));
    EXPECT_EQ(packet("0102"), "\xFF");
    EXPECT_EQ(box.mode(), 0);  // not taken to AVR programming mode

    box.addFault(*SimFault::parse("lostlink,on=06"));
    EXPECT_FALSE(usb.bulkWrite(1, QByteArray::fromHex("0603")));
    const int exchanges = int(box.trace().size());
    EXPECT_FALSE(usb.bulkWrite(1, QByteArray::fromHex("05")));
    EXPECT_EQ(usb.bulkRead(2, small, 8), -1);
    EXPECT_EQ(box.trace().size(), exchanges);  // nothing reaches a box whose link is gone
    EXPECT_EQ(box.trace().last().note, "lostlink");
}
