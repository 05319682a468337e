#include <gtest/gtest.h>

#include "device/Identity.h"

using namespace kelvano;

// Each row is one answer a controller may give: the name, the text of what was read, the card
// types and the types a window may offer to switch to from card type 10 and from card type 20.
TEST(ControllerIdentity, AnswersNameTheControllerAndItsCardTypesInTheReport) {
    using Codes = std::vector<int>;
    // clang-format off
    const std::tuple<bool, uint32_t, const char*, const char*, Codes, Codes, Codes> rows[] = {
        {false, 0x09E3, "PIC16F876", "device ID 09E3 (device 04F, revision 3)", {11, 12}, {11, 12}, {11, 12}},
        {false, 0x09FF, "PIC16F876", "device ID 09FF (device 04F, revision 31)", {11, 12}, {11, 12}, {11, 12}},
        {false, 0x0560, "PIC16F84A", "device ID 0560 (device 02B, revision 0)", {15, 10, 13, 14}, {}, {}},
        // The original PIC16F84 has no device ID: blank or zero.
        {false, 0x3FFF, "PIC16F84 (no device ID)", "device ID 3FFF (device 1FF, revision 31)", {15, 10, 13, 14}, {}, {}},
        {false, 0x0000, "PIC16F84 (no device ID)", "device ID 0000 (device 000, revision 0)", {15, 10, 13, 14}, {}, {}},
        // Programmed differently: named, but no card carries it.
        {false, 0x0E04, "PIC16F876A", "device ID 0E04 (device 070, revision 4)", {}, {}, {}},
        {false, 0x0580, "Unknown PIC device", "device ID 0580 (device 02C, revision 0)", {}, {}, {}},
        {true, 0x1E9301, "AT90S8515", "signature 1E 93 01", {20, 24, 25, 26}, {20, 24, 25, 26}, {}},
        {true, 0x1E9303, "AT90S8535", "signature 1E 93 03", {21}, {21}, {21}},
        {true, 0x1E9102, "AT90S2323", "signature 1E 91 02", {22}, {22}, {22}},
        {true, 0x1E9103, "AT90S2343", "signature 1E 91 03", {23}, {23}, {23}},
        {true, 0x1E9402, "ATmega163", "signature 1E 94 02", {31}, {31}, {31}},
        // The ATmega161 row is no menu item: listed, never offered.
        {true, 0x1E9401, "ATmega161", "signature 1E 94 01", {30}, {}, {}},
        // A read-locked AT90S hides which of four families (2323, 2343, 8535, 8515) it is.
        {true, 0x000102, "AT90S (read-locked, the type is hidden until it is erased)", "signature 00 01 02", {22, 23, 21, 20, 24, 25, 26}, {}, {}},
        {true, 0x1E9101, "AT90S2313", "signature 1E 91 01", {}, {}, {}},
        {true, 0x1E9999, "Unknown AVR device", "signature 1E 99 99", {}, {}, {}},
    };
    // clang-format on
    for (const auto& [avr, raw, name, rawText, cards, switchFrom10, switchFrom20] : rows) {
        SCOPED_TRACE(rawText);
        const ControllerIdentity id =
            avr ? identifyAvrSignature(raw) : identifyPicDeviceId(uint16_t(raw));
        EXPECT_EQ(id.name, QString::fromLatin1(name));
        EXPECT_EQ(id.rawText(), QString::fromLatin1(rawText));
        EXPECT_EQ(id.cardTypes, cards);
        EXPECT_EQ(switchChoices(id, 10), switchFrom10);
        EXPECT_EQ(switchChoices(id, 20), switchFrom20);
        for (const TDeviceEntry& row : catalogue()) {
            const bool listed = std::find(cards.begin(), cards.end(), row.code) != cards.end();
            EXPECT_EQ(identityFits(id, row.code), listed) << row.code;
            EXPECT_EQ(identityMismatch(id, row.code).isEmpty(), listed) << row.code;
        }
    }
    // The mismatch text is checked where a run stops on it (tests/actions, tests/production).
    EXPECT_EQ(
        identityReport(identifyPicDeviceId(0x09E1)),
        QStringList({"Controller: PIC16F876", "Read: device ID 09E1 (device 04F, revision 1)",
                     "Card types with this controller:", "  11  PIC-Card 2 (PIC16F876 + 24C64)",
                     "  12  PIC-Card 4 (PIC16F876 + 24C256)",
                     "The size of the external EEPROM cannot be told from the controller."}));
}
