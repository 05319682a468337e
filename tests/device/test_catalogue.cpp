#include <gtest/gtest.h>

#include <set>

#include "device/uDevices.h"

using namespace kelvano;

TEST(Catalogue, MenuOrderSeparatorsAndCode30) {
    const auto lines = devicesMenuLines();
    std::vector<int> codes;
    for (const auto& l : lines) codes.push_back(l.code);
    EXPECT_EQ(codes, (std::vector<int>{15, 10, 13, 14, 0, 11, 12, 0, 22, 23, 0, 21, 0, 20, 24,
                                       25, 26, 0, 31}));
    EXPECT_EQ(lines[1].caption, "Brelmont PIC (PIC16F84 + 24C16)");
    EXPECT_EQ(lines[4].caption, "-");
    ASSERT_NE(findDevice(30), nullptr);
    EXPECT_EQ(findDevice(30)->menuPosition, 0);
    EXPECT_EQ(findDevice(16), nullptr);
    EXPECT_EQ(findDevice(27), nullptr);
    std::set<int> all;
    for (const auto& row : catalogue()) all.insert(row.code);
    EXPECT_EQ(all.size(), 15u);
}

TEST(Catalogue, ApplyBuffersPerFamily) {
    TDevices d;
    d.DeviceId = 10;
    d.CfgWord = 0x1234;
    d.ApplyBuffers();
    EXPECT_EQ(d.ProgBuf.length(), 1024);
    EXPECT_EQ(d.DataBuf.length(), 64);
    EXPECT_EQ(d.EepBuf.length(), 2048);
    EXPECT_EQ(d.CfgWord, 0x3FFF);
    EXPECT_EQ(d.ProgBlank, 0x3FFFu);
    EXPECT_EQ(d.IdBuf.length(), 5);
    EXPECT_EQ(d.IdBuf[4], 0x000F);
    EXPECT_EQ(d.ProgBuf[1023], 0x3FFF);
    EXPECT_EQ(d.pGrid.rowCount(), 128);
    EXPECT_EQ(d.pGrid.mode(), ViewMode::PicWords8);
    EXPECT_EQ(d.dGrid.rowCount(), 4);
    EXPECT_EQ(d.dGrid.fitRows(), 5);  // header + four rows
    EXPECT_EQ(d.eGrid.rowCount(), 128);

    d.DeviceId = 11;
    d.ApplyBuffers();
    EXPECT_EQ(d.ProgBuf.length(), 8192);
    EXPECT_EQ(d.DataBuf.length(), 256);
    EXPECT_EQ(d.dGrid.fitRows(), 0);  // seven rows that scroll

    d.DeviceId = 26;
    d.CfgWord = 0x0001;
    d.FuseLow = 0x12;
    d.ApplyBuffers();
    EXPECT_EQ(d.ProgBuf.length(), 4096);
    EXPECT_EQ(d.ProgBuf[0], 0xFFFF);
    EXPECT_EQ(d.ProgBlank, 0xFFFFu);
    EXPECT_EQ(d.EepBuf.length(), 65536);
    EXPECT_EQ(d.eGrid.rowCount(), 4096);
    EXPECT_EQ(d.pGrid.mode(), ViewMode::AvrWords8);
    EXPECT_EQ(d.CfgWord, 0x0001);  // PIC values are not touched for AVR cards
    EXPECT_EQ(d.FuseLow, 0x12);

    d.DeviceId = 30;
    d.ApplyBuffers();
    EXPECT_EQ(d.ProgBuf.length(), 8192);
    EXPECT_EQ(d.DataBuf.length(), 512);
    EXPECT_EQ(d.EepBuf.length(), 8192);
}

TEST(Catalogue, UnknownCodesFallBackToTheDefaultCard) {
    for (int code : {0, 16, 27, 28, 29, 99, -5}) {
        TDevices d;
        d.DeviceId = code;
        d.ApplyBuffers();
        EXPECT_EQ(d.DeviceId, 10) << code;
        EXPECT_EQ(d.EepBuf.length(), 2048) << code;
    }
}

TEST(Catalogue, ReapplyingBlanksTheBuffers) {
    TDevices d;
    d.DeviceId = 15;
    d.ApplyBuffers();
    d.ProgBuf[3] = 0x1234;
    d.DataBuf[0] = 0x00;
    d.EepBuf[5] = 0x00;
    d.IdBuf[0] = 1;
    d.ApplyBuffers();
    EXPECT_EQ(d.ProgBuf[3], 0x3FFF);
    EXPECT_EQ(d.DataBuf[0], 0xFF);
    EXPECT_EQ(d.EepBuf[5], 0xFF);
    EXPECT_EQ(d.IdBuf[0], 0x0F);
    EXPECT_EQ(d.pGrid.hex(0), QString("3FFF  ").repeated(8));
}

TEST(Catalogue, ActionTextsByFamily) {
    EXPECT_EQ(openHint(10, 1), "Open PIC Flash + internal EEPROM <1>");
    EXPECT_EQ(openHint(10, 2), "Open external EEPROM <2>");
    EXPECT_TRUE(openHint(10, 3).isEmpty());
    EXPECT_EQ(openHint(28, 1), "Open AVR Flash memory <1>");  // 27..29 get the AVR texts
    EXPECT_EQ(saveHint(31, 3), "Save external EEPROM <3>");
    EXPECT_EQ(saveHint(20, 2), "Save AVR internal EEPROM <2>");
    EXPECT_TRUE(saveHint(16, 1).isEmpty());
}
