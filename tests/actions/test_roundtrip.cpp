// Whole actions on every card type: what is programmed reads back identical, a changed byte
// fails the verify at its address, and every fault ends the action within seconds, never READY.
#include <gtest/gtest.h>

#include <random>

#include "ActionRig.h"

using namespace kelvano;
using namespace kelvano::test;

namespace {

// Random contents in every memory of the card, with a configuration that leaves it readable.
void randomCard(ActionRig& rig, std::mt19937& rng) {
    TDevices& d = rig.devices;
    const bool pic = isPicCode(d.DeviceId);
    fillRandom(d.ProgBuf, rng, pic ? 0x3FFF : 0xFFFF);
    fillRandom(d.DataBuf, rng, 0xFF);
    fillRandom(d.EepBuf, rng, 0xFF);
    if (pic) {
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

// With the store built into the program: its demo loaders reach every loader card's EEPROM.
// The USB box programs what it has packets for, whether it keeps one answer buffer or queues
// its answers (the connect leaves one answer unread: a queued box must not shift them).
TEST(RoundTrip, EveryCardTypeProgramsAndReadsBackIdentical) {
    using M = SimBox::Model;
    // clang-format off
    const struct {
        int card;
        M model = M::Serial;
        bool queued = false;
    } rows[] = {{10}, {11}, {12}, {13}, {14}, {15}, {20}, {21}, {22}, {23}, {24}, {25}, {26}, {31},
                {20, M::Usb}, {20, M::Usb, true}, {21, M::Usb, true}, {22, M::Usb}, {23, M::Usb, true}};
    // clang-format on
    std::mt19937 rng(20240611);
    for (const auto& r : rows) {
        const int card = r.card;
        const bool usb = r.model == M::Usb;
        SCOPED_TRACE(testing::Message() << "card " << card << (usb ? " USB" : "") << r.queued);
        ActionRig rig(card, r.model);
        rig.usbBackend.setQueuedReplies(r.queued);
        rig.useBuiltInStore();
        rig.box.setTraceKept(usb);
        ASSERT_TRUE(rig.connect());
        rig.options.verify = true;
        if (usb) rig.only("PDC");
        randomCard(rig, rng);
        rig.run(5);
        ASSERT_TRUE(rig.ready()) << rig.host.errors.join("; ").toStdString();
        const MemorySet controller{Memory::Program, Memory::Data, Memory::Configuration};
        EXPECT_TRUE(rig.actions.result().written == (usb ? controller : MemorySet::all()));
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
        rig.run(1);
        ASSERT_TRUE(rig.ready()) << rig.host.errors.join("; ").toStdString();
        EXPECT_EQ(rig.usbBackend.pendingReplies(), 0);
        EXPECT_TRUE(d.ProgBuf == written.ProgBuf);
        EXPECT_TRUE(d.DataBuf == written.DataBuf);
        EXPECT_EQ(d.EepBuf == written.EepBuf, !usb);  // no EEPROM over USB
        if (isPicCode(card)) {
            EXPECT_TRUE(d.IdBuf == written.IdBuf);
            EXPECT_EQ(d.CfgWord, written.CfgWord);
        }
        if (card >= 21 && card <= 23) {  // AT90S2323, AT90S2343, AT90S8535: the fuse bit
            EXPECT_EQ(rig.fuses.avr.avrFuse, fuse);
        }
        if (card == 31) {
            EXPECT_EQ(d.FuseLow, written.FuseLow);
            EXPECT_EQ(d.FuseHigh, written.FuseHigh);
            EXPECT_EQ(d.LockByte, written.LockByte);
        }
    }
}

TEST(Faults, EveryFamilyAndActionEndsBoundedWithAnErrorAndNeverReady) {
    using K = SimFault::Kind;
    const K kinds[] = {K::NoAnswer, K::Garbled, K::LostLink, K::PullCard, K::ShortReply};
    for (int card : {10, 15, 11, 20, 22, 31}) {
        for (int action = 1; action <= 5; ++action) {
            for (SimFault::Kind kind : kinds) {
                for (int at : {1, 3, 40}) {
                    if (action == 2 && at > 6) continue;  // an erase is over by then
                    SCOPED_TRACE(testing::Message() << "card " << card << " action " << action
                                                    << " kind " << int(kind) << " at " << at);
                    ActionRig rig(card);
                    rig.box.setTraceKept(false);
                    ASSERT_TRUE(rig.connect());
                    rig.fillBuffers();  // every memory has replies worth checking
                    SimFault f;
                    f.kind = kind, f.at = at, f.times = 0;  // from then on
                    rig.box.addFault(f);
                    const qint64 start = rig.clock.nowMs();
                    rig.run(action);
                    EXPECT_TRUE(rig.actions.closeRequested());
                    EXPECT_FALSE(rig.actions.running());
                    EXPECT_LT(rig.clock.nowMs() - start,
                              4000);  // the six tries of a loader byte at most
                    EXPECT_FALSE(rig.host.errors.isEmpty());
                    EXPECT_NE(rig.actions.label(), "READY");
                }
            }
        }
    }
}
