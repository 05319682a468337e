#include <gtest/gtest.h>

#include "base/Host.h"
#include "device/uDevices.h"

using namespace kelvano;

namespace {
struct CountingHost : Host {
    int pumps = 0;
    void showError(const QString&) override {}
    bool askOkAbort(const QString&, const QString&) override { return true; }
    void beep() override {}
    void processEvents() override { ++pumps; }
};
}  // namespace

// Each view of a row: PIC words masked to 14 bits with their low byte as text, AVR words with
// both bytes as text, bytes masked to 8 bits.
TEST(DumpGrid, ViewsMaskAndSplitElementsAndFillOnlyFullRows) {
    // View, buffer's last element and blank value, the element set and its value, the row shown.
    const std::tuple<ViewMode, int, uint32_t, int, uint16_t, const char*, const char*> views[] = {
        {ViewMode::PicWords8, 7, 0xFFFF, 1, 0x0141,
         "3FFF  0141  3FFF  3FFF  3FFF  3FFF  3FFF  3FFF  ", ".A......"},
        {ViewMode::AvrWords8, 7, 0xFFFF, 0, 0x4142,
         "4142  FFFF  FFFF  FFFF  FFFF  FFFF  FFFF  FFFF  ", "AB.............."},
        {ViewMode::Bytes16, 15, 0x20, 0, 0x1241, "41 20 20 20 20 20 20 20 20 20 20 20 20 20 20 20 ",
         "A               "},
    };
    DumpGrid grid(1);
    for (const auto& [mode, last, blank, at, value, hex, text] : views) {
        TBufArray buffer;
        ResizeFill(buffer, last, blank);
        buffer[at] = value;
        SetupGrid(grid, 0, mode);
        ShowBuffer(buffer, grid, mode);
        EXPECT_EQ(grid.hex(0), hex);
        EXPECT_EQ(grid.text(0), text);
    }
    EXPECT_EQ(HexByte(0x0F) + HexWord(0x00AB), "0F 00AB  ");
    const std::pair<int, const char*> chars[] = {{0x7D, "."}, {0x7E, "."}, {0x7F, "."}, {0x20, " "},
                                                 {0x7C, "|"}, {0x1F, "."}, {0xFF, "."}};
    for (const auto& [code, shown] : chars) EXPECT_EQ(AsciiChar(code), shown) << code;
    EXPECT_EQ(grid.header(0), "ADR");
    EXPECT_EQ(grid.header(2), "ASCII");
    SetupGrid(grid, 127, ViewMode::PicWords8);
    EXPECT_EQ(grid.header(1), "+0    +1    +2    +3    +4    +5    +6    +7");
    EXPECT_EQ(grid.address(127), "03F8:");

    // A short buffer fills only its full rows; a large one pumps events while it fills.
    SetupGrid(grid, 3, ViewMode::Bytes16);
    TBufArray small;
    ResizeFill(small, 20, 0x00);  // one full row and a few bytes
    ShowBuffer(small, grid, ViewMode::Bytes16);
    EXPECT_EQ(grid.hex(0), QString("00 ").repeated(16));
    EXPECT_TRUE(grid.hex(1).isEmpty());

    CountingHost host;
    TBufArray big;
    ResizeFill(big, 65535, 0xFF);
    SetupGrid(grid, 4095, ViewMode::Bytes16);
    int changedRows = 0;
    QObject::connect(&grid, &DumpGrid::rowsChanged,
                     [&](int first, int last) { changedRows += last - first + 1; });
    ShowBuffer(big, grid, ViewMode::Bytes16, &host);
    EXPECT_EQ(changedRows, 4096);
    EXPECT_GT(host.pumps, 0);
    EXPECT_EQ(grid.address(1), "0010:");
    EXPECT_EQ(grid.address(4095), "FFF0:");
}
