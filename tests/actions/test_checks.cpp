// What the actions make of the box's answers: time-outs, refusals, well-formed wrong values;
// blank and protection tests bit by bit; the card compared with the buffers, left alone.
#include <gtest/gtest.h>

#include <functional>

#include "ActionRig.h"

using namespace kelvano;
using namespace kelvano::test;

namespace {

constexpr Memory P = Memory::Program, D = Memory::Data, C = Memory::Configuration,
                 E = Memory::ExternalEeprom;
constexpr MemorySet kCtl{P, D, C};
const char* const kEepW = "Error while writing EEPROM Memory";
const char* const kErase = "Error while erasing device";
const char* const kLock = "Error while writing lock bits";
const char* const kFuse = "Error while writing fuse bits";

}  // namespace

// Each row hits one exchange. A failing action stops at that exchange with its message,
// counts nothing as done that was not, and sends nothing after it but the closing exchanges
// (besides the PIC counter's increment and the low byte of an AVR word whose high byte failed).
TEST(AnswerChecks, TimeoutRefusalOrWrongValueStopsTheActionThere) {
    const struct Row {
        int card;
        M model;
        const char* ticked;
        int action;
        bool verify;
        const char* fault;
        const char* error;  // nullptr: the action ends READY
        MemorySet done, failed;
    } rows[] = {
        // clang-format off
        // PIC writes are read back and compared; automatic verify reads every word again.
        {10, S, "PDC", 5, false, "wrong,on=L00,at=3", "Error while writing PIC program memory", {}, {P}},
        {10, S, "PDC", 5, false, "wrong,on=L01,at=9", "Error while writing PIC data memory", {P}, {D}},
        {10, S, "PDC", 5, true, "wrong,on=R04,at=7", "Verify error at $0006 (Program Memory)", {P}, {P}},
        {10, S, "PDC", 5, true, "wrong,on=R05,at=40", "Verify error at $0027 (Data Memory)", {P, D}, {D}},
        {10, S, "PDC", 5, false, "wrong,on=R04", nullptr, kCtl, {}},
        // The ID locations only have to answer; the configuration word after them is compared.
        {10, S, "C", 5, false, "wrong,on=L00,at=5", "Error while writing PIC Configuration", {}, {C}},
        {10, S, "C", 1, false, "noanswer,on=R,at=2", "Error while reading PIC Configuration", {}, {C}},
        // Direct EEPROM writes: refused, answered with another value, not answered.
        {10, S, "E", 5, false, "refuse,on=W0004", kEepW, {}, {E}},
        {10, S, "E", 5, false, "reply=00,on=W0004", kEepW, {}, {E}},
        {13, S, "E", 5, true, "wrong,on=g1234", "Verify error at $1234 (EEPROM Memory)", {E}, {E}},
        {13, S, "E", 5, false, "wrong,on=g1234", nullptr, {E}, {}},
        // Through a loader: each byte comes back and is compared; misses are retried.
        {22, S, "E", 5, false, "wrong,on=X0003", kEepW, {}, {E}},
        {31, S, "E", 5, false, "noanswer,on=X,times=5", nullptr, {E}, {}},
        // Verify: each memory of each controller family, low and high byte, first address named.
        {20, S, "P", 4, false, "wrong,on=Y200123", "Verify error at $0123 (Program Memory)", {}, {P}},
        {31, S, "P", 4, false, "wrong,on=Y281FFF", "Verify error at $1FFF (Program Memory)", {}, {P}},
        {20, S, "D", 4, false, "wrong,on=YA001F0", "Verify error at $01F0 (Data Memory)", {}, {D}},
        {11, S, "P", 4, false, "wrong,on=R04,at=2049", "Verify error at $0800 (Program Memory)", {}, {P}},
        {10, S, "D", 4, false, "wrong,on=R05,at=64", "Verify error at $003F (Data Memory)", {}, {D}},
        // A USB answer is good only when it echoes the instruction's second byte.
        {20, U, "P", 1, false, "reply=FFFF,on=0428,at=5", "Error while reading program memory", {}, {P}},
        // AVR flash and data writes the box refuses.
        {20, S, "P", 5, false, "refuse,on=Y48,at=2", "Error while writing program memory", {}, {P}},
        {20, S, "D", 5, false, "refuse,on=YC0,at=4", "Error while writing data memory", {}, {D}},
        // Erase, lock and fuse writes have no value to check, but must be answered.
        {20, S, "PDC", 5, false, "noanswer,on=YAC800000", kErase, {}, {}},
        {20, U, "PDC", 5, false, "noanswer,on=04AC800000", kErase, {}, {}},
        {20, S, "C", 5, false, "noanswer,on=YACF90000", kLock, {}, {C}},
        {20, U, "C", 5, false, "noanswer,on=04ACF90000", kLock, {}, {C}},
        {22, S, "C", 5, false, "noanswer,on=YACBE0000", kFuse, {}, {C}},
        {31, S, "C", 5, false, "noanswer,on=YACE000", kLock, {}, {C}},
        {31, S, "C", 5, false, "noanswer,on=YACA800", kFuse, {}, {C}},
        // Locking the freshly installed loader in.
        {22, S, "E", 5, false, "noanswer,on=YACF90000", kLock, {}, {}},
        {31, S, "E", 5, false, "noanswer,on=YACA000F0", kFuse, {}, {}},
        // clang-format on
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::Message() << "card " << r.card << " " << r.fault);
        ActionRig rig(r.card, r.model, r.ticked);
        rig.options.verify = r.verify;
        rig.fillBuffers();
        rig.fuses.avr.avrFuse = rig.fuses.avr.lockBit1 = rig.fuses.avr.lockBit2 = true;
        rig.devices.LockByte = 0xFC, rig.devices.FuseLow = 0xE1, rig.devices.FuseHigh = 0xF8;
        RefreshMega163Page(rig.devices, rig.fuses);
        if (r.action == 4) rig.cardHoldsBuffers();
        rig.fault(r.fault);
        rig.run(r.action);

        const ActionResult& res = rig.actions.result();
        EXPECT_TRUE((r.action == 1   ? res.read
                     : r.action == 4 ? res.verified
                                     : res.written) == r.done);
        EXPECT_EQ(rig.host.errors, r.error ? QStringList{r.error} : QStringList{});
        EXPECT_EQ(res.ready, !r.error);
        EXPECT_TRUE(res.failed == r.failed);
        if (!r.error) continue;
        const SimFault f = *SimFault::parse(r.fault);
        EXPECT_EQ(rig.sent(f.family).size(), f.at);
        QStringList sent = rig.commands();
        sent.removeAll("I");
        if (f.family.startsWith("Y28")) sent.removeAll("Y20" + f.family.mid(3) + "00");
        int last = int(sent.size()) - 1;
        while (last >= 0 && !sent[last].startsWith(f.family)) --last;
        const QStringList closing =
            r.model == U ? QStringList{"0100"} : QStringList{"M0", "D----", "d    "};
        EXPECT_EQ(sent.mid(last + 1), closing);
    }
}

// Words that differ from blank in the high byte only, then in the low byte only, on every
// family and link: the first one is named.
TEST(AnswerChecks, BlankCheckNamesTheFirstProgrammedWord) {
    const struct {
        int card;
        M model;
        size_t at;
        uint16_t words[2];
        const char* error;
    } rows[] = {{20, S, 0x0ABC, {0x7FFF, 0xFFFE}, "Device not blank at $0ABC"},
                {20, U, 0x0ABC, {0x7FFF, 0xFFFE}, "Device not blank at $0ABC"},
                {31, S, 0x1FFE, {0x7FFF, 0xFFFE}, "Device not blank at $1FFE"},
                {11, S, 0x1ABC, {0x1FFF, 0x3FFE}, "Device not blank at $1ABC"},
                {10, S, 0x03FE, {0x1FFF, 0x3FFE}, "Device not blank at $03FE"}};
    for (const auto& r : rows) {
        for (const uint16_t word : r.words) {
            SCOPED_TRACE(testing::Message() << "card " << r.card << " word " << word);
            ActionRig rig(r.card, r.model);
            rig.box.card().flash[r.at] = word;
            rig.box.card().flash[r.at + 1] = 0x0000;
            rig.run(3);
            EXPECT_EQ(rig.host.errors, QStringList{r.error});
            EXPECT_TRUE(rig.actions.result().blankChecked.empty());
        }
    }
}

// ATmega163: both lock bits programmed protect (one alone only stops writes), with an error,
// over either link; over USB the lock byte is read, its fuse bytes are not, and it says so.
// PIC16F84: either CP bit (4 or 5 of the configuration word) protects, with a warning, READY.
TEST(AnswerChecks, ProtectionNeedsBothMegaLockBitsButOnePicCpBit) {
    const struct {
        int card;
        M model;
        unsigned value;
        bool prot;
    } rows[] = {{31, S, 0xFE, false},  {31, S, 0xFD, false},  {31, S, 0xFC, true},
                {31, U, 0xFD, false},  {31, U, 0xFC, true},   {10, S, 0x3FEF, true},
                {10, S, 0x3FDF, true}, {10, S, 0x3FFF, false}};
    for (const auto& r : rows) {
        SCOPED_TRACE(testing::Message() << r.value << (r.model == U ? " USB" : ""));
        const bool mega = r.card == 31;
        ActionRig rig(r.card, r.model, mega ? "PC" : "PDCE");
        rig.options.warnEnable = true;
        rig.box.card().flash.back() = 0x1357;
        rig.box.card().fuseLow = 0xE1;
        rig.fuses.mega163.osc = 5;  // the card's fuse low byte E1 would show 1
        if (mega)
            rig.box.card().lockBits = uint8_t(r.value);
        else
            rig.box.card().picConfig = uint16_t(r.value);
        rig.run(1);
        EXPECT_EQ(mega ? rig.devices.LockByte : rig.devices.CfgWord, r.value);
        EXPECT_EQ(rig.devices.ProgBuf[rig.devices.ProgBuf.length() - 1] == 0x1357, !r.prot);
        EXPECT_EQ(rig.actions.result().read.has(P), !r.prot);
        const QString warning = "Warning!|Controller is protected! \rcan't read contents.";
        const QString error =
            "AVR-Mega-Device is protected!\rCan't read, verify or blank check the device.";
        EXPECT_EQ(rig.host.questions, !mega && r.prot ? QStringList{warning} : QStringList{});
        EXPECT_EQ(rig.host.errors, mega && r.prot ? QStringList{error} : QStringList{});
        const bool fusesUnread = mega && r.model == U && !r.prot;  // no USB form for them
        EXPECT_EQ(rig.actions.result().partial(), (!mega && r.prot) || fusesUnread);
        if (fusesUnread) {
            EXPECT_EQ(rig.actions.label(), "READY\nFuse bytes not read (no USB form)");
            EXPECT_TRUE(rig.actions.result().skipped == MemorySet{C});
            EXPECT_FALSE(rig.commands().contains("0450000000"));
            EXPECT_EQ(rig.fuses.mega163.osc, 5);  // not made up
        }
        if (mega || !r.prot) continue;
        EXPECT_TRUE(rig.actions.result().read.has(E));
        // Abort on the warning leaves the external EEPROM unread too.
        rig.box.clearTrace();
        rig.host.answerOk = false;
        rig.run(1);
        EXPECT_FALSE(rig.commands().contains("M3"));
        EXPECT_FALSE(rig.actions.result().ready);
    }
}

// Scattered and adjacent changes in every memory are listed; a loader card asks before its
// loader replaces the controller's program, and unagreed leaves the EEPROM out. What could not
// be read is named with the reason, never compared as blank; the buffers are left alone.
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
        const char* fault;  // the only rows that fail
        bool agree;         // to the question before the loader goes in
        QString diff;
        const char* note;  // in the report's text
        bool asked;
    } rows[] = {
        // clang-format off
        {20, avr, "PDCE", nullptr, true, avrDiff + "eeprom 0000-0001 2 FFFF 1234\neeprom 1FFF-1FFF 1 FF 00\n", nullptr, true},
        {20, avr, "PDCE", nullptr, false, avrDiff + "skipped eeprom\n",
         "EEPROM Memory: not compared (reading it needs the loader in place of the controller's program; not agreed)", true},
        {15, [](SimCard& c) { c.flash[0x3FF] = 0x2ABC, c.data[0x3F] = 0x5A, c.eeprom[0x7FF] = 0x00; }, "PDCE", nullptr, true,
         "flash 03FF-03FF 1 3FFF 2ABC\ndata 003F-003F 1 FF 5A\neeprom 07FF-07FF 1 FF 00\n", nullptr, true},
        // A PIC16F84 with its EEPROM wired to the box.
        {10, [](SimCard& c) { c.picConfig = 0x3FCF, c.flash[5] = 0x1111, c.eeprom[3] = 0x33; }, "PDCE", nullptr, true,
         "config 2007-2007 1 3FFF 3FCF\neeprom 0003-0003 1 FF 33\nskipped flash\nskipped data\n",
         "Program Memory: not compared (the controller is code-protected, configuration word 3FCF)", false},
        // The box falls silent in the flash read, after identifying: the error is shown too.
        {20, avr, "PDC", "noanswer,on=Y,at=40,times=0", true, "skipped flash\nskipped data\n",
         "Program Memory: not compared (not read: Error while reading program memory)", false},
        // clang-format on
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(testing::Message() << "card " << r.card << " " << r.diff.toStdString());
        ActionRig rig(r.card, S, r.ticked);
        rig.options.warnEnable = true;
        rig.host.answerOk = r.agree;
        r.set(rig.box.card());
        const std::vector<uint16_t> flash = rig.box.card().flash;
        const TBufArray prog = rig.devices.ProgBuf, data = rig.devices.DataBuf;
        const TBufArray eeprom = rig.devices.EepBuf;
        if (r.fault) rig.fault(r.fault);
        bool failed = !r.fault;
        const CompareReport report = rig.compareCard(&failed);
        EXPECT_EQ(report.diffLines().toStdString(), r.diff.toStdString());
        EXPECT_FALSE(report.identical());
        EXPECT_EQ(failed, r.fault != nullptr);
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
                  r.fault ? QStringList{"Error while reading program memory"} : QStringList{});
    }
}
