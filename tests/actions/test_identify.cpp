// Identify and the controller check before an action, against simulated cards that carry the
// card type's controller or a well-formed other one.
#include <gtest/gtest.h>

#include "ActionRig.h"

using namespace kelvano;
using namespace kelvano::test;

namespace {

using M = SimBox::Model;

// Anything that would change the card: PIC loads and erases, EEPROM writes, AVR writes and
// chip erase, over either link.
bool changesTheCard(const QString& c) {
    static const char* const kWrites[] = {"L0",  "ErA", "W",   "w",    "X",    "YAC",  "Y40",
                                          "Y48", "Y4C", "YC0", "04AC", "0440", "0448", "04C0"};
    for (const char* w : kWrites)
        if (c.startsWith(QLatin1String(w)) && c != QLatin1String("YAC530000") &&
            c != QLatin1String("04AC530000"))
            return true;
    return false;
}

}  // namespace

// The card in the box answers; the runner names its controller and the card types with it.
TEST(Identify, NamesTheControllerTheCardAnswersWith) {
    const struct Row {
        int card;  // the card in the box (the selected card type is 10 throughout)
        M model;
        uint32_t signature;  // 0: the card type's own
        int deviceId;        // -1: the card type's own
        const char* name;    // nullptr: fails with `error`
        std::vector<int> cards;
        const char* error;
    } rows[] = {
        // clang-format off
        {20, M::Serial, 0, -1, "AT90S8515", {20, 24, 25, 26}, nullptr},
        {22, M::Usb, 0, -1, "AT90S2323", {22}, nullptr},
        {31, M::Serial, 0, -1, "ATmega163", {31}, nullptr},
        {20, M::Serial, 0x1E9101, -1, "AT90S2313", {}, nullptr},
        {11, M::Serial, 0, -1, "PIC16F876", {11, 12}, nullptr},
        {10, M::Serial, 0, -1, "PIC16F84 (no device ID)", {15, 10, 13, 14}, nullptr},
        {13, M::Serial, 0, 0x0563, "PIC16F84A", {15, 10, 13, 14}, nullptr},
        {12, M::Serial, 0, 0x0E02, "PIC16F876A", {}, nullptr},
        {10, M::Usb, 0, -1, nullptr, {},
         "No AVR controller answers.\rA PIC can't be identified over USB: connect the box to a "
         "serial port."},
        // clang-format on
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::Message() << "card " << r.card << " " << (r.name ? r.name : ""));
        ActionRig rig(r.card, r.model);
        rig.devices.DeviceId = 10;
        rig.devices.ApplyBuffers();
        if (r.signature) rig.box.card().signature = r.signature;
        if (r.deviceId >= 0) rig.box.card().picDeviceId = uint16_t(r.deviceId);
        ASSERT_TRUE(rig.connect());
        rig.run(toInt(ActionCode::Identify));
        for (const QString& c : rig.commands()) EXPECT_FALSE(changesTheCard(c)) << c.toStdString();
        if (!r.name) {
            EXPECT_EQ(rig.host.errors, QStringList{r.error});
            EXPECT_FALSE(rig.actions.identity().read());
            continue;
        }
        ASSERT_TRUE(rig.ready()) << rig.host.errors.join("; ").toStdString();
        EXPECT_EQ(rig.actions.identity().name, r.name);
        EXPECT_EQ(rig.actions.identity().cardTypes, r.cards);
        // A PIC is asked for location 2006 only once no AVR answered.
        const bool pic = isPicCode(r.card);
        EXPECT_EQ(rig.sent("P003FFF").size(), pic ? 1 : 0);
        if (pic) {
            const QStringList c = rig.commands();
            const qsizetype at = c.indexOf("P003FFF");
            EXPECT_EQ(c.mid(at, 8), QStringList({"P003FFF", "I", "I", "I", "I", "I", "I", "R04"}));
            const qsizetype avrAsked = c.indexOf("YAC530000");
            EXPECT_TRUE(avrAsked >= 0 && avrAsked < at);
        }
    }
}

// With the check on (the terminal, production), an action on a card with another controller
// stops before anything on the card changes; without it the action goes on as it always did.
TEST(Identify, TheCheckStopsAnActionOnAnotherControllerBeforeTheCardChanges) {
    const struct Row {
        int card, selected;
        M model;
        uint32_t signature;
        bool check;
        const char* error;  // nullptr: READY
    } rows[] = {
        // clang-format off
        {22, 20, M::Serial, 0, true,
         "Wrong controller for this card type!\rRead: AT90S2323, signature 1E 91 02\rMust: AT90S8515"},
        {20, 20, M::Usb, 0x1E9101, true,
         "Wrong controller for this card type!\rRead: AT90S2313, signature 1E 91 01\rMust: AT90S8515"},
        {11, 10, M::Serial, 0, true,
         "Wrong controller for this card type!\rRead: PIC16F876, device ID 09E7 (device 04F, "
         "revision 7)\rMust: PIC16F84 or PIC16F84A"},
        {10, 11, M::Serial, 0, true,
         "Wrong controller for this card type!\rRead: PIC16F84 (no device ID), device ID 3FFF "
         "(device 1FF, revision 31)\rMust: PIC16F876"},
        {20, 11, M::Serial, 0, true,
         "Wrong controller for this card type!\rRead: AT90S8515, signature 1E 93 01\rMust: PIC16F876"},
        // The card type's own controller goes through.
        {20, 20, M::Serial, 0, true, nullptr},
        {12, 11, M::Serial, 0, true, nullptr},
        // Unchecked, as in the window: the AVR identification of the action reports it.
        {22, 20, M::Serial, 0, false, "Wrong AVR Device!\rRead: AT90S2323\rMust: AT90S8515"},
        // clang-format on
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::Message() << "card " << r.card << " as " << r.selected);
        ActionRig rig(r.card, r.model);
        rig.devices.DeviceId = r.selected;
        rig.devices.ApplyBuffers();
        for (int i = 0; i < rig.devices.ProgBuf.length(); ++i)
            rig.devices.ProgBuf[i] = uint16_t(i & 0x3FFF);
        if (r.signature) rig.box.card().signature = r.signature;
        rig.actions.setControllerCheck(r.check);
        ASSERT_TRUE(rig.connect());
        rig.only({Memory::Program});
        rig.run(toInt(ActionCode::Program));
        if (!r.error) {
            EXPECT_TRUE(rig.ready()) << rig.host.errors.join("; ").toStdString();
            EXPECT_EQ(rig.box.card().flash[5], 5);
            continue;
        }
        EXPECT_EQ(rig.host.errors.value(0), r.error);
        if (!r.check) continue;
        EXPECT_EQ(rig.host.errors.size(), 1);
        EXPECT_FALSE(rig.actions.result().ready);
        for (const QString& c : rig.commands()) EXPECT_FALSE(changesTheCard(c)) << c.toStdString();
        EXPECT_NE(rig.box.card().flash[5], 5);
    }
}

// A read-locked AT90S hides its type; the check lets the action go on, where the erase of a
// program action opens it again.
TEST(Identify, ALockedAt90sPassesTheCheck) {
    ActionRig rig(20);
    rig.box.card().lockBits = 0xF9;
    rig.actions.setControllerCheck(true);
    ASSERT_TRUE(rig.connect());
    rig.only({Memory::Program, Memory::Data, Memory::Configuration});
    rig.devices.ProgBuf[7] = 0x1234;
    rig.run(toInt(ActionCode::Program));
    EXPECT_TRUE(rig.ready()) << rig.host.errors.join("; ").toStdString();
    EXPECT_TRUE(rig.actions.identity().locked);
    EXPECT_EQ(rig.box.card().flash[7], 0x1234);
}
