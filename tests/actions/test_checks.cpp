// The checks the actions make on what the box answers: each case has a box that answers a
// well-formed value the check must catch (or must let through), and looks at the steps sent.
#include <gtest/gtest.h>

#include "ActionRig.h"
#include "sim/SimFault.h"

using namespace kelvano;
using namespace kelvano::test;

TEST(Checks, BlankCheckPassesABlankAvrCardAndNamesTheFirstProgrammedWord) {
    ActionRig rig(20);
    ASSERT_TRUE(rig.connect());
    rig.run(3);
    ASSERT_TRUE(rig.ready()) << rig.host.errors.join("; ").toStdString();
    EXPECT_EQ(rig.sent("Y28").size(), 4096);
    EXPECT_EQ(rig.sent("Y20").size(), 4096);
    EXPECT_TRUE(rig.actions.result().blankChecked == MemorySet{Memory::Program});

    // Words differing from FFFF in the high byte only, and in the low byte only.
    for (uint16_t word : {uint16_t(0x7FFF), uint16_t(0xFFFE)}) {
        rig.box.card().flash[0x0ABC] = word;
        rig.box.card().flash[0x0ABD] = 0x0000;
        rig.run(3);
        EXPECT_EQ(rig.host.errors, QStringList{"Device not blank at $0ABC"});
        EXPECT_TRUE(rig.actions.result().blankChecked.empty());
        rig.host.errors.clear();
    }
}

TEST(Checks, PicProgramComparesEachReadBackAndVerifiesAfterwards) {
    struct Case {
        const char* fault;
        bool verify;
        const char* error;
    };
    const Case cases[] = {
        {"wrong,on=L00,at=3", false, "Error while writing PIC program memory"},
        {"wrong,on=L01,at=9", false, "Error while writing PIC data memory"},
        {"wrong,on=R04,at=7", true, "Verify error at $0006 (Program Memory)"},
        {"wrong,on=R05,at=40", true, "Verify error at $0027 (Data Memory)"},
        // ID locations are not read back; the configuration word after them is.
        {"wrong,on=L00,at=5", false, "Error while writing PIC Configuration"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fault);
        ActionRig rig(10);
        ASSERT_TRUE(rig.connect());
        rig.options.verify = c.verify;
        if (QString(c.fault).endsWith("at=5")) rig.only({Memory::Configuration});
        for (int i = 0; i < 1024; ++i) rig.devices.ProgBuf[i] = uint16_t((i * 0x2A5) & 0x3FFF);
        for (int i = 0; i < 64; ++i) rig.devices.DataBuf[i] = uint16_t(i ^ 0xA5);
        rig.box.addFault(*SimFault::parse(c.fault));
        rig.run(5);
        EXPECT_EQ(rig.host.errors, QStringList{c.error});
        EXPECT_FALSE(rig.actions.result().ready);
    }
    // Without faults the verify reads back every word it wrote.
    ActionRig rig(10);
    ASSERT_TRUE(rig.connect());
    rig.options.verify = true;
    rig.devices.ProgBuf[1] = 0x2222;
    rig.run(5);
    ASSERT_TRUE(rig.ready());
    EXPECT_EQ(rig.sent("R04").size(), 1024);
    EXPECT_TRUE(rig.actions.result().verified.contains({Memory::Program, Memory::Data}));
}

TEST(Checks, RefusedOrWrongDirectEepromWritesAreNotCountedAsWritten) {
    for (const char* fault : {"refuse,on=W0004", "reply=00,on=W0004", "noanswer,on=W0004"}) {
        SCOPED_TRACE(fault);
        ActionRig rig(10);
        ASSERT_TRUE(rig.connect());
        rig.only({Memory::ExternalEeprom});
        for (int i = 0; i < 2048; ++i) rig.devices.EepBuf[i] = 0x3C;
        rig.box.addFault(*SimFault::parse(fault));
        rig.run(5);
        EXPECT_EQ(rig.host.errors, QStringList{"Error while writing EEPROM Memory"});
        EXPECT_TRUE(rig.actions.result().written.empty());
        EXPECT_TRUE(rig.actions.result().failed == MemorySet{Memory::ExternalEeprom});
        EXPECT_EQ(rig.sent("W").size(), 5);  // stopped at the failing address
        EXPECT_EQ(rig.box.card().eeprom[3], 0x3C);
        if (QString(fault).startsWith("refuse")) {
            EXPECT_EQ(rig.box.card().eeprom[4], 0xFF);
        }
    }
}

TEST(Checks, CardStateNoCardOnlyWithBitsOneAndTwo) {
    using M = SimBox::Model;
    const struct {
        M model;
        const char* answer;
        bool card;
    } cases[] = {{M::Serial, "0", true},  {M::Serial, "2", true},  {M::Serial, "4", true},
                 {M::Serial, "6", false}, {M::Serial, "7", false}, {M::Serial, "14", false},
                 {M::Serial, "X", false}, {M::Usb, "02", true},    {M::Usb, "04", true},
                 {M::Usb, "06", false},   {M::Usb, "0200", false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.answer);
        const bool usb = c.model == M::Usb;
        ActionRig rig(usb ? 20 : 10, c.model);
        ASSERT_TRUE(rig.connect());
        rig.options.smartAuto = true;
        rig.untick();
        rig.box.addFault(*SimFault::parse(
            QStringLiteral("reply=%1,on=%2,times=0").arg(c.answer, usb ? "05" : "K")));
        rig.actions.start(ActionCode::Verify);
        rig.actions.Startup();
        EXPECT_EQ(rig.actions.result().ready, c.card);
        if (!usb) {
            EXPECT_EQ(rig.commands().contains("DINS."), !c.card);
        }
    }
}

TEST(Checks, ProtectionNeedsBothMegaLockBitsButOnePicCpBit) {
    for (uint8_t lock : {uint8_t(0xFE), uint8_t(0xFD), uint8_t(0xFC)}) {
        SCOPED_TRACE(int(lock));
        ActionRig rig(31);
        ASSERT_TRUE(rig.connect());
        rig.only({Memory::Program});
        rig.box.card().flash[0x1ABC] = 0x1357;
        rig.box.card().lockBits = lock;
        rig.run(1);
        if (lock == 0xFC) {
            EXPECT_EQ(rig.host.errors,
                      QStringList{"AVR-Mega-Device is protected!\r"
                                  "Can't read, verify or blank check the device."});
            EXPECT_EQ(rig.sent("Y28").size(), 0);
        } else {
            EXPECT_TRUE(rig.ready());
            EXPECT_EQ(rig.devices.ProgBuf[0x1ABC], 0x1357);
        }
        EXPECT_EQ(rig.devices.LockByte, lock);
    }
    // 16F84: CP bits 4 and 5 of the configuration word; either one programmed protects.
    for (uint16_t cfg : {uint16_t(0x3FEF), uint16_t(0x3FDF), uint16_t(0x3FFF)}) {
        SCOPED_TRACE(cfg);
        ActionRig rig(10);
        ASSERT_TRUE(rig.connect());
        rig.options.warnEnable = true;
        rig.box.card().picConfig = cfg;
        rig.run(1);
        EXPECT_TRUE(rig.ready());
        EXPECT_EQ(rig.devices.CfgWord, cfg);
        const bool prot = cfg != 0x3FFF;
        EXPECT_EQ(rig.host.questions.size(), prot ? 1 : 0);
        EXPECT_EQ(rig.sent("R05").size(), prot ? 0 : 64);
        EXPECT_EQ(rig.actions.result().partial(), prot);
        EXPECT_EQ(rig.actions.result().read.has(Memory::Program), !prot);
    }
}
