// What the sequences send for what is ticked and set: the words, bytes and bits that reach
// the card, which steps are left out, and the loaders.
#include <gtest/gtest.h>

#include <functional>

#include "ActionRig.h"

using namespace kelvano;
using namespace kelvano::test;

namespace {
using M = SimBox::Model;
constexpr M S = M::Serial;
constexpr Memory P = Memory::Program, D = Memory::Data, C = Memory::Configuration,
                 E = Memory::ExternalEeprom;
}  // namespace

// Each row: a card, what is ticked and set, and for some command prefixes every command sent
// with that prefix, in order (an empty list: none at all).
TEST(Sequences, WhatReachesTheCard) {
    const struct Row {
        const char* name;
        int card;
        M model;
        MemorySet ticked;
        int action;
        std::function<void(ActionRig&)> set;
        std::vector<std::pair<const char*, QStringList>> sent;
        const char* error = nullptr;
    } rows[] = {
        // clang-format off
        {"PIC: blank words not written, ID nibbles, configuration word", 10, S, {P, C}, 5,
         [](ActionRig& r) {
             r.devices.IdBuf[0] = 1, r.devices.IdBuf[1] = 2, r.devices.IdBuf[2] = 3;
             r.devices.IdBuf[3] = 0x3FF4;  // only the low four bits are an ID value
             r.fuses.pic84 = Pic84Page{3, true, false, false, {}};  // RC, WDT on: 3FFF
         },
         {{"L00", {"L003F81", "L003F82", "L003F83", "L003F84", "L003FFF"}}, {"ErA", {}}}},
        {"PIC: all three ticked erase, every data byte written, no labels on a QXBASE", 13, M::QxBase,
         {P, D, C}, 5, nullptr,
         {{"ErA", {"ErA"}}, {"L01", QStringList(64, "L0100FF")}, {"d", {}}}},
        {"PIC: always erase", 13, S, {}, 5, [](ActionRig& r) { r.options.alwaysErase = true; },
         {{"ErA", {"ErA"}}}},
        {"AT90S2323: programmed words low byte first, fuse and lock bytes, no erase", 22, S, {P, C}, 5,
         [](ActionRig& r) {
             r.fuses.avr.avrFuse = r.fuses.avr.lockBit1 = r.fuses.avr.lockBit2 = true;
             r.devices.ProgBuf[5] = 0x1234;
         },
         {{"Y40", {"Y40000534"}}, {"Y48", {"Y48000512"}}, {"YACB", {"YACBE0000"}},
          {"YACF", {"YACF90000"}}, {"YAC80", {}}}},
        {"AT90S8515: lock bit 1 alone, no fuse byte", 20, S, {C}, 5,
         [](ActionRig& r) { r.fuses.avr.lockBit1 = true; },
         {{"YAC", {"YAC530000", "YACFD0000"}}}},
        {"ATmega163: only the dirty page, word by word", 31, S, {P}, 5,
         [](ActionRig& r) { r.devices.ProgBuf[70] = 0xABCD; },
         {{"Y4C", {"Y4C004000"}}, {"Y400005", {"Y400005FF"}}, {"Y400006", {"Y400006CD"}},
          {"Y480006", {"Y480006AB"}}, {"Y40003F", {"Y40003FFF"}}}},
        {"ATmega163: the 300-byte loader in three pages, then the EEPROM", 31, S, {E}, 5,
         [](ActionRig& r) { r.devices.EepBuf[0] = 0x42; },
         {{"Y4C", {"Y4C000000", "Y4C004000", "Y4C008000"}}, {"X0000", {"X000042"}}}},
        {"24C16: one-byte addresses", 10, S, {E}, 5,
         [](ActionRig& r) { r.devices.EepBuf[3] = 0x5A; },
         {{"W0003", {"W00035A"}}, {"w", {}}}},
        {"24C64: two-byte addresses", 13, S, {E}, 5,
         [](ActionRig& r) { r.devices.EepBuf[3] = 0x5A; },
         {{"w0003", {"w00035A"}}, {"W", {}}}},
        {"verify of a direct 24C16", 10, S, {E}, 4,
         [](ActionRig& r) { r.box.card().eeprom[0x7F3] = 0x11; },
         {{"G07F3", {"G07F3"}}, {"G07F4", {}}, {"g", {}}}, "Verify error at $07F3 (EEPROM Memory)"},
        {"verify of a direct 24C32", 14, S, {E}, 4,
         [](ActionRig& r) { r.box.card().eeprom[0x7F3] = 0x11; },
         {{"g07F3", {"g07F3"}}, {"g07F4", {}}}, "Verify error at $07F3 (EEPROM Memory)"},
        // clang-format on
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        ActionRig rig(r.card, r.model);
        ASSERT_TRUE(rig.connect());
        rig.only(r.ticked);
        if (r.set) r.set(rig);
        rig.run(r.action);
        if (r.error)
            EXPECT_EQ(rig.host.errors, QStringList{r.error});
        else
            EXPECT_TRUE(rig.ready()) << rig.host.errors.join("; ").toStdString();
        for (const auto& [prefix, expected] : r.sent)
            EXPECT_EQ(rig.sent(prefix), expected) << prefix;
    }
}

TEST(LoaderSequences, WarningThenLoaderInstalledLockedInAndEepromReadThroughIt) {
    ActionRig rig(22);
    ASSERT_TRUE(rig.connect());
    rig.options.warnEnable = true;
    for (int i = 0; i < 2048; ++i) rig.box.card().eeprom[size_t(i)] = uint8_t(i * 7 + (i >> 8));
    rig.run(1);
    ASSERT_TRUE(rig.ready()) << rig.host.errors.join("; ").toStdString();
    EXPECT_EQ(rig.host.questions, QStringList{"Warning!|Contents of controller will be lost\r\r"});
    EXPECT_EQ(rig.host.beeps, 1);
    EXPECT_EQ(rig.sent("Y40").size() + rig.sent("Y48").size(), 64);  // the 64-byte loader
    EXPECT_EQ(rig.sent("YACB"), QStringList{"YACBF0000"});  // fuse bit, then both lock bits
    EXPECT_EQ(rig.sent("YACF"), QStringList{"YACF90000"});
    for (int i = 0; i < 2048; ++i) ASSERT_EQ(rig.devices.EepBuf[i], uint8_t(i * 7 + (i >> 8))) << i;

    // Abort on the warning: nothing is erased.
    rig.box.clearTrace();
    rig.host.answerOk = false;
    rig.run(1);
    EXPECT_FALSE(rig.commands().contains("YAC800000"));
    EXPECT_FALSE(rig.actions.result().ready);
}

// A missing loader, or the demo loader offered to a real box, is named before the card is
// erased: the card keeps its program.
TEST(LoaderSequences, ALoaderThatCannotBeInstalledIsNamedBeforeAnythingIsErased) {
    const QString demo =
        "\" in the image store is a demo loader for the simulated box and does not run on a "
        "real card. Nothing on the card was changed.\r\rPut the box maker's loaders into "
        "kelvano.store beside the program.";
    const struct {
        int card, action;
        bool realBox;
        QString error;
    } rows[] = {
        {24, 5, false, "The EEPROM loader \"FUNLOAD\" is missing from the image store."},
        {20, 5, true, "The EEPROM loader \"FUNLOAD" + demo},
        {15, 5, true, "The EEPROM loader \"PICLOAD" + demo},
        {11, 1, true, "The EEPROM loader \"DS9LOAD" + demo},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.card);
        QMap<QString, QByteArray> loaders = testLoaders();
        loaders.remove("FUNLOAD");
        ActionRig rig(r.card, r.realBox ? M::QxBase : M::Serial, loaders);
        if (r.realBox) {
            rig.useBuiltInStore();
            rig.box.setIdentity("STRAVINEX QXBASE", "V2.10", "0012345");
        }
        ASSERT_TRUE(rig.connect());
        for (size_t i = 0; i < rig.box.card().flash.size(); ++i)
            rig.box.card().flash[i] = uint16_t(0x1000 + i);
        const std::vector<uint16_t> before = rig.box.card().flash;
        rig.run(r.action);
        EXPECT_EQ(rig.host.errors, QStringList{r.error});
        EXPECT_TRUE(rig.box.card().flash == before);
        const QStringList sent = rig.commands();
        EXPECT_FALSE(sent.contains("ErA") || sent.contains("YAC800000") || sent.contains("DLOAD"))
            << sent.join(' ').toStdString();
    }
}

TEST(LoaderSequences, VerifySaysPlainlyThatTheLoaderCardsEepromWasNotVerified) {
    for (int card : {22, 11}) {
        SCOPED_TRACE(card);
        ActionRig rig(card);
        ASSERT_TRUE(rig.connect());
        rig.run(4);
        ASSERT_TRUE(rig.ready());
        EXPECT_EQ(rig.actions.label(),
                  "READY\nEEPROM Memory not verified (reached only through a loader)");
        EXPECT_TRUE(rig.actions.result().skipped == MemorySet{E});
        EXPECT_TRUE(rig.actions.result().verified.contains({P, D}));
        EXPECT_FALSE(rig.commands().contains("M4"));
    }
}
