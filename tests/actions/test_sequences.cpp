// What the sequences send for what is ticked and set: the words, bytes and bits that reach
// the card, which steps are left out, and the loaders.
#include <gtest/gtest.h>

#include <functional>
#include <map>

#include "ActionRig.h"

using namespace kelvano;
using namespace kelvano::test;

namespace {

// The card's flash numbered, so that an erase or a write shows.
void numberFlash(ActionRig& r) {
    for (size_t i = 0; i < r.box.card().flash.size(); ++i)
        r.box.card().flash[i] = uint16_t(0x1000 + i);
}
void withoutFunload(ActionRig& r) {
    QMap<QString, QByteArray> loaders = testLoaders();
    loaders.remove("FUNLOAD");
    r.com.setStore(storeOf(loaders));
    numberFlash(r);
}
// A real box (no simulator in its identity) and the demo loaders built into the program.
void realBox(ActionRig& r) {
    r.useBuiltInStore();
    r.box.setIdentity("STRAVINEX QXBASE", "V2.10", "0012345");
    numberFlash(r);
}
void checked(ActionRig& r) { r.actions.setControllerCheck(true); }

}  // namespace

// Each row: a card, what is ticked and set, and for some command prefixes every command sent
// with that prefix, in order (an empty list: none at all). An action that fails leaves the
// card's flash as it was.
TEST(Sequences, WhatReachesTheCard) {
    const QString demo =
        "\" in the image store is a demo loader for the simulated box and does not run on a "
        "real card. Nothing on the card was changed.\r\rPut the box maker's loaders into "
        "kelvano.store beside the program.";
    const QString serial = "\rConnect the box to a serial port.";
    const QString mega =
        "The fuses, lock bits and flash pages of the ATmega163 can't be handled over USB." + serial;
    const QString eeprom = "The external EEPROM can't be reached over USB." + serial;
    const std::vector<std::pair<const char*, QStringList>> untouched{
        {"ErA", {}}, {"YAC800000", {}}, {"DLOAD", {}}};
    const std::vector<std::pair<const char*, QStringList>> closingOnly{{"", {"0100"}}};
    const struct Row {
        const char* name;
        int card;
        M model;
        const char* ticked;
        int action;
        std::function<void(ActionRig&)> set;
        std::vector<std::pair<const char*, QStringList>> sent;
        QString error = {};
        const char* question = nullptr;  // asked with a beep; answered Abort, nothing is erased
    } rows[] = {
        // clang-format off
        {"PIC: blank words not written, ID nibbles, configuration word", 10, S, "PC", 5,
         [](ActionRig& r) {
             r.devices.IdBuf[0] = 1, r.devices.IdBuf[1] = 2, r.devices.IdBuf[2] = 3;
             r.devices.IdBuf[3] = 0x3FF4;  // only the low four bits are an ID value
             r.fuses.pic84 = Pic84Page{3, true, false, false, {}};  // RC, WDT on: 3FFF
         },
         {{"L00", {"L003F81", "L003F82", "L003F83", "L003F84", "L003FFF"}}, {"ErA", {}}}},
        {"PIC: all three ticked erase, every data byte written, no labels on a QXBASE", 13, M::QxBase,
         "PDC", 5, nullptr,
         {{"ErA", {"ErA"}}, {"L01", QStringList(64, "L0100FF")}, {"d", {}}}},
        {"AT90S2323: programmed words low byte first, fuse and lock bytes, no erase", 22, S, "PC", 5,
         [](ActionRig& r) {
             r.fuses.avr.avrFuse = r.fuses.avr.lockBit1 = r.fuses.avr.lockBit2 = true;
             r.devices.ProgBuf[5] = 0x1234;
         },
         {{"Y40", {"Y40000534"}}, {"Y48", {"Y48000512"}}, {"YACB", {"YACBE0000"}},
          {"YACF", {"YACF90000"}}, {"YAC80", {}}}},
        {"ATmega163: only the dirty page, word by word", 31, S, "P", 5,
         [](ActionRig& r) { r.devices.ProgBuf[70] = 0xABCD; },
         {{"Y4C", {"Y4C004000"}}, {"Y400005", {"Y400005FF"}}, {"Y400006", {"Y400006CD"}},
          {"Y480006", {"Y480006AB"}}, {"Y40003F", {"Y40003FFF"}}}},
        {"ATmega163: the 300-byte loader in three pages, then the EEPROM", 31, S, "E", 5,
         [](ActionRig& r) { r.devices.EepBuf[0] = 0x42; },
         {{"Y4C", {"Y4C000000", "Y4C004000", "Y4C008000"}}, {"X0000", {"X000042"}}}},
        {"24C64: two-byte addresses", 13, S, "E", 5,
         [](ActionRig& r) { r.devices.EepBuf[3] = 0x5A; },
         {{"w0003", {"w00035A"}}, {"W", {}}}},
        {"verify of a direct 24C32", 14, S, "E", 4,
         [](ActionRig& r) { r.box.card().eeprom[0x7F3] = 0x11; },
         {{"g07F3", {"g07F3"}}, {"g07F4", {}}}, "Verify error at $07F3 (EEPROM Memory)"},
        {"a read-locked AT90S passes the controller check; the erase opens it", 20, S, "PDC", 5,
         [](ActionRig& r) {
             r.box.card().lockBits = 0xF9;
             r.actions.setControllerCheck(true);
             r.devices.ProgBuf[7] = 0x1234;
         },
         {{"YAC80", {"YAC800000"}}, {"Y400007", {"Y40000734"}}, {"Y480007", {"Y48000712"}}}},
        {"AT90S2323 read through the loader, locked in with the fuse bit and both lock bits",
         22, S, "E", 1, nullptr,
         {{"YACB", {"YACBF0000"}}, {"YACF", {"YACF90000"}}}, nullptr,
         "Warning!|Contents of controller will be lost\r\r"},
        {"PIC16F84 read through the loader", 15, S, "E", 1, nullptr, {{"ErA", {"ErA"}}}, {},
         "Warning!|Contents of controller will be lost\r\r"},
        // A loader that cannot go in is named before anything is erased.
        {"a missing loader", 24, S, "PDCE", 5, withoutFunload, untouched,
         "The EEPROM loader \"FUNLOAD\" is missing from the image store built into the program. Nothing on the card was changed."},
        {"the AVR demo loader, to a real box", 20, M::QxBase, "PDCE", 5, realBox, untouched, "The EEPROM loader \"FUNLOAD" + demo},
        {"the PIC16F84 demo loader, to a real box", 15, M::QxBase, "PDCE", 5, realBox, untouched, "The EEPROM loader \"PICLOAD" + demo},
        {"the PIC16F876 demo loader, to a real box", 11, M::QxBase, "PDCE", 1, realBox, untouched, "The EEPROM loader \"DS9LOAD" + demo},
        // What the USB box has no packet for is refused before the first exchange, before the
        // controller is asked.
        {"ATmega163 flash over USB", 31, U, "P", 5, checked, closingOnly, mega},
        {"ATmega163 fuses over USB", 31, U, "C", 5, checked, closingOnly, mega},
        {"external EEPROM written over USB", 20, U, "PE", 5, checked, closingOnly, eeprom},
        {"external EEPROM read over USB", 20, U, "E", 1, checked, closingOnly, eeprom},
        {"PIC over USB", 10, U, "P", 1, checked, closingOnly, "PIC cards can't be handled over USB." + serial},
        // clang-format on
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        ActionRig rig(r.card, r.model, r.ticked, false);
        rig.options.warnEnable = r.question != nullptr;
        if (r.set) r.set(rig);
        ASSERT_TRUE(rig.connect());
        const std::vector<uint16_t> flash = rig.box.card().flash;
        rig.run(r.action);
        if (r.error.isEmpty()) {
            EXPECT_TRUE(rig.ready()) << rig.host.errors.join("; ").toStdString();
        } else {
            EXPECT_EQ(rig.host.errors, QStringList{r.error});
            EXPECT_TRUE(rig.box.card().flash == flash);
        }
        for (const auto& [prefix, expected] : r.sent)
            EXPECT_EQ(rig.sent(prefix), expected) << prefix;
        EXPECT_EQ(rig.host.questions, r.question ? QStringList{r.question} : QStringList{});
        EXPECT_EQ(rig.host.beeps, r.question ? 1 : 0);
        if (!r.question) continue;
        rig.box.card().lockBits = 0xFF;  // the loader locked itself in: unlocked again
        rig.box.card().picConfig = 0x3FFF;
        rig.box.clearTrace();
        rig.host.answerOk = false;
        rig.run(r.action);
        EXPECT_FALSE(rig.actions.result().ready);
        EXPECT_TRUE(rig.sent("YAC80").isEmpty() && rig.sent("ErA").isEmpty());
    }
}

namespace {

// The steps the box saw: "id" Programming Enable, "lock"/"fuse" the AVR configuration reads,
// "erase", "load" a loader going in, and per memory loop (P, D, C, E) the first command on it
// ("P:R04" program memory read at the PIC counter, "E:X" EEPROM written through a loader).
QString steps(const std::vector<WireExchange>& wire) {
    static const QMap<QString, QString> marks{{"YAC530000", "id"},
                                              {"Y58000000", "lock"},
                                              {"Y50000000", "fuse"},
                                              {"DERAS", "erase"},
                                              {"DLOAD", "load"}};
    static const QMap<QString, QString> labels{
        {"dPRG:", "P"}, {"dDAT:", "D"}, {"DCFG ", "C"}, {"dEEP:", "E"}};
    QStringList out;
    QString open;
    for (const WireExchange& e : wire) {
        const QString& c = e.command;
        if (marks.contains(c)) {
            out << marks[c];
        } else if (labels.contains(c)) {
            open = labels[c];
        } else if (!open.isEmpty() && !QString("DdM").contains(c[0]) && c != "P003FFF") {
            out << open + ":" + c.left(QString("YRL").contains(c[0]) ? 3 : 1);
            open.clear();
        }
    }
    return out.join(' ');
}

// The wait, in ms, that each command gives the box for the first byte of its answer.
int designedWaitMs(const QString& command) {
    static const std::pair<const char*, int> waits[] = {
        {"YAC53", 600},  {"YAC80", 1500},                 // Programming Enable, Chip Erase
        {"Y28", 30},     {"Y20", 30},     {"YA0", 30},    // AVR memory reads
        {"Y", 150},      {"M", 1500},     {"ErA", 1500},  // other AVR instructions, modes
        {"L0", 90},      {"R0", 30},      {"I", 30},      // PIC load, read, increment
        {"P003FFF", 30}, {"D", 30},       {"d", 30},      // configuration area, display
        {"X", 300},      {"Q", 150},      {"G", 30},     {"g", 30}, {"W", 150}, {"w", 150},
    };
    for (const auto& [prefix, ms] : waits)
        if (command.startsWith(QLatin1String(prefix))) return ms;
    return -1;
}

}  // namespace

// Which memories are touched in which order, what is left out, and every exchange's wait (on
// loader cards the EEPROM takes the others with it, as in the window).
TEST(Sequences, EveryFamilyActionAndTick) {
    enum Opt { None, Verify, AlwaysErase };
    // A row holds for every card of its family. In the AVR rows "ID" stands for what the card's
    // identification reads: Programming Enable, then the lock and fuse bytes where it has them.
    const std::map<int, std::vector<int>> families{{10, {10}}, {15, {15, 11}}, {20, {20, 22, 31}}};
    const std::map<int, QString> ids{{20, "id"}, {22, "id lock"}, {31, "id fuse lock"}};
    const std::map<int, int> loaderConfigs{{15, 0x0001}, {11, 0x0D09}};  // the PIC loader's
    const struct Row {
        int family, action;
        const char* ticked;
        const char* steps;
        Opt opt = None;
        bool loaderConfig = false;  // the configuration word the PIC loader leaves on the card
    } rows[] = {
        // clang-format off
        {10, 1, "P", "C:R04 P:R04"}, {10, 1, "D", "C:R04 D:R05"}, {10, 1, "C", "C:R04 C:R04"}, {10, 1, "E", "E:G"},
        {10, 2, "", "erase"}, {10, 3, "", "P:R04"}, {10, 3, "P", "P:R04"},
        {10, 4, "P", "P:R04"}, {10, 4, "D", "D:R05"}, {10, 4, "C", ""}, {10, 4, "E", "E:G"},
        {10, 5, "P", "P:L00"}, {10, 5, "D", "D:L01"}, {10, 5, "C", "C:L00"}, {10, 5, "E", "E:W"},
        {10, 5, "PDC", "erase P:L00 D:L01 C:L00"}, {10, 5, "PD", "P:L00 P:R04 D:L01 D:R05", Verify}, {10, 5, "", "erase", AlwaysErase},

        {15, 1, "P", "P:R04"}, {15, 1, "D", "D:R05"}, {15, 1, "C", "C:R04"}, {15, 1, "PDCE", "C:R04 P:R04 D:R05 C:R04 erase load E:Q", None, true},
        {15, 2, "", "erase"}, {15, 3, "", "P:R04"}, {15, 3, "P", "P:R04"},
        {15, 4, "P", "P:R04"}, {15, 4, "D", "D:R05"}, {15, 4, "C", ""}, {15, 4, "PDCE", "P:R04 D:R05 skipped:E"},
        {15, 5, "P", "P:L00"}, {15, 5, "D", "D:L01"}, {15, 5, "C", "C:L00"}, {15, 5, "PDCE", "erase load E:X erase P:L00 D:L01 C:L00"},
        {15, 5, "PDC", "erase P:L00 D:L01 C:L00"}, {15, 5, "PD", "P:L00 P:R04 D:L01 D:R05", Verify}, {15, 5, "", "erase", AlwaysErase},

        {20, 1, "P", "ID P:Y28"}, {20, 1, "D", "ID D:YA0"}, {20, 1, "C", "ID"}, {20, 1, "PDCE", "ID ID P:Y28 D:YA0 ID erase ID ID load E:Q"},
        {20, 2, "", "ID erase ID"}, {20, 3, "", "ID"}, {20, 3, "P", "ID P:Y28"},
        {20, 4, "P", "ID P:Y28"}, {20, 4, "D", "ID D:YA0"}, {20, 4, "C", "ID"}, {20, 4, "PDCE", "ID P:Y28 D:YA0 skipped:E"},
        {20, 5, "P", "id P:Y40"}, {20, 5, "D", "id D:YC0"}, {20, 5, "C", "id C:YAC"}, {20, 5, "PDCE", "id erase id id load E:X id erase id P:Y40 D:YC0 C:YAC"},
        {20, 5, "PDC", "id erase id P:Y40 D:YC0 C:YAC"}, {20, 5, "PD", "id P:Y40 P:Y28 D:YC0 D:YA0", Verify}, {20, 5, "", "id erase id", AlwaysErase},
        // clang-format on
    };
    for (const Row& r : rows) {
        for (const int cardType : families.at(r.family)) {
            SCOPED_TRACE(testing::Message() << "card " << cardType << " action " << r.action
                                            << " ticked " << r.ticked << " option " << r.opt);
            ActionRig rig(cardType, S, r.ticked);
            rig.box.setTraceKept(false);
            rig.options.verify = r.opt == Verify;
            rig.options.alwaysErase = r.opt == AlwaysErase;
            rig.options.warnEnable = rig.options.soundReady = true;
            // The card holds the buffers, except where it is to be found blank.
            rig.fillBuffers();
            if (r.action != 3) rig.cardHoldsBuffers();
            rig.run(r.action);
            EXPECT_TRUE(rig.ready()) << rig.host.errors.join("; ").toStdString();
            EXPECT_EQ(rig.view.sounds, r.action == 5 ? 1 : 0);  // after programming only
            // A memory asked for and left out is said so under "READY".
            const bool skipped = rig.actions.result().skipped == MemorySet{Memory::ExternalEeprom};
            const QString id = ids.count(cardType) ? ids.at(cardType) : QString();
            EXPECT_EQ(steps(rig.wire) + (skipped ? " skipped:E" : ""),
                      QString(r.steps).replace("ID", id));
            EXPECT_EQ(rig.actions.label(),
                      skipped ? "READY\nEEPROM Memory not verified (reached only through a loader)"
                              : "READY");
            QStringList waits, designed;  // each command with the wait it gave the box
            for (const WireExchange& e : rig.wire) {
                waits << e.command + QString(" %1").arg(e.waitMs);
                designed << e.command + QString(" %1").arg(designedWaitMs(e.command));
            }
            EXPECT_EQ(waits, (designed.mid(0, designed.size() - 3) +
                              QStringList{"M0 1500", "D---- 60", "d     60"}));  // closing
            if (r.loaderConfig) {
                EXPECT_EQ(rig.box.card().picConfig, loaderConfigs.at(cardType));
            }
        }
    }
}
