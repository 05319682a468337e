// Every built-in card dump layout, each alone: its fixed bytes, where its count byte stands
// and which bytes give the block address.
#include <gtest/gtest.h>

#include "Recorders.h"

namespace kelvano::test {
namespace {

TEST(CardDumpLayouts, EveryBuiltInLayoutLoadsItsBlockAtItsAddress) {
    const struct {
        const char* line;
        int address;
        const char* cells;  // address - 1, address, address + 1, address + 2
    } rows[] = {
        {"01 02 FF 00 00 04 01 10 A1 B2", 0x0110, "FF A1 B2 FF"},
        {"01 02 FF 03 0D 04 02 23 5A C3", 0x0223, "FF 5A C3 FF"},
        {"01 02 FF 0A 05 05 34 56 0F F0 3C", 0x3456, "FF F F0 3C"},
        {"01 FF 00 00 00 04 45 67 96 69", 0x4567, "FF 96 69 FF"},
        {"01 02 23 56 78 02 81 18", 0x5678, "FF 81 18 FF"},
        {"C1 FF 67 89 02 E7 7E", 0x6789, "FF E7 7E FF"},
    };
    for (const auto& r : rows) {
        Bench b(26);  // a 64 KB external EEPROM
        ASSERT_TRUE(b.io.OpenFile(b.write("card.crd", QByteArray(r.line) + "\r\n"), 3)) << r.line;
        EXPECT_EQ(cells(b.devices.EepBuf, {r.address - 1, r.address, r.address + 1, r.address + 2}),
                  r.cells)
            << r.line;
    }
}

}  // namespace
}  // namespace kelvano::test
