// Comparing the card with the buffers: through the action runner, leaving the buffers alone.
#include <gtest/gtest.h>

#include <functional>

#include "ActionRig.h"

using namespace kelvano;
using namespace kelvano::test;

TEST(CardCompare, LoaderCardAsksFirstAndComparesEveryMemoryOrSkipsTheEeprom) {
    for (bool agree : {true, false}) {
        SCOPED_TRACE(agree);
        ActionRig rig(20);  // AT90S8515 + 24C64 through the loader
        rig.options.warnEnable = true;
        rig.host.answerOk = agree;
        SimCard& card = rig.box.card();  // scattered and adjacent changes in every memory
        card.flash[0x10] = 0x1234, card.flash[0x11] = 0xC00F, card.flash[0x800] = 0x0000;
        card.data[0x1FF] = 0x00;
        card.eeprom[0] = 0x12, card.eeprom[1] = 0x34, card.eeprom[0x1FFF] = 0x00;
        ASSERT_TRUE(rig.connect());
        bool failed = true;
        const CompareReport r = rig.compareCard(&failed);
        EXPECT_FALSE(failed);
        ASSERT_EQ(rig.host.questions.size(), 1);
        EXPECT_TRUE(rig.host.questions[0].startsWith(
            "Warning!|Comparing the external EEPROM installs the EEPROM loader in place of the "
            "controller's program."));
        const QString controller =
            "flash 0010-0011 2 FFFFFFFF 1234C00F\n"
            "flash 0800-0800 1 FFFF 0000\n"
            "data 01FF-01FF 1 FF 00\n";
        if (agree) {
            EXPECT_EQ(r.diffLines(), controller +
                                         "eeprom 0000-0001 2 FFFF 1234\n"
                                         "eeprom 1FFF-1FFF 1 FF 00\n");
        } else {
            EXPECT_EQ(r.diffLines(), controller + "skipped eeprom\n");
            EXPECT_NE(r.text().indexOf(
                          "EEPROM Memory: not compared (reading it needs the loader in place of "
                          "the controller's program; not agreed)"),
                      -1);
            EXPECT_EQ(rig.box.card().flash[0x10], 0x1234);  // no loader went in
        }
        // The user's buffers are what they were.
        EXPECT_EQ(rig.devices.ProgBuf[0x10], 0xFFFF);
        EXPECT_EQ(rig.devices.DataBuf[0x1FF], 0xFF);
        EXPECT_EQ(rig.devices.EepBuf[0], 0xFF);
        EXPECT_TRUE(rig.host.errors.isEmpty());
    }
}

// A memory that could not be read is named with the reason, never compared as blank.
TEST(CardCompare, WhatCouldNotBeReadIsNamedWithItsReason) {
    const struct {
        int card;
        std::function<void(SimCard&)> set;
        const char* fault;
        const char* diff;
        const char* note;  // of the program memory
        bool failed;
    } rows[] = {
        {10,  // PIC16F84, its EEPROM wired to the box
         [](SimCard& c) { c.picConfig = 0x3FCF, c.flash[5] = 0x1111, c.eeprom[3] = 0x33; }, nullptr,
         "config 2007-2007 1 3FFF 3FCF\neeprom 0003-0003 1 FF 33\nskipped flash\nskipped data\n",
         "the controller is code-protected, configuration word 3FCF", false},
        {20, nullptr, "noanswer,on=Y,at=40,times=0",  // in the flash read, after identifying
         "skipped flash\nskipped data\n", "not read: Error while reading program memory", true},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.card);
        ActionRig rig(r.card);
        rig.options.warnEnable = true;
        if (r.card == 20) rig.enable.eep = false;
        if (r.set) r.set(rig.box.card());
        ASSERT_TRUE(rig.connect());
        if (r.fault) rig.fault(r.fault);
        bool failed = !r.failed;
        const CompareReport report = rig.compareCard(&failed);
        EXPECT_EQ(report.diffLines(), r.diff);
        ASSERT_FALSE(report.memories.empty());
        EXPECT_EQ(report.memories[0].note, r.note);
        EXPECT_FALSE(report.identical());
        EXPECT_EQ(failed, r.failed);
        EXPECT_TRUE(rig.host.questions.isEmpty());  // no loader, no question
    }
}

// A full 24C512 card (AT90S8515 + 24C512 through the loader) at 115200 baud, in the virtual
// time of the simulated line: the comparison costs no more than a read.
TEST(CardCompare, AFull24C512CardCostsNoMoreThanAReadAt115200Baud) {
    qint64 ms[2] = {};
    for (bool compare : {false, true}) {
        ActionRig rig(26);
        rig.lineSpeed = 115200;
        for (size_t i = 0; i < rig.box.card().eeprom.size(); ++i)
            rig.box.card().eeprom[i] = uint8_t(i * 7 + (i >> 8));
        ASSERT_TRUE(rig.connect());
        const qint64 start = rig.clock.nowMs();
        compare ? (void)rig.compareCard() : (void)rig.run(1);
        ms[compare] = rig.clock.nowMs() - start;
        EXPECT_TRUE(rig.host.errors.isEmpty()) << rig.host.errors.join(" / ").toStdString();
    }
    EXPECT_GT(ms[0], 60000);  // 65536 loader exchanges and more
    EXPECT_LE(ms[1], ms[0]);
}
