// Steps that did not happen are never reported as done: unanswered erase, lock and fuse
// writes; what the USB box has no packet for; the EEPROM a loader card's verify leaves out.
#include <gtest/gtest.h>

#include "ActionRig.h"
#include "sim/SimFault.h"

using namespace kelvano;
using namespace kelvano::test;

namespace {

const MemorySet kControllerAll{Memory::Program, Memory::Data, Memory::Configuration};
const MemorySet kConfig{Memory::Configuration};
const MemorySet kEeprom{Memory::ExternalEeprom};

}  // namespace

TEST(Faults, UnansweredEraseLockAndFuseWritesAreFailures) {
    struct Case {
        int card;
        SimBox::Model model;
        MemorySet memories;
        const char* step;  // the start of the exchange that gets no answer
        const char* error;
    };
    const char* erase = "Error while erasing device";
    const char* lock = "Error while writing lock bits";
    const char* fuse = "Error while writing fuse bits";
    const Case cases[] = {
        {20, SimBox::Model::Serial, kControllerAll, "YAC800000", erase},
        {20, SimBox::Model::Usb, kControllerAll, "04AC800000", erase},
        {20, SimBox::Model::Serial, kConfig, "YACF90000", lock},
        {20, SimBox::Model::Usb, kConfig, "04ACF90000", lock},
        {22, SimBox::Model::Serial, kConfig, "YACBE0000", fuse},
        {31, SimBox::Model::Serial, kConfig, "YACE000", lock},
        {31, SimBox::Model::Serial, kConfig, "YACA800", fuse},
        {22, SimBox::Model::Serial, kEeprom, "YACF90000", lock},  // locking the loader in
        {31, SimBox::Model::Serial, kEeprom, "YACA000F0", fuse},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.step);
        ActionRig rig(c.card, c.model);
        ASSERT_TRUE(rig.connect());
        rig.only(c.memories);
        rig.fuses.avr.avrFuse = true;
        rig.fuses.avr.lockBit1 = rig.fuses.avr.lockBit2 = true;
        rig.devices.LockByte = 0xFC, rig.devices.FuseLow = 0xE1, rig.devices.FuseHigh = 0xF8;
        RefreshMega163Page(rig.devices, rig.fuses);
        rig.box.addFault(*SimFault::parse(QStringLiteral("noanswer,on=%1").arg(c.step)));
        rig.run(5);
        EXPECT_EQ(rig.host.errors, QStringList{c.error});
        EXPECT_FALSE(rig.actions.result().ready);
        EXPECT_FALSE(rig.actions.result().written.has(Memory::Configuration));
        EXPECT_FALSE(rig.actions.result().written.has(Memory::ExternalEeprom));
        // The step was sent, and after it only the closing exchanges.
        const QStringList sent = rig.commands();
        int at = int(sent.size()) - 1;
        while (at >= 0 && !sent[at].startsWith(c.step)) --at;
        ASSERT_GE(at, 0);
        const QStringList closing = c.model == SimBox::Model::Usb
                                        ? QStringList{"0100"}
                                        : QStringList{"M0", "D----", "d    "};
        EXPECT_EQ(sent.mid(at + 1), closing);
    }
}

TEST(UsbLink, Mega163ProgramIsRefusedBeforeAnythingAndTheOtherActionsWork) {
    ActionRig rig(31, SimBox::Model::Usb);
    ASSERT_TRUE(rig.connect());
    for (int i = 0; i < 8192; ++i) rig.box.card().flash[size_t(i)] = uint16_t(i * 0x0101 + 7);
    rig.box.card().fuseLow = 0xE1;
    rig.devices.ProgBuf[0] = 0x1234;
    for (MemorySet m : {MemorySet{Memory::Program}, kConfig}) {
        rig.only(m);
        rig.run(5);
        EXPECT_TRUE(rig.host.errors.value(0).startsWith("The fuses, lock bits and flash pages"));
        EXPECT_EQ(rig.commands(), QStringList{"0100"});  // nothing but the closing packet
        EXPECT_EQ(rig.box.card().flash[0], 7);
        rig.host.errors.clear(), rig.box.clearTrace();
    }

    // Read goes through, without the fuse bytes, and says so.
    rig.only(kControllerAll);
    rig.fuses.mega163.osc = 5;  // the card's fuse low byte E1 would show 1
    rig.run(1);
    ASSERT_TRUE(rig.ready()) << rig.host.errors.join("; ").toStdString();
    EXPECT_EQ(rig.devices.ProgBuf[8191], uint16_t(8191 * 0x0101 + 7));
    EXPECT_EQ(rig.actions.result().notices, QStringList{"Fuse bytes not read (no USB form)"});
    EXPECT_EQ(rig.actions.label(), "READY\nFuse bytes not read (no USB form)");
    EXPECT_TRUE(rig.actions.result().skipped == kConfig);
    EXPECT_TRUE(rig.commands().contains("0458000000"));  // the lock byte, for the protection test
    EXPECT_FALSE(rig.commands().contains("0450000000"));
    EXPECT_EQ(rig.fuses.mega163.osc, 5);  // not made up

    // Verify and blank check too; a read-locked card is still recognised as protected.
    rig.run(4);
    EXPECT_TRUE(rig.ready());
    EXPECT_TRUE(rig.actions.result().verified.contains({Memory::Program, Memory::Data}));
    rig.box.card().erase();
    rig.box.clearTrace();
    rig.run(3);
    EXPECT_TRUE(rig.ready());
    EXPECT_EQ(rig.sent("0428").size(), 8192);
    rig.box.card().lockBits = 0xFC;
    rig.run(1);
    EXPECT_EQ(rig.host.errors,
              QStringList{
                  "AVR-Mega-Device is protected!\rCan't read, verify or blank check the device."});
}

TEST(LoaderSequences, VerifySaysPlainlyThatTheLoaderCardsEepromWasNotVerified) {
    for (int card : {22, 11}) {
        ActionRig rig(card);
        ASSERT_TRUE(rig.connect());
        rig.run(4);
        ASSERT_TRUE(rig.ready()) << card;
        EXPECT_EQ(rig.actions.label(),
                  "READY\nEEPROM Memory not verified (reached only through a loader)");
        EXPECT_TRUE(rig.actions.result().skipped == kEeprom);
        EXPECT_FALSE(rig.commands().contains("M4"));
        EXPECT_TRUE(rig.actions.result().verified.contains({Memory::Program, Memory::Data}));
    }
}

TEST(EepromSequences, AutomaticVerifyReadsBackTheDirectEepromItWrote) {
    for (bool verify : {false, true}) {
        ActionRig rig(13);
        ASSERT_TRUE(rig.connect());
        rig.only(kEeprom);
        rig.options.verify = verify;
        for (int i = 0; i < 8192; ++i) rig.devices.EepBuf[i] = uint16_t((i * 5) & 0xFF);
        rig.box.addFault(*SimFault::parse("wrong,on=g1234"));
        rig.run(5);
        const QStringList reads = rig.sent("g");
        EXPECT_EQ(rig.box.card().eeprom[0x1FFF], uint8_t(0x1FFF * 5));
        if (!verify) {
            EXPECT_TRUE(rig.ready());
            EXPECT_TRUE(reads.isEmpty());
            continue;
        }
        EXPECT_EQ(rig.host.errors, QStringList{"Verify error at $1234 (EEPROM Memory)"});
        EXPECT_EQ(reads.size(), 0x1234 + 1);
        EXPECT_TRUE(rig.actions.result().written == kEeprom);
    }
}
