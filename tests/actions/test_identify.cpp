// Identify and the controller check before an action, against simulated cards that carry the
// card type's controller or a well-formed other one.
#include <gtest/gtest.h>

#include "ActionRig.h"

using namespace kelvano;
using namespace kelvano::test;

// The card in the box answers; the runner names its controller and the card types with it.
TEST(Identify, NamesTheControllerTheCardAnswersWith) {
    const struct Row {
        int card;  // the card in the box (the selected card type is 10 throughout)
        M model;
        uint32_t id;       // the AVR signature or PIC device ID read; 0: the card's own
        const char* name;  // nullptr: fails with `error`
        std::vector<int> cards;
        const char* error;
        const char* fault = nullptr;  // in the device ID read
    } rows[] = {
        // clang-format off
        {20, S, 0, "AT90S8515", {20, 24, 25, 26}, nullptr},
        {22, U, 0, "AT90S2323", {22}, nullptr},
        {31, S, 0, "ATmega163", {31}, nullptr},
        {31, U, 0, "ATmega163", {31}, nullptr},
        {20, S, 0x1E9101, "AT90S2313", {}, nullptr},
        {11, S, 0, "PIC16F876", {11, 12}, nullptr},
        {10, S, 0, "PIC16F84 (no device ID)", {15, 10, 13, 14}, nullptr},
        {13, S, 0x0563, "PIC16F84A", {15, 10, 13, 14}, nullptr},
        {12, S, 0x0E02, "PIC16F876A", {}, nullptr},
        {10, U, 0, nullptr, {},
         "No AVR controller answers.\rA PIC can't be identified over USB: connect the box to a "
         "serial port."},
        // A card without a controller still reads as a word: these are the box's failures.
        {10, S, 0, nullptr, {}, "The programmer box does not answer.", "noanswer,on=R04"},
        {10, S, 0, nullptr, {}, "The programmer box answered the device ID read with "
         "\"3F\", which is not a four-digit word.", "reply=3F,on=R04"},
        // clang-format on
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::Message() << "card " << r.card << " " << (r.name ? r.name : ""));
        ActionRig rig(r.card, r.model);
        rig.devices.DeviceId = 10;
        rig.devices.ApplyBuffers();
        if (r.id && isPicCode(r.card)) rig.box.card().picDeviceId = uint16_t(r.id);
        if (r.id && !isPicCode(r.card)) rig.box.card().signature = r.id;
        if (r.fault) rig.fault(r.fault);
        rig.run(toInt(ActionCode::Identify));
        // Nothing but the identity exchanges: a PIC is asked for location 2006 only once no AVR
        // answered, and over USB only an AVR can be asked.
        const char* sent =
            r.model == U ? (r.name ? "0100 0102 04AC530000 0430000200 0430000100 0430000000 0100"
                                   : "0100 0102 04AC530000 0100")
            : isPicCode(r.card) ? "M0 M5 YAC530000 M0 M2 P003FFF I I I I I I R04 M0 D---- d    "
                                : "M0 M5 YAC530000 Y30000200 Y30000100 Y30000000 M0 D---- d    ";
        EXPECT_EQ(rig.commands().join(' '), sent);
        if (!r.name) {
            EXPECT_EQ(rig.host.errors, QStringList{r.error});
            EXPECT_FALSE(rig.actions.identity().read());
            continue;
        }
        ASSERT_TRUE(rig.ready()) << rig.host.errors.join("; ").toStdString();
        EXPECT_EQ(rig.actions.identity().name, r.name);
        EXPECT_EQ(rig.actions.identity().cardTypes, r.cards);
    }
}

// Refused before anything that could change the card, every warning answered OK: the box sees
// the identity exchanges, the card polls and the closing ones, nothing else.
TEST(Identify, EveryActionIsRefusedOnAnotherControllerWithIdentityExchangesOnly) {
    const struct Family {
        int inBox, selected;
        const char* read;  // what the error names after "Read: "
    } families[] = {
        // clang-format off
        {11, 20, "PIC16F876, device ID 09E7 (device 04F, revision 7)\rMust: AT90S8515"},
        {20, 11, "AT90S8515, signature 1E 93 01\rMust: PIC16F876"},
        {10, 11, "PIC16F84 (no device ID), device ID 3FFF (device 1FF, revision 31)\rMust: PIC16F876"},
        {22, 20, "AT90S2323, signature 1E 91 02\rMust: AT90S8515"},
        // clang-format on
    };
    // Programming Enable, signature reads, the PIC device ID; modes, displays, polls around them.
    const QStringList identity{"M0",        "M2",        "M5",      "YAC530000", "Y30000000",
                               "Y30000100", "Y30000200", "P003FFF", "I",         "R04",
                               "K",         "D----",     "d    "};
    const int compare = 0;  // the row's code for a comparison with the card
    for (const Family& f : families) {
        for (int code : {1, 2, 3, 4, 5, compare}) {
            SCOPED_TRACE(testing::Message()
                         << "card " << f.inBox << " as " << f.selected << ", action " << code);
            ActionRig rig(f.inBox);
            rig.devices.DeviceId = f.selected;
            rig.devices.ApplyBuffers();
            rig.options.alwaysErase = rig.options.warnEnable = true;
            rig.actions.preflight() = Preflight{};  // as every runner is made
            bool failed = false;
            code == compare ? (void)rig.compareCard(&failed, true) : (void)rig.run(code);
            EXPECT_EQ(failed, code == compare);
            EXPECT_EQ(rig.host.errors, QStringList{"Wrong controller for this card type!\rRead: " +
                                                   QString(f.read)});
            EXPECT_TRUE(rig.host.questions.isEmpty());
            for (const QString& c : rig.commands())
                EXPECT_TRUE(identity.contains(c)) << c.toStdString();
        }
    }
}
