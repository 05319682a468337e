#pragma once
#include <QString>
#include <QStringList>
#include <cstdint>
#include <vector>

#include "device/uDevices.h"

namespace kelvano {

// The controllers a card's identity can name: the AVR signature bytes and the PIC device ID
// word, and the card types of the catalogue that carry each controller.

// One known controller.
struct KnownController {
    CardFamily family;
    uint32_t id;                   // AVR: the three signature bytes; PIC: the device ID word
                                   // with its revision bits (4..0) clear
    const char* name;              // "AT90S8515", "PIC16F876"
    const char* catalogueCaption;  // the controller caption of its card types; nullptr: none
};

// The AVR signatures (1E9001 AT90S1200 ... 1E9702 ATmega128), in ascending order.
const std::vector<KnownController>& knownAvrControllers();
// The PIC device IDs that name a controller (PIC16F84A, PIC16F876, PIC16F876A).
const std::vector<KnownController>& knownPicControllers();

// What the card's controller answered, and what that makes of it.
struct ControllerIdentity {
    enum class Source { None, AvrSignature, PicDeviceId };
    Source source = Source::None;  // None: nothing has been read
    uint32_t raw = 0;              // the signature (24 bits) or the device ID word (14 bits)
    QString name;                  // the controller; for an unknown one what was read
    bool known = false;            // found in the tables above
    std::vector<int> cardTypes;    // catalogue codes whose controller this is, in menu order

    bool read() const { return source != Source::None; }
    bool avr() const { return source == Source::AvrSignature; }
    bool pic() const { return source == Source::PicDeviceId; }
    // "signature 1E 93 01" or "device ID 09E3 (device 04F, revision 3)".
    QString rawText() const;
};

ControllerIdentity identifyAvrSignature(uint32_t signature);
// The word at 2006. 3FFF and 0000 are what the original PIC16F84, which has no device ID,
// answers there.
ControllerIdentity identifyPicDeviceId(uint16_t word);

// Whether a card of type `code` carries this controller. A locked AT90S fits every AT90S card.
bool identityFits(const ControllerIdentity& identity, int code);

// The matching card types in groups that the controller cannot tell apart: the same
// controller reached the same way, differing only in the size of the external EEPROM (which
// no controller answer tells). Only card types of the Devices menu.
std::vector<std::vector<int>> matchingCardFamilies(const ControllerIdentity& identity);

// The card types a window may offer to switch to: the one family that matches, when exactly
// one does and the selected card type `current` is not in it; empty otherwise.
std::vector<int> switchChoices(const ControllerIdentity& identity, int current);

// The identity as lines of text for a report: controller, what was read, the card types.
QStringList identityReport(const ControllerIdentity& identity);

// "Controller AT90S2323 does not match card type 20 (AT90S8515)" style message for a
// controller that is not the card type's; empty when it fits.
QString identityMismatch(const ControllerIdentity& identity, int code);

}  // namespace kelvano
