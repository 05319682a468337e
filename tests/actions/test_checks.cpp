// What the actions make of the box's answers: a box that times out, refuses, or answers a
// well-formed wrong value; blank and protection tests on values that differ bit by bit.
#include <gtest/gtest.h>

#include "ActionRig.h"

using namespace kelvano;
using namespace kelvano::test;

namespace {

using M = SimBox::Model;
constexpr Memory P = Memory::Program, D = Memory::Data, C = Memory::Configuration,
                 E = Memory::ExternalEeprom;

// What the action got done of the kind it does.
MemorySet doneBy(const ActionResult& r) {
    switch (r.action) {
        case ActionCode::Read:
            return r.read;
        case ActionCode::Verify:
            return r.verified;
        case ActionCode::BlankCheck:
            return r.blankChecked;
        default:
            return r.written;
    }
}

}  // namespace

// Each row hits one exchange. A failing action stops at that exchange with its message,
// counts nothing as done that was not, and sends nothing after it but the closing exchanges
// (and the PIC counter's increment, which changes nothing on the card).
TEST(AnswerChecks, TimeoutRefusalOrWrongValueStopsTheActionThere) {
    const struct Row {
        int card;
        M model;
        MemorySet ticked;
        int action;
        bool verify;
        const char* fault;
        const char* error;  // nullptr: the action ends READY
        MemorySet done, failed;
    } rows[] = {
        // PIC writes are read back and compared; automatic verify reads every word again.
        {10,
         M::Serial,
         {P, D, C},
         5,
         false,
         "wrong,on=L00,at=3",
         "Error while writing PIC program memory",
         {},
         {P}},
        {10,
         M::Serial,
         {P, D, C},
         5,
         false,
         "wrong,on=L01,at=9",
         "Error while writing PIC data memory",
         {P},
         {D}},
        {10,
         M::Serial,
         {P, D, C},
         5,
         true,
         "wrong,on=R04,at=7",
         "Verify error at $0006 (Program Memory)",
         {P},
         {P}},
        {10,
         M::Serial,
         {P, D, C},
         5,
         true,
         "wrong,on=R05,at=40",
         "Verify error at $0027 (Data Memory)",
         {P, D},
         {D}},
        {10, M::Serial, {P, D, C}, 5, false, "wrong,on=R04", nullptr, {P, D, C}, {}},
        // The ID locations only have to answer; the configuration word after them is compared.
        {10,
         M::Serial,
         {C},
         5,
         false,
         "wrong,on=L00,at=5",
         "Error while writing PIC Configuration",
         {},
         {C}},
        {10,
         M::Serial,
         {C},
         1,
         false,
         "noanswer,on=R,at=2",
         "Error while reading PIC Configuration",
         {},
         {C}},
        // Direct EEPROM writes: refused, answered with another value, not answered.
        {10,
         M::Serial,
         {E},
         5,
         false,
         "refuse,on=W0004",
         "Error while writing EEPROM Memory",
         {},
         {E}},
        {10,
         M::Serial,
         {E},
         5,
         false,
         "reply=00,on=W0004",
         "Error while writing EEPROM Memory",
         {},
         {E}},
        {10,
         M::Serial,
         {E},
         5,
         false,
         "noanswer,on=W0004",
         "Error while writing EEPROM Memory",
         {},
         {E}},
        {13,
         M::Serial,
         {E},
         5,
         true,
         "wrong,on=g1234",
         "Verify error at $1234 (EEPROM Memory)",
         {E},
         {E}},
        {13, M::Serial, {E}, 5, false, "wrong,on=g1234", nullptr, {E}, {}},
        // Through a loader: each byte comes back and is compared; misses are retried.
        {22,
         M::Serial,
         {E},
         5,
         false,
         "wrong,on=X0003",
         "Error while writing EEPROM Memory",
         {},
         {E}},
        {31, M::Serial, {E}, 5, false, "noanswer,on=X,times=5", nullptr, {E}, {}},
        // AVR flash and data writes the box refuses.
        {20,
         M::Serial,
         {P},
         5,
         false,
         "refuse,on=Y48,at=2",
         "Error while writing program memory",
         {},
         {P}},
        {20,
         M::Serial,
         {D},
         5,
         false,
         "refuse,on=YC0,at=4",
         "Error while writing data memory",
         {},
         {D}},
        // Erase, lock and fuse writes have no value to check, but must be answered.
        {20,
         M::Serial,
         {P, D, C},
         5,
         false,
         "noanswer,on=YAC800000",
         "Error while erasing device",
         {},
         {}},
        {20,
         M::Usb,
         {P, D, C},
         5,
         false,
         "noanswer,on=04AC800000",
         "Error while erasing device",
         {},
         {}},
        {20,
         M::Serial,
         {C},
         5,
         false,
         "noanswer,on=YACF90000",
         "Error while writing lock bits",
         {},
         {C}},
        {20,
         M::Usb,
         {C},
         5,
         false,
         "noanswer,on=04ACF90000",
         "Error while writing lock bits",
         {},
         {C}},
        {22,
         M::Serial,
         {C},
         5,
         false,
         "noanswer,on=YACBE0000",
         "Error while writing fuse bits",
         {},
         {C}},
        {31,
         M::Serial,
         {C},
         5,
         false,
         "noanswer,on=YACE000",
         "Error while writing lock bits",
         {},
         {C}},
        {31,
         M::Serial,
         {C},
         5,
         false,
         "noanswer,on=YACA800",
         "Error while writing fuse bits",
         {},
         {C}},
        // Locking the freshly installed loader in.
        {22,
         M::Serial,
         {E},
         5,
         false,
         "noanswer,on=YACF90000",
         "Error while writing lock bits",
         {},
         {}},
        {31,
         M::Serial,
         {E},
         5,
         false,
         "noanswer,on=YACA000F0",
         "Error while writing fuse bits",
         {},
         {}},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::Message() << "card " << r.card << " " << r.fault);
        ActionRig rig(r.card, r.model);
        ASSERT_TRUE(rig.connect());
        rig.only(r.ticked);
        rig.options.verify = r.verify;
        TDevices& d = rig.devices;
        for (int i = 0; i < d.ProgBuf.length(); ++i) d.ProgBuf[i] = uint16_t((i * 0x2A5) & 0x3FFF);
        for (int i = 0; i < d.DataBuf.length(); ++i) d.DataBuf[i] = uint16_t((i ^ 0xA5) & 0xFF);
        for (int i = 0; i < d.EepBuf.length(); ++i) d.EepBuf[i] = uint16_t((i * 5) & 0xFF);
        rig.fuses.avr.avrFuse = rig.fuses.avr.lockBit1 = rig.fuses.avr.lockBit2 = true;
        d.LockByte = 0xFC, d.FuseLow = 0xE1, d.FuseHigh = 0xF8;
        RefreshMega163Page(d, rig.fuses);
        rig.fault(r.fault);
        rig.run(r.action);

        const ActionResult& res = rig.actions.result();
        EXPECT_TRUE(doneBy(res) == r.done);
        if (!r.error) {
            EXPECT_TRUE(rig.ready()) << rig.host.errors.join("; ").toStdString();
            continue;
        }
        EXPECT_EQ(rig.host.errors, QStringList{r.error});
        EXPECT_FALSE(res.ready);
        EXPECT_TRUE(res.failed == r.failed);
        const SimFault f = *SimFault::parse(r.fault);
        EXPECT_EQ(rig.sent(f.family).size(), f.at);
        QStringList sent = rig.commands();
        sent.removeAll("I");
        int last = int(sent.size()) - 1;
        while (last >= 0 && !sent[last].startsWith(f.family)) --last;
        const QStringList closing =
            r.model == M::Usb ? QStringList{"0100"} : QStringList{"M0", "D----", "d    "};
        EXPECT_EQ(sent.mid(last + 1), closing);
    }
}

TEST(AnswerChecks, BlankCheckNamesTheFirstProgrammedWord) {
    ActionRig rig(20);
    ASSERT_TRUE(rig.connect());
    rig.run(3);
    ASSERT_TRUE(rig.ready()) << rig.host.errors.join("; ").toStdString();
    EXPECT_EQ(rig.sent("Y28").size(), 4096);
    EXPECT_EQ(rig.sent("Y20").size(), 4096);
    EXPECT_TRUE(rig.actions.result().blankChecked == MemorySet{P});

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

TEST(AnswerChecks, ProtectionNeedsBothMegaLockBitsButOnePicCpBit) {
    for (uint8_t lock : {uint8_t(0xFE), uint8_t(0xFD), uint8_t(0xFC)}) {
        SCOPED_TRACE(int(lock));
        ActionRig rig(31);
        ASSERT_TRUE(rig.connect());
        rig.only({P});
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
        EXPECT_EQ(rig.host.questions,
                  prot ? QStringList{"Warning!|Controller is protected! \rcan't read contents."}
                       : QStringList{});
        EXPECT_EQ(rig.sent("R05").size(), prot ? 0 : 64);
        EXPECT_EQ(rig.actions.result().partial(), prot);
        EXPECT_EQ(rig.actions.result().read.has(P), !prot);
        EXPECT_TRUE(rig.actions.result().read.has(E));
        if (!prot) continue;
        // Abort on the warning leaves the external EEPROM unread too.
        rig.box.clearTrace();
        rig.host.answerOk = false;
        rig.run(1);
        EXPECT_FALSE(rig.commands().contains("M3"));
        EXPECT_FALSE(rig.actions.result().ready);
    }
}

TEST(AnswerChecks, AnotherAvrDeviceIsNamed) {
    ActionRig rig(22);
    ASSERT_TRUE(rig.connect());
    rig.box.insertCard(20);  // an AT90S8515 where an AT90S2323 belongs
    rig.run(3);
    EXPECT_EQ(rig.host.errors, QStringList{"Wrong AVR Device!\rRead: AT90S8515\rMust: AT90S2323"});
    EXPECT_FALSE(rig.actions.result().ready);
}
