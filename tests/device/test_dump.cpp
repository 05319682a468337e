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

TEST(HexTexts, MaskingAndCharacterRange) {
    EXPECT_EQ(HexByte(0x0F) + HexWord(0x00AB), "0F 00AB  ");
    const std::pair<int, const char*> chars[] = {{0x7D, "."}, {0x7E, "."}, {0x7F, "."}, {0x20, " "},
                                                 {0x7C, "|"}, {0x1F, "."}, {0xFF, "."}};
    for (const auto& [code, shown] : chars) EXPECT_EQ(AsciiChar(code), shown) << code;
}

TEST(DumpGrid, ViewsMaskAndSplitElements) {
    DumpGrid grid(1);
    TBufArray pic;
    ResizeFill(pic, 7, 0xFFFF);
    pic[1] = 0x0141;
    SetupGrid(grid, 0, ViewMode::PicWords8);
    ShowBuffer(pic, grid, ViewMode::PicWords8);
    EXPECT_EQ(grid.hex(0), "3FFF  0141  3FFF  3FFF  3FFF  3FFF  3FFF  3FFF  ");
    EXPECT_EQ(grid.text(0), ".A......");
    EXPECT_EQ(grid.header(1), "+0    +1    +2    +3    +4    +5    +6    +7");
    SetupGrid(grid, 127, ViewMode::PicWords8);
    EXPECT_EQ(grid.address(127), "03F8:");

    TBufArray avr;
    ResizeFill(avr, 7, 0xFFFF);
    avr[0] = 0x4142;
    SetupGrid(grid, 0, ViewMode::AvrWords8);
    ShowBuffer(avr, grid, ViewMode::AvrWords8);
    EXPECT_EQ(grid.hex(0).left(12), "4142  FFFF  ");
    EXPECT_EQ(grid.text(0), "AB..............");
    EXPECT_EQ(grid.hex(0).size(), 48);

    TBufArray eep;
    ResizeFill(eep, 15, 0x20);
    eep[0] = 0x1241;
    SetupGrid(grid, 0, ViewMode::Bytes16);
    ShowBuffer(eep, grid, ViewMode::Bytes16);
    EXPECT_EQ(grid.hex(0).left(6), "41 20 ");
    EXPECT_EQ(grid.hex(0).size(), 48);
    EXPECT_EQ(grid.text(0), "A               ");
    EXPECT_EQ(grid.header(0), "ADR");
    EXPECT_EQ(grid.header(2), "ASCII");
}

TEST(DumpGrid, ShortBufferFillsOnlyItsFullRowsAndLargeFillsPumpEvents) {
    DumpGrid grid(3);
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
