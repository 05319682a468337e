#include "device/Identity.h"

#include <algorithm>

namespace kelvano {

namespace {

// A read-locked AT90S answers the signature 00 01 02: it is an AT90S, but which one cannot be
// told until it is erased.
constexpr uint32_t kLockedAt90s = 0x000102;
constexpr uint16_t kPicRevisionBits = 0x001F;
constexpr uint16_t kPicWordBits = 0x3FFF;

QString hexText(uint32_t v, int digits) {
    return QStringLiteral("%1").arg(v, digits, 16, QLatin1Char('0')).toUpper();
}

const char* const kPic84Caption = "PIC 16F84";

// The caption of a card type's controller, as a controller's name: "AT90S8515",
// "PIC16F84 or PIC16F84A".
QString expectedNames(const TDeviceEntry& row) {
    QStringList names;
    if (QLatin1String(row.controllerCaption) == QLatin1String(kPic84Caption))
        names << QStringLiteral("PIC16F84");
    for (const auto* table : {&knownPicControllers(), &knownAvrControllers()})
        for (const KnownController& c : *table)
            if (c.catalogueCaption &&
                QLatin1String(c.catalogueCaption) == QLatin1String(row.controllerCaption))
                names << QString::fromLatin1(c.name);
    return names.isEmpty() ? QString::fromLatin1(row.controllerCaption)
                           : names.join(QStringLiteral(" or "));
}

std::vector<int> cardsWithCaption(const char* caption) {
    std::vector<int> codes;
    if (!caption) return codes;
    for (const TDeviceEntry& row : catalogue())
        if (QLatin1String(row.controllerCaption) == QLatin1String(caption))
            codes.push_back(row.code);
    return codes;
}

const KnownController* findKnown(const std::vector<KnownController>& table, uint32_t id) {
    for (const KnownController& c : table)
        if (c.id == id) return &c;
    return nullptr;
}

QString cardLine(int code) {
    const TDeviceEntry* row = findDevice(code);
    const QString name = row->displayName
                             ? QString::fromLatin1(row->displayName)
                             : QStringLiteral("%1 + %2 (not in the Devices menu, no actions)")
                                   .arg(QString::fromLatin1(row->controllerCaption),
                                        QString::fromLatin1(row->eepromCaption));
    return QStringLiteral("  %1  %2").arg(code).arg(name);
}

}  // namespace

const std::vector<KnownController>& knownAvrControllers() {
    static const std::vector<KnownController> rows{
        {CardFamily::Avr, 0x1E9001, "AT90S1200", nullptr},
        {CardFamily::Avr, 0x1E9003, "ATtiny10", nullptr},
        {CardFamily::Avr, 0x1E9004, "ATtiny11", nullptr},
        {CardFamily::Avr, 0x1E9005, "ATtiny12", nullptr},
        {CardFamily::Avr, 0x1E9006, "ATtiny15", nullptr},
        {CardFamily::Avr, 0x1E9101, "AT90S2313", nullptr},
        {CardFamily::Avr, 0x1E9102, "AT90S2323", "AT 90S2323"},
        {CardFamily::Avr, 0x1E9103, "AT90S2343", "AT 90S2343"},
        {CardFamily::Avr, 0x1E9105, "AT90S2333", nullptr},
        {CardFamily::Avr, 0x1E9106, "ATtiny22", nullptr},
        {CardFamily::Avr, 0x1E9107, "ATtiny28", nullptr},
        {CardFamily::Avr, 0x1E9109, "ATtiny26", nullptr},
        {CardFamily::Avr, 0x1E9201, "AT90S4414", nullptr},
        {CardFamily::Avr, 0x1E9202, "AT90S4434", nullptr},
        {CardFamily::Avr, 0x1E9301, "AT90S8515", "AT 90S8515"},
        {CardFamily::Avr, 0x1E9303, "AT90S8535", "AT 90S8535"},
        {CardFamily::Avr, 0x1E9304, "AT90S8534", nullptr},
        {CardFamily::Avr, 0x1E9306, "ATMega8515", nullptr},
        {CardFamily::Avr, 0x1E9307, "ATMega8", nullptr},
        {CardFamily::Avr, 0x1E9308, "ATMega8535", nullptr},
        {CardFamily::Avr, 0x1E9401, "ATmega161", "ATMega161"},
        {CardFamily::Avr, 0x1E9402, "ATmega163", "ATMega163"},
        {CardFamily::Avr, 0x1E9403, "ATmega16", nullptr},
        {CardFamily::Avr, 0x1E9404, "ATmega162", nullptr},
        {CardFamily::Avr, 0x1E9405, "ATmega169", nullptr},
        {CardFamily::Avr, 0x1E9501, "ATmega323", nullptr},
        {CardFamily::Avr, 0x1E9502, "ATmega32", nullptr},
        {CardFamily::Avr, 0x1E9601, "ATmega603", nullptr},
        {CardFamily::Avr, 0x1E9602, "ATmega64", nullptr},
        {CardFamily::Avr, 0x1E9701, "ATmega103", nullptr},
        {CardFamily::Avr, 0x1E9702, "ATmega128", nullptr},
    };
    return rows;
}

// The device ID word: the device in bits 13..5, the silicon revision in bits 4..0. The
// PIC16F876A is named but carries no card: its flash is written in a way of its own.
const std::vector<KnownController>& knownPicControllers() {
    static const std::vector<KnownController> rows{
        {CardFamily::Pic, 0x0560, "PIC16F84A", kPic84Caption},
        {CardFamily::Pic, 0x09E0, "PIC16F876", "PIC 16F876"},
        {CardFamily::Pic, 0x0E00, "PIC16F876A", nullptr},
    };
    return rows;
}

QString ControllerIdentity::rawText() const {
    if (avr())
        return QStringLiteral("signature %1 %2 %3")
            .arg(hexText((raw >> 16) & 0xFF, 2), hexText((raw >> 8) & 0xFF, 2),
                 hexText(raw & 0xFF, 2));
    if (pic())
        return QStringLiteral("device ID %1 (device %2, revision %3)")
            .arg(hexText(raw, 4), hexText(raw >> 5, 3))
            .arg(raw & kPicRevisionBits);
    return {};
}

ControllerIdentity identifyAvrSignature(uint32_t signature) {
    ControllerIdentity id;
    id.source = ControllerIdentity::Source::AvrSignature;
    id.raw = signature & 0xFFFFFF;
    if (id.raw == kLockedAt90s) {
        id.known = true;
        id.name = QStringLiteral("AT90S (read-locked, the type is hidden until it is erased)");
        for (const TDeviceEntry& row : catalogue())
            if (isAt90s(row.code)) id.cardTypes.push_back(row.code);
        return id;
    }
    const KnownController* c = findKnown(knownAvrControllers(), id.raw);
    id.known = c != nullptr;
    id.name = c ? QString::fromLatin1(c->name) : QStringLiteral("Unknown AVR device");
    if (c) id.cardTypes = cardsWithCaption(c->catalogueCaption);
    return id;
}

ControllerIdentity identifyPicDeviceId(uint16_t word) {
    ControllerIdentity id;
    id.source = ControllerIdentity::Source::PicDeviceId;
    id.raw = word & kPicWordBits;
    if (id.raw == kPicWordBits || id.raw == 0) {
        id.known = true;
        id.name = QStringLiteral("PIC16F84 (no device ID)");
        id.cardTypes = cardsWithCaption(kPic84Caption);
        return id;
    }
    const KnownController* c =
        findKnown(knownPicControllers(), id.raw & ~uint32_t{kPicRevisionBits});
    id.known = c != nullptr;
    id.name = c ? QString::fromLatin1(c->name) : QStringLiteral("Unknown PIC device");
    if (c) id.cardTypes = cardsWithCaption(c->catalogueCaption);
    return id;
}

bool identityFits(const ControllerIdentity& identity, int code) {
    return std::find(identity.cardTypes.begin(), identity.cardTypes.end(), code) !=
           identity.cardTypes.end();
}

std::vector<std::vector<int>> matchingCardFamilies(const ControllerIdentity& identity) {
    std::vector<std::vector<int>> families;
    std::vector<const TDeviceEntry*> leaders;
    for (int code : identity.cardTypes) {
        const TDeviceEntry* row = findDevice(code);
        if (!row || row->menuPosition == 0) continue;
        size_t i = 0;
        for (; i < leaders.size(); ++i)
            if (QLatin1String(leaders[i]->controllerCaption) ==
                    QLatin1String(row->controllerCaption) &&
                leaders[i]->eeprom == row->eeprom &&
                QLatin1String(leaders[i]->loaderImage) == QLatin1String(row->loaderImage))
                break;
        if (i == leaders.size()) {
            leaders.push_back(row);
            families.emplace_back();
        }
        families[i].push_back(code);
    }
    return families;
}

std::vector<int> switchChoices(const ControllerIdentity& identity, int current) {
    const std::vector<std::vector<int>> families = matchingCardFamilies(identity);
    if (families.size() != 1 || identityFits(identity, current)) return {};
    return families.front();
}

QStringList identityReport(const ControllerIdentity& identity) {
    QStringList lines;
    if (!identity.read()) return {QStringLiteral("No controller was identified.")};
    lines << QStringLiteral("Controller: %1").arg(identity.name);
    lines << QStringLiteral("Read: %1").arg(identity.rawText());
    if (identity.cardTypes.empty()) {
        lines << QStringLiteral("No card type of the catalogue has this controller.");
        return lines;
    }
    lines << QStringLiteral("Card types with this controller:");
    for (int code : identity.cardTypes) lines << cardLine(code);
    lines << QStringLiteral("The size of the external EEPROM cannot be told from the controller.");
    return lines;
}

QString identityMismatch(const ControllerIdentity& identity, int code) {
    const TDeviceEntry* row = findDevice(code);
    if (!row || identityFits(identity, code)) return {};
    return QStringLiteral("Wrong controller for this card type!\rRead: %1, %2\rMust: %3")
        .arg(identity.name, identity.rawText(), expectedNames(*row));
}

}  // namespace kelvano
