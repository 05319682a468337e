// Comparing the card with the buffers: through the action runner, leaving the buffers alone.
#include <gtest/gtest.h>

#include <functional>

#include "ActionRig.h"

using namespace kelvano;
using namespace kelvano::test;

// Scattered and adjacent changes in every memory of the card are listed; a loader card asks
// before its loader replaces the controller's program, and without the agreement leaves the
// EEPROM out. What could not be read is named with the reason, never compared as blank; the
// user's buffers are left alone throughout.
TEST(CardCompare, EveryMemoryIsComparedOrNamedWithTheReasonItWasNot) {
    auto avr = [](SimCard& c) {
        c.flash[0x10] = 0x1234, c.flash[0x11] = 0xC00F, c.flash[0x800] = 0x0000;
        c.data[0x1FF] = 0x00;
        c.eeprom[0] = 0x12, c.eeprom[1] = 0x34, c.eeprom[0x1FFF] = 0x00;
    };
    const QString avrDiff =
        "flash 0010-0011 2 FFFFFFFF 1234C00F\nflash 0800-0800 1 FFFF 0000\ndata 01FF-01FF 1 FF "
        "00\n";
    const struct {
        int card;
        std::function<void(SimCard&)> set;
        const char* ticked;
        const char* fault;
        bool agree;  // to the question before the loader goes in
        QString diff;
        const char* note;  // in the report's text
        bool asked, failed;
    } rows[] = {
        {20, avr, "PDCE", nullptr, true,
         avrDiff + "eeprom 0000-0001 2 FFFF 1234\neeprom 1FFF-1FFF 1 FF 00\n", nullptr, true,
         false},
        {20, avr, "PDCE", nullptr, false, avrDiff + "skipped eeprom\n",
         "EEPROM Memory: not compared (reading it needs the loader in place of the controller's "
         "program; not agreed)",
         true, false},
        {15,
         [](SimCard& c) { c.flash[0x3FF] = 0x2ABC, c.data[0x3F] = 0x5A, c.eeprom[0x7FF] = 0x00; },
         "PDCE", nullptr, true,
         "flash 03FF-03FF 1 3FFF 2ABC\ndata 003F-003F 1 FF 5A\neeprom 07FF-07FF 1 FF 00\n", nullptr,
         true, false},
        // A PIC16F84 with its EEPROM wired to the box.
        {10, [](SimCard& c) { c.picConfig = 0x3FCF, c.flash[5] = 0x1111, c.eeprom[3] = 0x33; },
         "PDCE", nullptr, true,
         "config 2007-2007 1 3FFF 3FCF\neeprom 0003-0003 1 FF 33\nskipped flash\nskipped data\n",
         "Program Memory: not compared (the controller is code-protected, configuration word "
         "3FCF)",
         false, false},
        // The box falls silent in the flash read, after identifying: the error is shown too.
        {20, avr, "PDC", "noanswer,on=Y,at=40,times=0", true, "skipped flash\nskipped data\n",
         "Program Memory: not compared (not read: Error while reading program memory)", false,
         true},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(testing::Message() << "card " << r.card << " " << r.diff.toStdString());
        ActionRig rig(r.card);
        rig.options.warnEnable = true;
        rig.host.answerOk = r.agree;
        rig.only(r.ticked);
        r.set(rig.box.card());
        const std::vector<uint16_t> flash = rig.box.card().flash;
        const TBufArray prog = rig.devices.ProgBuf, data = rig.devices.DataBuf;
        const TBufArray eeprom = rig.devices.EepBuf;
        ASSERT_TRUE(rig.connect());
        if (r.fault) rig.fault(r.fault);
        bool failed = !r.failed;
        const CompareReport report = rig.compareCard(&failed);
        EXPECT_EQ(report.diffLines().toStdString(), r.diff.toStdString());
        EXPECT_FALSE(report.identical());
        EXPECT_EQ(failed, r.failed);
        if (r.note) {
            EXPECT_TRUE(report.text().contains(r.note)) << report.text().toStdString();
        }
        ASSERT_EQ(rig.host.questions.size(), r.asked ? 1 : 0);
        if (r.asked) {
            EXPECT_TRUE(rig.host.questions[0].startsWith(
                "Warning!|Comparing the external EEPROM installs the EEPROM loader in place of "
                "the controller's program."));
        }
        EXPECT_EQ(rig.box.card().flash == flash, !(r.asked && r.agree));  // the loader went in
        EXPECT_TRUE(rig.devices.ProgBuf == prog && rig.devices.DataBuf == data);
        EXPECT_TRUE(rig.devices.EepBuf == eeprom);
        EXPECT_EQ(rig.host.errors,
                  r.failed ? QStringList{"Error while reading program memory"} : QStringList{});
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
