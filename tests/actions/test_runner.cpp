// The runner around the sequences: the card wait, Abort, a silent box, the closing exchanges;
// whole actions read back identical, and every fault ending the action in seconds, not READY.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <random>

#include "ActionRig.h"

using namespace kelvano;
using namespace kelvano::test;

namespace {
// Timers need a Qt application object; the tests drive them by hand in virtual time.
int qtArgc = 1;
char qtName[] = "test_actions";
char* qtArgv[] = {qtName, nullptr};
QCoreApplication qtApp(qtArgc, qtArgv);
}  // namespace

TEST(ActionRunner, WaitsForTheCardOnlyWhenAskedAndAbortOrASilentBoxEndsTheWait) {
    // Without the option no card is polled (the sequence tests see every command and its wait).
    ActionRig rig(10, SimBox::Model::Serial, "");
    rig.box.removeCard();
    rig.options.smartAuto = true;
    rig.actions.start(ActionCode::Read);
    for (int tick = 0; tick < 7; ++tick) rig.actions.Startup();
    EXPECT_EQ(rig.commands(),
              (QStringList{"K", "DINS.", "K", "K", "K", "DCARD", "K", "K", "K", "DINS."}));
    EXPECT_EQ(rig.mainView.lampToggles, 7);
    EXPECT_EQ(rig.actions.label(), "INSERT CARD");
    EXPECT_EQ(rig.actions.tickIntervalMs(), 300);
    EXPECT_FALSE(rig.actions.closeRequested());
    rig.box.insertCard(10);
    rig.actions.Startup();
    EXPECT_EQ(rig.actions.label(), "READY");
    EXPECT_EQ(rig.view.closeRequests, 1);
    rig.actions.FormClose();

    // Abort while waiting closes the box down; a silent box is reported.
    rig.box.removeCard();
    rig.actions.start(ActionCode::Program);
    rig.actions.Startup();
    rig.actions.ButCancelClick();
    EXPECT_TRUE(rig.actions.closeRequested());
    rig.box.clearTrace();
    rig.actions.FormClose();
    EXPECT_EQ(rig.commands(), (QStringList{"M0", "D----", "d    "}));
    EXPECT_TRUE(rig.host.errors.isEmpty());

    rig.fault("noanswer,on=K,times=0");
    const qint64 start = rig.clock.nowMs();
    EXPECT_EQ(rig.run(5), 5);
    EXPECT_EQ(rig.host.errors, QStringList{"The programmer box does not answer."});
    EXPECT_FALSE(rig.actions.result().ready);
    // The first tick after 10 ms, four more 300 ms apart, each poll waiting 60 ms.
    EXPECT_EQ(rig.clock.nowMs() - start, 10 + 4 * 300 + 5 * 60);
}

TEST(ActionRunner, NoCardOnlyWithStateBitsOneAndTwo) {
    const struct {
        M model;
        const char* answer;
        bool card;
    } rows[] = {{S, "0", true},   {S, "2", true},   {S, "4", true},     {S, "6", false},
                {S, "7", false},  {S, "14", false}, {S, "X", false},    {U, "02", true},
                {U, "04", true},  {U, "06", false}, {U, "0200", false}, {S, "130", true},
                {S, "134", false}};
    for (const auto& r : rows) {
        SCOPED_TRACE(r.answer);
        const bool usb = r.model == U;
        ActionRig rig(usb ? 20 : 10, r.model, "");
        rig.options.smartAuto = true;
        rig.fault(QStringLiteral("reply=%1,on=%2,times=0").arg(r.answer, usb ? "05" : "K"));
        rig.actions.start(ActionCode::Verify);
        rig.actions.Startup();
        EXPECT_EQ(rig.actions.result().ready, r.card);
        EXPECT_EQ(rig.commands().contains("DINS."), !usb && !r.card);
    }
}

// At the first exchange unanswered (a loader's six tries at an EEPROM byte excepted), in every
// family and loop, also one sending only the PIC counter's increments or the address display.
TEST(ActionRunner, ABoxThatFallsSilentEndsTheActionWithinSeconds) {
    const QString none = "The programmer box does not answer.";
    const struct Row {
        int card;
        M model;
        const char* ticked;  // P, D, C, E
        int action;
        int silentAt;  // the box stops answering at this pending-events point
        QString error;
        int unanswered;      // exchanges sent into the silence before the closing ones
        bool blank = false;  // program buffers left blank: nothing to write but increments
    } rows[] = {
        // clang-format off
        {10, S, "P", 5, 100, none, 1, true},
        {11, S, "P", 5, 100, none, 1, true},
        {10, S, "D", 5, 20, "Error while writing PIC data memory", 2},
        {10, S, "P", 1, 100, "Error while reading program memory", 1},
        {10, S, "C", 5, 2, "Error while writing PIC Configuration", 2},
        {15, S, "E", 5, 10, "Error while uploading EEPROM loader", 2},
        {11, S, "E", 5, 30, "Error while uploading EEPROM loader", 2},
        {10, S, "E", 5, 100, "Error while writing EEPROM Memory", 1},
        {10, S, "E", 4, 100, "Error while reading EEPROM memory", 1},
        {20, S, "P", 5, 100, none, 1, true},
        {20, S, "D", 5, 100, "Error while writing data memory", 1},
        {20, S, "P", 4, 100, "Error while reading program memory", 1},
        {31, S, "P", 5, 100, none, 1},
        {31, S, "E", 5, 100, none, 1},
        {22, S, "E", 1, 200, "Error reading EEPROM Memory", 6},
        {20, S, "E", 5, 400, "Error while writing EEPROM Memory", 6},
        {20, U, "PD", 5, 100, "Error while writing data memory", 2, true},
        {20, U, "P", 1, 100, "Error while reading program memory", 1},
        // clang-format on
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::Message() << "card " << r.card << " " << r.ticked << " action "
                                        << r.action << " silent at " << r.silentAt);
        ActionRig rig(r.card, r.model, r.ticked);
        rig.options.soundReady = true;
        const TBufArray blank = rig.devices.ProgBuf;
        rig.fillBuffers();
        if (r.blank) rig.devices.ProgBuf = blank;
        if (r.action == 4) rig.cardHoldsBuffers();
        int events = 0;
        qint64 silentSince = -1;
        qsizetype traceAt = -1;
        rig.host.onEvents = [&] {
            if (++events != r.silentAt) return;
            rig.fault("noanswer,times=0");
            silentSince = rig.clock.nowMs();
            traceAt = rig.box.trace().size();
        };
        rig.run(r.action);
        ASSERT_GE(silentSince, 0) << "the action ended before the box fell silent";
        EXPECT_EQ(rig.host.errors, QStringList{r.error});  // one error, not one per exchange
        EXPECT_FALSE(rig.actions.result().ready);
        EXPECT_EQ(rig.view.sounds, 0);  // the ready sound only after READY
        EXPECT_EQ(rig.box.trace().size() - traceAt - (r.model == U ? 1 : 3), r.unanswered)
            << rig.commands().mid(traceAt).join(' ').toStdString();
        // The unanswered exchanges and the closing ones (1.5 s for "M0") at most.
        EXPECT_LT(rig.clock.nowMs() - silentSince, 4000);
    }
}

namespace {

// Contents in every memory of the card, with a random configuration that leaves it readable.
void randomCard(ActionRig& rig, std::mt19937& rng) {
    TDevices& d = rig.devices;
    rig.fillBuffers();
    if (isPicCode(d.DeviceId)) {
        for (int k = 0; k < 4; ++k) d.IdBuf[k] = uint16_t(rng() & 0xF);
        rig.fuses.pic84 = Pic84Page{int(rng() % 4), bool(rng() & 1), bool(rng() & 1), false, {}};
        Pic876Page& p = rig.fuses.pic876;
        p.fosc = int(rng() % 4), p.wdte = rng() & 1, p.pwrte = rng() & 1, p.boden = rng() & 1,
        p.wrt = rng() & 1;
        p.cp = 3;  // "OFF"
    } else {
        rig.fuses.avr.avrFuse = rng() & 1;
        Mega163Page& m = rig.fuses.mega163;
        m.osc = int(rng() % 16), m.boden = rng() & 1, m.bootSize = int(rng() % 4);
    }
}

}  // namespace

// The built-in store's demo loaders reach every loader card's EEPROM. The USB box programs
// what it has packets for, keeping one answer buffer or queueing (the connect leaves one answer
// unread: a queue must not shift). At 115200 baud a full 24C512 compare costs no more than a read.
TEST(RoundTrip, EveryCardTypeProgramsAndReadsBackIdentical) {
    // clang-format off
    const struct {
        int card;
        M model = S;
        bool queued = false;
    } rows[] = {{10}, {11}, {12}, {13}, {14}, {15}, {20}, {21}, {22}, {23}, {24}, {25}, {26}, {31},
                {20, U}, {20, U, true}, {21, U, true}, {22, U}, {23, U, true}};
    // clang-format on
    std::mt19937 rng(20240611);
    for (const auto& r : rows) {
        const bool usb = r.model == U;
        SCOPED_TRACE(testing::Message() << "card " << r.card << (usb ? " USB" : "") << r.queued);
        ActionRig rig(r.card, r.model, usb ? "PDC" : "PDCE", false);
        rig.usbBackend.setQueuedReplies(r.queued);
        rig.useBuiltInStore();
        rig.box.setTraceKept(usb);
        rig.lineSpeed = 115200;
        ASSERT_TRUE(rig.connect());
        rig.options.verify = true;
        randomCard(rig, rng);
        rig.run(5);
        ASSERT_TRUE(rig.ready()) << rig.host.errors.join("; ").toStdString();
        EXPECT_TRUE(rig.actions.result().written ==
                    (usb ? MemorySet{Memory::Program, Memory::Data, Memory::Configuration}
                         : MemorySet::all()));
        EXPECT_EQ(rig.commands().contains("04AC800000"), usb);  // chip erase
        const TDevices& d = rig.devices;
        const struct {
            TBufArray ProgBuf, DataBuf, EepBuf, IdBuf;
            uint16_t CfgWord;
            uint8_t FuseLow, FuseHigh, LockByte;
        } written{d.ProgBuf, d.DataBuf, d.EepBuf,   d.IdBuf,
                  d.CfgWord, d.FuseLow, d.FuseHigh, d.LockByte};
        const bool fuse = rig.fuses.avr.avrFuse;

        rig.devices.ApplyBuffers();  // blank buffers, configuration reset
        rig.devices.FuseLow = rig.devices.FuseHigh = rig.devices.LockByte = 0;
        rig.fuses.avr.avrFuse = !fuse;
        const qint64 start = rig.clock.nowMs();
        rig.run(1);
        const qint64 readMs = rig.clock.nowMs() - start;
        ASSERT_TRUE(rig.ready()) << rig.host.errors.join("; ").toStdString();
        EXPECT_EQ(rig.usbBackend.pendingReplies(), 0);
        EXPECT_TRUE(d.ProgBuf == written.ProgBuf);
        EXPECT_TRUE(d.DataBuf == written.DataBuf);
        EXPECT_EQ(d.EepBuf == written.EepBuf, !usb);  // no EEPROM over USB
        EXPECT_TRUE(d.IdBuf == written.IdBuf);
        EXPECT_EQ(d.CfgWord, written.CfgWord);
        // Only the AT90S2323, AT90S2343 and AT90S8535 have a fuse bit to read.
        EXPECT_EQ(rig.fuses.avr.avrFuse, r.card >= 21 && r.card <= 23 ? fuse : !fuse);
        if (r.card == 31) {
            EXPECT_EQ(std::tuple(d.FuseLow, d.FuseHigh, d.LockByte),
                      std::tuple(written.FuseLow, written.FuseHigh, written.LockByte));
        }
        if (r.card == 26) {            // AT90S8515 + 24C512
            EXPECT_GT(readMs, 60000);  // 65536 loader exchanges and more
            const qint64 compareStart = rig.clock.nowMs();
            rig.compareCard();
            EXPECT_TRUE(rig.host.errors.isEmpty()) << rig.host.errors.join(" / ").toStdString();
            EXPECT_LE(rig.clock.nowMs() - compareStart, readMs);
        }
    }
}

TEST(Faults, EveryFamilyAndActionEndsBoundedWithAnErrorAndNeverReady) {
    for (int card : {10, 15, 11, 20, 22, 31}) {
        for (int action = 1; action <= 5; ++action) {
            for (const char* kind : {"noanswer", "garble", "lostlink", "pullcard", "short"}) {
                for (int at : {1, 3, 40}) {
                    if (action == 2 && at > 6) continue;  // an erase is over by then
                    SCOPED_TRACE(testing::Message() << "card " << card << " action " << action
                                                    << " " << kind << " at " << at);
                    ActionRig rig(card);
                    rig.box.setTraceKept(false);
                    rig.fillBuffers();  // every memory has replies worth checking
                    rig.fault(QString("%1,at=%2,times=0").arg(kind).arg(at));  // from then on
                    const qint64 start = rig.clock.nowMs();
                    rig.run(action);
                    EXPECT_TRUE(rig.actions.closeRequested());
                    EXPECT_FALSE(rig.actions.running());
                    // The six tries of a loader byte at most.
                    EXPECT_LT(rig.clock.nowMs() - start, 4000);
                    EXPECT_FALSE(rig.host.errors.isEmpty());
                    EXPECT_NE(rig.actions.label(), "READY");
                }
            }
        }
    }
}
