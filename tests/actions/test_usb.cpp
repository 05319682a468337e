// The USB box: what it has a packet for works whether the box keeps one answer buffer or queues
// its answers (what it has none for is refused by the checks before an action).
#include <gtest/gtest.h>

#include "ActionRig.h"

using namespace kelvano;
using namespace kelvano::test;

TEST(UsbBox, Mega163IsReadWithoutItsFuseBytesAndStillKnownProtected) {
    ActionRig rig(31, SimBox::Model::Usb);
    ASSERT_TRUE(rig.connect());
    for (int i = 0; i < 8192; ++i) rig.box.card().flash[size_t(i)] = uint16_t(i * 0x0101 + 7);
    rig.box.card().fuseLow = 0xE1;
    rig.only("PDC");
    rig.fuses.mega163.osc = 5;  // the card's fuse low byte E1 would show 1
    rig.run(1);
    ASSERT_TRUE(rig.ready()) << rig.host.errors.join("; ").toStdString();
    EXPECT_EQ(rig.devices.ProgBuf[8191], uint16_t(8191 * 0x0101 + 7));
    EXPECT_EQ(rig.actions.result().notices, QStringList{"Fuse bytes not read (no USB form)"});
    EXPECT_EQ(rig.actions.label(), "READY\nFuse bytes not read (no USB form)");
    EXPECT_TRUE(rig.actions.result().skipped == MemorySet{Memory::Configuration});
    EXPECT_TRUE(rig.commands().contains("0458000000"));  // the lock byte, for the protection test
    EXPECT_FALSE(rig.commands().contains("0450000000"));
    EXPECT_EQ(rig.fuses.mega163.osc, 5);  // not made up

    rig.box.card().lockBits = 0xFC;  // read-locked: still recognised as protected
    rig.run(1);
    EXPECT_EQ(rig.host.errors, QStringList{"AVR-Mega-Device is protected!\r"
                                           "Can't read, verify or blank check the device."});
}

// The connect leaves one answer unread; a box that queues its answers must not shift them.
TEST(UsbBox, At90sProgramsVerifiesAndReadsBackWithEitherKindOfBox) {
    for (bool queued : {false, true}) {
        SCOPED_TRACE(queued ? "queued answers" : "one answer buffer");
        ActionRig rig(20, SimBox::Model::Usb);
        rig.usbBackend.setQueuedReplies(queued);
        ASSERT_TRUE(rig.connect());
        rig.only("PDC");
        rig.options.verify = true;
        TBufArray& flash = rig.devices.ProgBuf;
        for (int i = 0; i < flash.length(); ++i)
            flash[i] = uint16_t(0xA5C3 ^ (i * 0x0101) ^ (i >> 3));
        const TBufArray written = flash;
        rig.run(5);
        ASSERT_TRUE(rig.ready()) << rig.host.errors.join("; ").toStdString();
        EXPECT_TRUE(rig.commands().contains("04AC800000"));  // chip erase
        EXPECT_TRUE(rig.actions.result().verified.contains({Memory::Program, Memory::Data}));
        rig.devices.ApplyBuffers();
        rig.run(1);
        ASSERT_TRUE(rig.ready()) << rig.host.errors.join("; ").toStdString();
        EXPECT_TRUE(rig.devices.ProgBuf == written);
        EXPECT_EQ(rig.usbBackend.pendingReplies(), 0);
    }
}
