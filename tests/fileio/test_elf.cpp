#include <gtest/gtest.h>

#include "Recorders.h"

namespace kelvano::test {
namespace {

// avr-gcc's ATmega163 program: the vector table and a 3000-byte table in .text, the .data
// bytes stored behind it, five EEPROM bytes, both fuse bytes, the lock byte, the signature.
TEST(ElfReader, OneLoadFillsEveryMemoryTheProgramHoldsOrNoneOfThem) {
    Bench b(31);
    const QString elf = testData("mega163_all_memories.elf");
    b.devices.DataBuf[7] = 0x12;
    ASSERT_TRUE(b.io.OpenFile(elf, 3)) << b.host.errors.join('|').toStdString();  // any slot
    EXPECT_EQ(cells(b.devices.ProgBuf, {0, 1, 0x24, 0x5FF, 0x632, 0x633, 0x634}),
              "940C 600 3CC3 9900 CFFF A7 FFFF");
    EXPECT_EQ(cells(b.devices.DataBuf, {0, 1, 4, 5, 7}), "5A 11 44 FF FF");
    // The fuse and lock bytes 2E F9 FC: tests/app, GridEditingTest (the undo of a load).
    EXPECT_TRUE(b.fuses.mega163.bodlevel && b.fuses.mega163.lb2);  // the page shows them
    EXPECT_EQ(b.view.labels, QStringList({"1=" + elf, "2=" + elf}));
    EXPECT_TRUE(b.host.asked.isEmpty() && b.host.errors.isEmpty());

    // avr-objcopy's Intel HEX of the same program holds the same flash and EEPROM.
    Bench h(31);
    ASSERT_TRUE(h.io.OpenFile(testData("mega163_all_memories.flash.hex"), 1));
    ASSERT_TRUE(h.io.OpenFile(testData("mega163_all_memories.eep.hex"), 2));
    EXPECT_TRUE(h.devices.ProgBuf == b.devices.ProgBuf && h.devices.DataBuf == b.devices.DataBuf);

    // A card that cannot hold the program refuses it.
    for (const auto& [card, file, reason] : std::vector<std::tuple<int, const char*, QString>>{
             {22, "mega163_all_memories.elf",
              "Section .text (3174 bytes at 0x0) does not fit the flash of the card (2048 bytes): "
              "data at 0x800 lands in no memory of the card"},
             {10, "at90s2323_fuse_lock.elf", "An AVR program does not fit this card's controller"},
             {30, "at90s2323_fuse_lock.elf",
              "Section .fuse at 0x820000: the card has no fuse bytes"}}) {
        Bench r(card);
        EXPECT_FALSE(r.io.OpenFile(testData(file), 1));
        EXPECT_EQ(r.host.errors, QStringList{"File: " + testData(file) +
                                             "\r\rError in ELF file\r(" + reason + ")"})
            << card;
    }
}

// The AT90S2323 program sets FSTRT (bit 0 of its fuse byte, 0xFE) and lock bit 1 (0xFE); on the
// AT90S8535 card FSTRT is bit 2. Cards of another signature ask first. A value the user named
// stays, and the note says which value of the file it replaced.
TEST(ElfReader, FuseAndLockBitsReachTheAt90sPage) {
    const QString elf = testData("at90s2323_fuse_lock.elf");
    struct Case {
        int card;
        bool start, fuse, lock1, lock2;  // every box of the page before and after the load
        QString warning;
        const char* kept = nullptr;  // the user's own lock bits
    };
    const QString warn = "Warning: File: " + elf +
                         "\r\rThe program is made for the controller with signature 1E9102, the "
                         "card's %1 has %2.\rLoad it anyway?";
    const std::vector<Case> cases = {
        {22, false, true, true, false, {}},
        {21, true, false, true, false, warn.arg("AT 90S8535", "1E9303")},
        {23, false, true, true, false, warn.arg("AT 90S2343", "1E9103")},
        {22, false, true, false, false, {}, "--lock-bits"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.card);
        Bench b(c.card);
        b.fuses.avr.avrFuse = b.fuses.avr.lockBit1 = b.fuses.avr.lockBit2 = c.start;
        if (c.kept) b.io.KeepFuses({c.kept, {}, {}});
        ASSERT_TRUE(b.io.OpenFile(elf, 1));
        EXPECT_EQ(std::tuple(b.fuses.avr.avrFuse, b.fuses.avr.lockBit1, b.fuses.avr.lockBit2),
                  std::tuple(c.fuse, c.lock1, c.lock2));
        EXPECT_EQ(cells(b.devices.DataBuf, {0, 1, 2, 3}), "C0 FF EE FF");
        EXPECT_EQ(cells(b.devices.ProgBuf, {0, 0x1B, 0x1C}), "C002 CFFF FFFF");
        EXPECT_EQ(b.host.asked.join('|'), c.warning);
        EXPECT_EQ(b.io.TakeFuseNotes(),
                  c.kept ? QStringList{"--lock-bits replaces the lock byte 0xFE of " + elf}
                         : QStringList());
    }
    // Abort at the warning: nothing changes and nothing more is said.
    Bench b(23);
    b.host.answerOk = false;
    EXPECT_FALSE(b.io.OpenFile(elf, 1));
    EXPECT_EQ(b.host.asked.size(), 1);
    EXPECT_TRUE(b.host.errors.isEmpty() && b.view.labels.isEmpty());
    EXPECT_EQ(cells(b.devices.ProgBuf, {0}), "FFFF");
    EXPECT_TRUE(b.fuses.avr.avrFuse && b.fuses.avr.lockBit1 && b.fuses.avr.lockBit2);
}

}  // namespace
}  // namespace kelvano::test
